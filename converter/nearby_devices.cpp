// Wireless meters the converter has heard: the Scan command, its answer and the table rows.
#include "converter/nearby_devices.h"

#include <cstdio>
#include <cstring>

#include "codec/converter_address.h"
#include "codec/message_codec.h"
#include "converter/slot_data.h"
#include "text/hex_text.h"
#include "text/log.h"

namespace {

constexpr size_t addressLength = 8;
constexpr size_t sortKeyLength = 6;

bool isEmptyEntry(const uint8_t* a) { return a[0] == 0 && a[1] == 0 && a[7] == 0; }

NearbyDevice makeDevice(const uint8_t* address, uint8_t rssi) {
  NearbyDevice d;
  std::memcpy(d.address, address, addressLength);
  d.rssi = rssi;
  const uint8_t key[sortKeyLength] = {address[1], address[0], address[5],
                                      address[4], address[3], address[2]};
  std::memcpy(d.sortKey, key, sortKeyLength);
  const int dbm = rssiToDbm(rssi);
  d.rssiCount = 1;
  d.rssiMinDbm = static_cast<int16_t>(dbm);
  d.rssiMaxDbm = static_cast<int16_t>(dbm);
  d.rssiSumDbm = dbm;
  return d;
}

void countRssi(NearbyDevice& d, uint8_t rssi) {
  const int dbm = rssiToDbm(rssi);
  d.rssi = rssi;
  ++d.rssiCount;
  if (dbm < d.rssiMinDbm) d.rssiMinDbm = static_cast<int16_t>(dbm);
  if (dbm > d.rssiMaxDbm) d.rssiMaxDbm = static_cast<int16_t>(dbm);
  d.rssiSumDbm += dbm;
}

bool sortsBefore(const NearbyDevice& a, const NearbyDevice& b) {
  return std::memcmp(a.sortKey, b.sortKey, sortKeyLength) < 0;
}

}  // namespace

void addNearbyDevice(NearbyDeviceList& list, const uint8_t address[8], uint8_t rssi) {
  if (isConverterRadioAddress(address) || isEmptyEntry(address)) return;
  if (list.count > nearbyCapacity) list.count = nearbyCapacity;
  for (uint32_t i = 0; i < list.count; ++i) {
    if (std::memcmp(list.entries[i].address, address, addressLength) == 0) {
      countRssi(list.entries[i], rssi);
      return;
    }
  }
  if (list.count == nearbyCapacity) {
    // After a sort, entry 0 holds the lowest sort key.
    std::memmove(&list.entries[0], &list.entries[1], (nearbyCapacity - 1) * sizeof(NearbyDevice));
    list.entries[nearbyCapacity - 1] = makeDevice(address, rssi);
    return;
  }
  list.entries[list.count++] = makeDevice(address, rssi);
}

void sortNearbyDevices(NearbyDeviceList& list) {
  const uint32_t count = list.count < nearbyCapacity ? list.count : nearbyCapacity;
  // Insertion sort: a few hundred entries, whole records moved, equal keys keep their order.
  for (uint32_t i = 1; i < count; ++i) {
    const NearbyDevice moving = list.entries[i];
    uint32_t j = i;
    while (j > 0 && sortsBefore(moving, list.entries[j - 1])) {
      list.entries[j] = list.entries[j - 1];
      --j;
    }
    list.entries[j] = moving;
  }
}

NearbyRowTexts nearbyRowTexts(const NearbyDevice& device) {
  const uint8_t* b = device.address;
  NearbyRowTexts row;
  char address[17];
  bytesToHexText(b, addressLength, address);
  row.address = address;
  char letters[4] = {};  // a code without letters shows none
  manufacturerCodeToText(b, letters);
  char id[9];
  idToHexText(b + 2, id);
  char type[3];
  std::snprintf(type, sizeof type, "%02X", b[7]);
  char version[3];
  std::snprintf(version, sizeof version, "%02X", b[6]);
  char description[64];
  std::snprintf(description, sizeof description, "%s ID: %s type: %s version: %s", letters, id, type,
                version);
  row.description = description;
  row.rssi = std::to_string(rssiToDbm(device.rssi));
  return row;
}

int scanNearby(SettingsView& view, CommandChannel& channel) {
  loadKeyFromView(view, channel);
  const uint8_t payload[scanRequestLength] = {converterCommandPrefix0, converterCommandPrefix1,
                                              commandScan};
  return sendConverterCommand(channel, payload, sizeof payload);
}

bool applyScanAnswer(const uint8_t* payload, size_t length, NearbyDeviceList& list,
                     SettingsView& view, Log& log) {
  if (!answerLongEnough(payload, length, scanAnswerLength, "Scan", log)) return false;
  ++list.answers;
  for (int e = 0; e < scanEntryCount; ++e) {
    const uint8_t* entry = payload + scanEntriesOffset + static_cast<size_t>(e) * scanEntryLength;
    addNearbyDevice(list, entry, entry[addressLength]);
  }
  sortNearbyDevices(list);
  for (uint32_t i = 0; i < list.count && i < nearbyCapacity; ++i)
    view.setNearbyRow(static_cast<int>(i), nearbyRowTexts(list.entries[i]));
  return true;
}
