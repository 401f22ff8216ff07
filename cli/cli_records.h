// quarn-cli's plain implementations of the window's two seams: the settings fields and the log.
#pragma once
#include <cstdio>
#include <string>

#include "cli/log_file.h"
#include "converter/nearby_devices.h"
#include "converter/settings_view.h"
#include "converter/slot_data.h"
#include "text/log.h"

// The settings fields as records.
class CliView : public SettingsView {
public:
  SlotFields slots[slotCount];
  WiredSettings wired;
  std::string keyText;
  std::string idText;
  NearbyRowTexts rows[nearbyTableRows];

  SlotFields readSlot(int s) override { return slots[clampSlot(s)]; }
  void writeSlot(int s, const SlotFields& fields) override { slots[clampSlot(s)] = fields; }
  void setDeviceIdText(int s, const std::string& text) override { slots[clampSlot(s)].deviceId = text; }
  WiredSettings readWired() override { return wired; }
  void writeWired(const WiredSettings& w) override { wired = w; }
  std::string converterKeyText() override { return keyText; }
  void setConverterKeyText(const std::string& text) override { keyText = text; }
  void setConverterIdText(const std::string& text) override { idText = text; }
  // No dialog: option answers only update the option record.
  bool optionDialogOpen() override { return false; }
  void setOptionCheck(int, bool) override {}
  std::string nearbyAddressText(int row) override { return rows[clampRow(row)].address; }
  void setNearbyRow(int row, const NearbyRowTexts& texts) override { rows[clampRow(row)] = texts; }

private:
  static int clampSlot(int s) { return s < 0 ? 0 : s >= slotCount ? slotCount - 1 : s; }
  static int clampRow(int r) { return r < 0 ? 0 : r >= nearbyTableRows ? nearbyTableRows - 1 : r; }
};

// The byte log in the window's text form, to a file and, when verbose, to standard error.
class CliLog : public Log {
public:
  LogFile* file = nullptr;
  bool verbose = false;

  void logText(const char* text, int style) override;
  void logTimestamp() override;
  void logHexDump(const uint8_t* bytes, size_t count, int style) override;
  void clearLog() override {}

private:
  void put(const std::string& text);
  bool lineOpen_ = false;  // the last text did not end its line
};
