// Takes a meter heard by a scan over into a device slot's address fields.
#pragma once
#include "converter/settings_view.h"

class Log;

// After "OK" in "Choose destination meter": row is the double-clicked table row, s the
// chosen slot index 0..3. An empty address text (or a row outside the table) logs
// ">>> Nothing selected\n"; otherwise logs the address and sets "Manuf. ID",
// "Device ID", "Version" and "Media" of slot s. Sends nothing. Returns true when the
// fields were set.
bool chooseDestinationMeter(int row, int s, SettingsView& view, Log& log);
