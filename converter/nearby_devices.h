// Wireless meters the converter has heard: the Scan command, its answer and the table rows.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/command_codes.h"
#include "converter/settings_view.h"

class Log;
struct CommandChannel;

constexpr uint32_t nearbyCapacity = 250;
constexpr int nearbyTableRows = static_cast<int>(nearbyCapacity);  // one row per entry
constexpr size_t scanRequestLength = 3;
constexpr size_t scanAnswerLength = 84;
constexpr size_t scanEntriesOffset = 4;
constexpr size_t scanEntryLength = 10;
constexpr int scanEntryCount = 8;

struct NearbyDevice {
  // link-layer order: manufacturer (2, least significant first), identification number
  // (4, least significant first), version, device type
  uint8_t address[8];
  uint8_t rssi;  // as received
  // manufacturer, then identification number, each most significant byte first
  uint8_t sortKey[6];
  // Every Scan answer's RSSI of this device since it entered the list, in dBm.
  uint32_t rssiCount;
  int16_t rssiMinDbm;
  int16_t rssiMaxDbm;
  int64_t rssiSumDbm;
};

// Never cleared while the program runs; at most nearbyCapacity entries.
struct NearbyDeviceList {
  NearbyDevice entries[nearbyCapacity] = {};
  uint32_t count = 0;
  uint32_t answers = 0;  // Scan answers taken, so an answer naming no device still counts
};

// Skips the converter itself (8F 19 .. 36) and empty entries (manufacturer and device
// type 0); a known address gets the new RSSI, which also counts into its minimum, maximum and
// sum. A full list drops entry 0 and puts the new entry last.
void addNearbyDevice(NearbyDeviceList& list, const uint8_t address[8], uint8_t rssi);

// Ascending by sort key, unsigned bytes; stable.
void sortNearbyDevices(NearbyDeviceList& list);

// "Meter address", "Description" and "RSSI" texts of one entry.
NearbyRowTexts nearbyRowTexts(const NearbyDevice& device);

// "Scan": asks the converter for the meters it hears.
int scanNearby(SettingsView& view, CommandChannel& channel);

// Answer 0F 35 96: merges the eight entries, sorts, and rewrites table rows 0 to
// count - 1. An answer shorter than 84 bytes changes nothing and logs a "<<< Ignored"
// line. Returns true when merged.
bool applyScanAnswer(const uint8_t* payload, size_t length, NearbyDeviceList& list,
                     SettingsView& view, Log& log);
