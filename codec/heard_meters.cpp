// The heard-meter table: one row per link address, bounded, the key check's telegram kept.
#include "codec/heard_meters.h"

#include <cstring>

namespace {

uint32_t rowOf(const HeardMeterTable& table, const uint8_t address[linkAddressBytes]) {
  const uint32_t count = table.count < heardMeterCapacity ? table.count : heardMeterCapacity;
  for (uint32_t i = 0; i < count; ++i)
    if (std::memcmp(table.entries[i].address, address, linkAddressBytes) == 0) return i;
  return heardMeterCapacity;
}

}  // namespace

HeardMeter* recordHeardMeter(HeardMeterTable& table, const MeterTelegram& telegram, long long nowMs) {
  const uint32_t at = rowOf(table, telegram.linkAddress);
  HeardMeter* row = at < heardMeterCapacity ? &table.entries[at] : nullptr;
  if (row == nullptr) {
    if (table.count >= heardMeterCapacity) {
      ++table.framesNotListed;
      return nullptr;
    }
    row = &table.entries[table.count++];
    *row = HeardMeter{};
    std::memcpy(row->address, telegram.linkAddress, linkAddressBytes);
    row->firstSeenMs = nowMs;
  }
  ++row->frames;
  row->lastSeenMs = nowMs;
  row->ci = telegram.ci;
  row->securityMode = telegram.securityMode;
  row->accessNumber = telegram.accessNumber;
  const size_t length = telegram.bodyLength < telegramMaxBytes ? telegram.bodyLength : telegramMaxBytes;
  if (telegramEncrypted(telegram) || !row->keptEncrypted) {
    std::memcpy(row->kept, telegram.body, length);
    row->keptLength = static_cast<uint16_t>(length);
    row->keptEncrypted = telegramEncrypted(telegram);
  }
  return row;
}

const HeardMeter* findHeardMeter(const HeardMeterTable& table, const uint8_t address[linkAddressBytes]) {
  const uint32_t at = rowOf(table, address);
  return at < heardMeterCapacity ? &table.entries[at] : nullptr;
}
