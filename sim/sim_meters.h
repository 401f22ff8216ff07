// Meters the simulated stick hears: each sends telegrams under its own address, security mode
// (0, 5 or 7) and key at its own interval, and the converter's Scan reports an RSSI that wanders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim_crypto.h"

constexpr size_t simPlayedMeterMax = 32;
constexpr size_t simTelegramMax = 96;

struct SimPlayedMeter {
  uint8_t address[8];  // radio order: manufacturer, id (LSB first), version, device type
  int mode;            // 0, 5 or 7
  uint8_t key[simKeySize];
  int intervalMs;
  int rssiDbm;         // where its signal centres
  int wanderDb;        // how far it strays from there, either way
  int offsetDb;        // where it stands now
  int64_t nextMs;      // next telegram; 0 until placed
  uint8_t access;      // access number of its next telegram
  uint32_t counter;    // AFL message counter of its next mode 7 telegram
  uint32_t volume;     // the value its telegrams carry, rising
};

// One line: "ID MAN VERSION TYPE MODE KEY INTERVAL_MS RSSI_DBM [WANDER_DB]", e.g.
// "12345678 KAM 1B 07 5 000102030405060708090A0B0C0D0E0F 1000 -70 8"; KEY may be "-" for mode 0.
bool simParseMeterLine(const std::string& line, SimPlayedMeter& m, std::string& error);

// The meter's next telegram as the stick delivers it (no length byte, no CRCs), encrypted by
// OpenSSL; advances its access number, counter and value. Returns the length, 0 on failure.
size_t simMeterTelegram(SimPlayedMeter& m, uint8_t* out, size_t cap);

// The RSSI byte a Scan answer reports for it now (signed, dBm = byte / 2 - 74), and one step of
// its wandering (seed is the caller's random state).
uint8_t simMeterRssiByte(SimPlayedMeter& m, uint32_t& seed);
