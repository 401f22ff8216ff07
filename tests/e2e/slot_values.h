// Field values and expected texts shared by the wired and wireless end-to-end tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "converter/settings_view.h"
#include "converter/nearby_devices.h"
#include "converter/slot_data.h"
#include "tests/support/fake_view.h"

namespace e2e {

// Written here rather than taken from the log code, so a wrong dump shows.
inline std::string dump(const std::vector<uint8_t>& bytes) {
  std::string text;
  char item[8];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(item, sizeof item, "0x%02X ", bytes[i]);
    text += item;
    if (i % 16 == 15) text += '\n';
  }
  return text + '\n';
}

// Distinct values for each slot, so a field that lands in the wrong place shows.
inline SlotFields slotValues(int s) {
  static const char* const letters[4] = {"ABC", "ELS", "DME", "ZRI"};
  SlotFields f;
  f.active = s % 2 == 0;
  f.manufacturer = letters[s];
  f.version = s == 1 ? "A7" : "0" + std::to_string(s + 1);
  f.deviceId = s == 2 ? "4711" : "9" + std::to_string(s) + "ABCDEF";
  f.media = "1" + std::to_string(s + 4);
  f.kek = "F0E1D2C3B4A5968778695A4B3C2D1E0" + std::to_string(s);
  f.masterKey = "0" + std::to_string(s) + "112233445566778899AABBCCDDEEFF";
  f.wiredAddress = std::to_string(s == 3 ? 250 : 17 * s);
  f.wirelessProtocol = (s * 5 + 3) % protocolCount;
  f.wirelessMode = (s * 3 + 1) % wirelessModeCount;
  return f;
}

inline WiredSettings wiredValues(int s) {
  WiredSettings w;
  w.protocol = (s * 4 + 2) % protocolCount;
  w.mode = s == 3 ? wiredModeCount - 1 : s + 5;
  return w;
}

inline void expectSameSlot(const SlotFields& got, const SlotFields& want) {
  EXPECT_EQ(got.active, want.active);
  EXPECT_EQ(got.manufacturer, want.manufacturer);
  EXPECT_EQ(got.version, want.version);
  EXPECT_EQ(got.deviceId, want.deviceId);
  EXPECT_EQ(got.media, want.media);
  EXPECT_EQ(got.kek, want.kek);
  EXPECT_EQ(got.masterKey, want.masterKey);
  EXPECT_EQ(got.wiredAddress, want.wiredAddress);
  EXPECT_EQ(got.wirelessProtocol, want.wirelessProtocol);
  EXPECT_EQ(got.wirelessMode, want.wirelessMode);
}

inline size_t countOf(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// The simulator's meters as the table shows them, sorted by manufacturer and identification:
// ABC 0x0443, DME 0x11A5, ELS 0x1593, KAM 0x2C2D; the other converter is left out.
inline void expectNearbyRows(const FakeView& view, const NearbyDeviceList& nearby) {
  ASSERT_EQ(nearby.count, 4u);
  EXPECT_EQ(view.rows[0].address, "4304785634120107");
  EXPECT_EQ(view.rows[0].description, "ABC ID: 12345678 type: 07 version: 01");
  EXPECT_EQ(view.rows[1].address, "A511443322114007");
  EXPECT_EQ(view.rows[1].description, "DME ID: 11223344 type: 07 version: 40");
  EXPECT_EQ(view.rows[2].address, "9315114700000503");
  EXPECT_EQ(view.rows[2].description, "ELS ID: 00004711 type: 03 version: 05");
  EXPECT_EQ(view.rows[3].address, "2D2C214365871B16");
  EXPECT_EQ(view.rows[3].description, "KAM ID: 87654321 type: 16 version: 1B");
  EXPECT_EQ(view.rows[3].rssi, "-102");  // RSSI byte 200
  EXPECT_EQ(view.rows[4].address, "");
}

}  // namespace e2e
