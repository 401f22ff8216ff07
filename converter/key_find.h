// "Key find": a slot's two keys from the meter key list, by its Device ID.
#pragma once
#include <string>

#include "converter/settings_view.h"

struct MeterKeyList;

// The two key texts for a Device ID text (its first 8 digits, text order), as Key find fills
// "Master Key" and "Key Encryption Key". Returns false, changing nothing, when not listed.
bool findDeviceKeys(const std::string& deviceId, const MeterKeyList& meterKeys, std::string& masterKey,
                    std::string& kek);

// Pads a short Device ID with leading "0" (written back), looks its first 8 digits up
// in text order and, when found, fills "Master Key" and "Key Encryption Key". Sends
// and logs nothing. Returns true when keys were found; false also for a slot index
// outside 0..3.
bool findSlotKeys(int s, SettingsView& view, const MeterKeyList& meterKeys);
