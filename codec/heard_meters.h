// Every meter whose telegrams were heard (over the air or read from a file): a fixed table of
// 250, each with its counts, its last header and the telegram its key check runs on.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/meter_telegram.h"

constexpr uint32_t heardMeterCapacity = 250;  // as many as the converter's nearby list

struct HeardMeter {
  uint8_t address[linkAddressBytes] = {};  // link address, radio order
  uint32_t frames = 0;
  long long firstSeenMs = 0;
  long long lastSeenMs = 0;
  uint8_t ci = 0;  // of the last telegram (the transport layer's, after an AFL)
  uint8_t securityMode = 0;
  uint8_t accessNumber = 0;
  // The telegram the key check runs on (from the C field on): the last encrypted one, or the
  // last one while none was encrypted.
  uint8_t kept[telegramMaxBytes] = {};
  uint16_t keptLength = 0;
  bool keptEncrypted = false;
};

// The first 250 meters heard keep their rows; frames of any further meter are only counted.
struct HeardMeterTable {
  HeardMeter entries[heardMeterCapacity] = {};
  uint32_t count = 0;
  uint32_t framesNotListed = 0;
};

// Counts a parsed telegram (status ok) under its link address, at nowMs. Returns its row, or
// nullptr when the table is full and the meter new.
HeardMeter* recordHeardMeter(HeardMeterTable& table, const MeterTelegram& telegram, long long nowMs);

// The row of an address, or nullptr.
const HeardMeter* findHeardMeter(const HeardMeterTable& table, const uint8_t address[linkAddressBytes]);
