// The settings fields as plain records: the view of a job that runs without a window.
#pragma once
#include <string>

#include "converter/nearby_devices.h"
#include "converter/settings_view.h"
#include "converter/slot_data.h"

class RecordView : public SettingsView {
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
