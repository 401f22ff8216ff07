// "Key find": a slot's two keys from the meter key list, by its Device ID.
#include "converter/key_find.h"

#include "codec/key_list.h"
#include "converter/slot_data.h"
#include "text/hex_text.h"

bool findDeviceKeys(const std::string& deviceId, const MeterKeyList& meterKeys, std::string& masterKey,
                    std::string& kek) {
  uint8_t id[4] = {};
  hexTextToBytes(deviceId.c_str(), id, sizeof id);  // text order, no reversal
  const MeterKeyEntry* entry = findMeterKeys(meterKeys, id);
  if (entry == nullptr) return false;
  char key[33];
  keyToHexText(entry->firstKey, key);
  masterKey = key;
  keyToHexText(entry->secondKey, key);
  kek = key;
  return true;
}

bool findSlotKeys(int s, SettingsView& view, const MeterKeyList& meterKeys) {
  if (s < 0 || s >= slotCount) return false;
  SlotFields fields = view.readSlot(s);
  if (padDeviceIdText(fields.deviceId)) view.setDeviceIdText(s, fields.deviceId);
  if (!findDeviceKeys(fields.deviceId, meterKeys, fields.masterKey, fields.kek)) return false;
  view.writeSlot(s, fields);
  return true;
}
