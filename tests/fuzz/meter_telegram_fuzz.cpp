// Meter telegrams and telegram lines with arbitrary bytes: parsed, counted and key-checked.
//
// Input: a set-up byte (bits 0-1: how the length byte is taken; bit 2: the rest is a text line
// rather than telegram bytes), then the bytes. Invariants: no read past the input (exact-size
// copy), a refusal always says why, an accepted telegram's encrypted part lies inside it, and the
// key check gives one of the seven verdicts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "codec/heard_meters.h"
#include "codec/meter_key_check.h"
#include "codec/meter_telegram.h"
#include "codec/telegram_lines.h"
#include "fuzz_support.h"

namespace {

MeterKeyList& keys() {
  static MeterKeyList* list = [] {
    auto* l = new MeterKeyList();
    l->count = 2;
    const uint8_t id[4] = {0x12, 0x34, 0x56, 0x78};
    std::memcpy(l->entries[0].id, id, 4);
    for (int i = 0; i < 16; ++i) l->entries[0].firstKey[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 16; ++i) l->entries[1].secondKey[i] = static_cast<uint8_t>(0xF0 ^ i);
    return l;
  }();
  return *list;
}

HeardMeterTable& table() {
  static HeardMeterTable* t = new HeardMeterTable();
  return *t;
}

void checkTelegram(const MeterTelegram& telegram, TelegramStatus status) {
  if (status != TelegramStatus::ok) {
    FUZZ_CHECK(telegram.problem[0] != '\0');
    return;
  }
  FUZZ_CHECK(telegram.bodyLength >= 10 && telegram.bodyLength <= telegramMaxBytes);
  FUZZ_CHECK(telegram.encryptedOffset + telegram.encryptedLength <= telegram.bodyLength);
  const KeyCheck check = checkMeterKey(telegram, keys());
  FUZZ_CHECK(static_cast<int>(check.verdict) <= static_cast<int>(KeyVerdict::unsupported));
  FUZZ_CHECK(check.unsupported[sizeof check.unsupported - 1] == '\0');
  if (table().count >= heardMeterCapacity) table() = HeardMeterTable{};
  HeardMeter* row = recordHeardMeter(table(), telegram, 0);
  FUZZ_CHECK(row != nullptr && row->keptLength <= telegramMaxBytes);
  checkHeardMeter(*row, keys());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in{data, size};
  const uint8_t setup = in.byte();
  size_t n = in.left();
  const uint8_t* rest = in.take(n);
  const auto copy = exactCopy(rest, n);
  const LengthByte modes[] = {LengthByte::absent, LengthByte::present, LengthByte::detect, LengthByte::detect};
  if ((setup & 0x04) == 0) {
    MeterTelegram telegram;
    const TelegramStatus status = parseMeterTelegram(copy.get(), n, modes[setup & 0x03], telegram);
    checkTelegram(telegram, status);
    return 0;
  }
  uint8_t bytes[telegramMaxBytes];
  size_t count = 0;
  char why[96];
  const TelegramLine kind =
      telegramFromLine(reinterpret_cast<const char*>(copy.get()), n, bytes, sizeof bytes, count, why, sizeof why);
  FUZZ_CHECK(count <= sizeof bytes);
  if (kind == TelegramLine::refused) FUZZ_CHECK(why[0] != '\0');
  if (kind == TelegramLine::telegram) {
    FUZZ_CHECK(count > 0);
    MeterTelegram telegram;
    checkTelegram(telegram, parseMeterTelegram(bytes, count, LengthByte::detect, telegram));
  }
  return 0;
}
