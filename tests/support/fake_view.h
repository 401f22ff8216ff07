// The settings fields as plain members, for tests that drive the converter logic without a window.
#pragma once
#include <string>

#include "converter/settings_view.h"

class FakeView : public SettingsView {
public:
  static constexpr int slotTotal = 4;
  static constexpr int optionTotal = 8;
  static constexpr int nearbyRowTotal = 250;

  SlotFields slots[slotTotal];
  WiredSettings wired;
  std::string keyText;
  std::string idText;
  bool dialogOpen = false;
  bool checks[optionTotal] = {};
  NearbyRowTexts rows[nearbyRowTotal];

  // How often each kind of field was written, so tests can wait for an answer to land.
  int slotWrites[slotTotal] = {};
  int deviceIdWrites = 0;
  int wiredWrites = 0;
  int idWrites = 0;
  int keyWrites = 0;
  int checkWrites = 0;
  int rowWrites = 0;
  int badIndexWrites = 0;  // calls with a slot, check or row index outside its table

  SlotFields readSlot(int s) override { return slots[clampSlot(s)]; }
  void writeSlot(int s, const SlotFields& fields) override {
    slots[clampSlot(s)] = fields;
    ++slotWrites[clampSlot(s)];
  }
  void setDeviceIdText(int s, const std::string& text) override {
    slots[clampSlot(s)].deviceId = text;
    ++deviceIdWrites;
  }
  WiredSettings readWired() override { return wired; }
  void writeWired(const WiredSettings& w) override {
    wired = w;
    ++wiredWrites;
  }
  std::string converterKeyText() override { return keyText; }
  void setConverterKeyText(const std::string& text) override {
    keyText = text;
    ++keyWrites;
  }
  void setConverterIdText(const std::string& text) override {
    idText = text;
    ++idWrites;
  }
  bool optionDialogOpen() override { return dialogOpen; }
  void setOptionCheck(int index, bool ticked) override {
    if (index >= 0 && index < optionTotal) checks[index] = ticked;
    else ++badIndexWrites;
    ++checkWrites;
  }
  std::string nearbyAddressText(int row) override { return rows[clampRow(row)].address; }
  void setNearbyRow(int row, const NearbyRowTexts& texts) override {
    rows[clampRow(row)] = texts;
    ++rowWrites;
  }

private:
  // An index outside a table is counted and lands on an edge entry, so a test can fail on it
  // instead of writing past the array.
  int clampSlot(int s) { return clamp(s, slotTotal); }
  int clampRow(int r) { return clamp(r, nearbyRowTotal); }
  int clamp(int i, int size) {
    if (i >= 0 && i < size) return i;
    ++badIndexWrites;
    return i < 0 ? 0 : size - 1;
  }
};
