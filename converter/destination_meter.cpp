// Takes a meter heard by a scan over into a device slot's address fields.
#include "converter/destination_meter.h"

#include <cstdio>
#include <string>

#include "converter/nearby_devices.h"
#include "converter/slot_data.h"
#include "text/hex_text.h"
#include "text/log.h"

bool chooseDestinationMeter(int row, int s, SettingsView& view, Log& log) {
  if (s < 0 || s >= slotCount) return false;
  std::string address;
  if (row >= 0 && row < nearbyTableRows) address = view.nearbyAddressText(row);
  if (address.empty()) {
    log.logText(">>> Nothing selected\n", logStylePlain);
    return false;
  }
  std::string line = "Sending data [" + address + "] to meter " + std::to_string(s + 1) + "\n";
  log.logText(line.c_str(), logStylePlain);

  uint8_t b[8] = {};  // a short text leaves the missing bytes 0
  hexTextToBytes(address.c_str(), b, sizeof b);
  SlotFields fields = view.readSlot(s);
  char letters[4] = {};
  manufacturerCodeToText(b, letters);
  fields.manufacturer = letters;
  char text[9];
  idToHexText(b + 2, text);
  fields.deviceId = text;
  std::snprintf(text, sizeof text, "%02X", b[6]);
  fields.version = text;
  std::snprintf(text, sizeof text, "%02X", b[7]);
  fields.media = text;
  view.writeSlot(s, fields);
  return true;
}
