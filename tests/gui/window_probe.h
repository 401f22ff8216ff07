// The window's widgets are its own; tests and benchmarks reach them through this probe to read
// or drive them as a user would.
#pragma once
#include "app/quarn_window.h"

struct QuarnWindowProbe {
  QuarnWindow* w;
  auto& optionChecks() const { return w->optionChecks; }
  auto& statusLine() const { return w->statusLine; }
  auto& fontRadios() const { return w->fontRadios; }
  auto& securedMessagesCheck() const { return w->securedMessagesCheck; }
  auto& bigIcon() const { return w->bigIcon; }
  auto& miniIcon() const { return w->miniIcon; }
  auto& nearbyTable() const { return w->nearbyTable; }
  auto& activeChecks() const { return w->activeChecks; }
  auto& manufacturerFields() const { return w->manufacturerFields; }
  auto& versionFields() const { return w->versionFields; }
  auto& deviceIdFields() const { return w->deviceIdFields; }
  auto& mediaFields() const { return w->mediaFields; }
  auto& kekFields() const { return w->kekFields; }
  auto& masterKeyFields() const { return w->masterKeyFields; }
  auto& wirelessProtocolLists() const { return w->wirelessProtocolLists; }
  auto& wirelessModeLists() const { return w->wirelessModeLists; }
  auto& wiredAddressCombos() const { return w->wiredAddressCombos; }
  auto& wiredProtocolList() const { return w->wiredProtocolList; }
  auto& wiredModeList() const { return w->wiredModeList; }
  auto& converterKeyField() const { return w->converterKeyField; }
  auto& converterIdField() const { return w->converterIdField; }
  auto& logView() const { return w->logView; }
  auto& communicationLog() const { return w->communicationLog; }
  auto& logFont() const { return w->logFont; }
  auto& fileFolder() const { return w->fileFolder; }
  auto& surveyTab() const { return w->surveyTab; }
};

inline QuarnWindowProbe probe(QuarnWindow* w) { return {w}; }
