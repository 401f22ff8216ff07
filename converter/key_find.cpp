// "Key find": a slot's two keys from the meter key list, by its Device ID.
#include "converter/key_find.h"

#include "codec/key_list.h"
#include "converter/slot_data.h"
#include "text/hex_text.h"

bool findSlotKeys(int s, SettingsView& view, const MeterKeyList& meterKeys) {
  if (s < 0 || s >= slotCount) return false;
  SlotFields fields = view.readSlot(s);
  if (padDeviceIdText(fields.deviceId)) view.setDeviceIdText(s, fields.deviceId);
  uint8_t id[4] = {};
  hexTextToBytes(fields.deviceId.c_str(), id, sizeof id);  // text order, no reversal
  const MeterKeyEntry* entry = findMeterKeys(meterKeys, id);
  if (entry == nullptr) return false;
  char key[33];
  keyToHexText(entry->firstKey, key);
  fields.masterKey = key;
  keyToHexText(entry->secondKey, key);
  fields.kek = key;
  view.writeSlot(s, fields);
  return true;
}
