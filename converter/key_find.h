// "Key find": a slot's two keys from the meter key list, by its Device ID.
#pragma once
#include "converter/settings_view.h"

struct MeterKeyList;

// Pads a short Device ID with leading "0" (written back), looks its first 8 digits up
// in text order and, when found, fills "Master Key" and "Key Encryption Key". Sends
// and logs nothing. Returns true when keys were found; false also for a slot index
// outside 0..3.
bool findSlotKeys(int s, SettingsView& view, const MeterKeyList& meterKeys);
