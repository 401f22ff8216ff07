// Meter key check: candidate keys tried on the first encrypted block of a telegram.
#include "codec/meter_key_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "codec/heard_meters.h"
#include "crypto/aes.h"
#include "text/printf_format.h"

namespace {

constexpr uint8_t fillByte = 0x2F;
constexpr uint8_t modeAesCbcIv = 5;
constexpr uint8_t modeAesCbcNoIv = 7;
constexpr uint8_t derivationEncryption = 0x00;  // the same constant as the converter's air messages
constexpr uint8_t keyDerivationA = 1;           // bits 4-5 of mode 7's extension byte
constexpr size_t idOffset = 2;                  // in a radio-order address
constexpr size_t accessRepeats = 8;

bool isZeroKey(const uint8_t key[16]) {
  for (size_t i = 0; i < 16; ++i)
    if (key[i] != 0) return false;
  return true;
}

// The entry id as typed (most significant first) against the address's id (least first).
bool entryNamesMeter(const MeterKeyEntry& entry, const uint8_t address[linkAddressBytes]) {
  for (size_t i = 0; i < 4; ++i)
    if (entry.id[i] != address[idOffset + 3 - i]) return false;
  return true;
}

void reversedKey(const uint8_t key[16], uint8_t out[16]) {
  for (size_t i = 0; i < 16; ++i) out[i] = key[15 - i];
}

KeyCheck found(KeyVerdict verdict, const MeterKeyEntry& entry, bool second, const uint8_t key[16]) {
  KeyCheck check;
  check.verdict = verdict;
  check.entryKnown = true;
  std::memcpy(check.entryId, entry.id, 4);
  check.secondKey = second;
  check.kcvKnown = true;
  keyCheckValue(key, check.kcv);
  return check;
}

QUARN_PRINTF(1, 2) KeyCheck unsupportedCheck(const char* format, ...) {
  KeyCheck check;
  check.verdict = KeyVerdict::unsupported;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(check.unsupported, sizeof check.unsupported, format, arguments);
  va_end(arguments);
  return check;
}

// An entry's two keys; the second only when the line had one (an absent one reads as zero).
bool tryEntry(const MeterTelegram& t, const MeterKeyEntry& entry, bool reverse, bool& second, uint8_t used[16]) {
  const uint8_t* keys[2] = {entry.firstKey, entry.secondKey};
  for (int k = 0; k < 2; ++k) {
    if (k == 1 && isZeroKey(entry.secondKey)) break;
    if (reverse) reversedKey(keys[k], used);
    else std::memcpy(used, keys[k], 16);
    if (telegramDecryptsWith(t, used)) {
      second = k == 1;
      return true;
    }
  }
  return false;
}

}  // namespace

const char* keyVerdictText(KeyVerdict verdict) {
  switch (verdict) {
    case KeyVerdict::right: return "right";
    case KeyVerdict::wrong: return "wrong";
    case KeyVerdict::reversed: return "reversed";
    case KeyVerdict::otherEntry: return "other-entry";
    case KeyVerdict::noKey: return "no-key";
    case KeyVerdict::plain: return "plain";
    case KeyVerdict::unsupported: return "unsupported";
  }
  return "unsupported";
}

void keyCheckValue(const uint8_t key[16], uint8_t kcv[keyCheckValueBytes]) {
  AesKeySchedule schedule;
  aesExpandKey(key, schedule);
  uint8_t block[aesBlockSize] = {};
  aesEncryptBlock(block, block, schedule);
  std::memcpy(kcv, block, keyCheckValueBytes);
}

bool telegramDecryptsWith(const MeterTelegram& t, const uint8_t key[16]) {
  if (!telegramEncrypted(t) || t.encryptedOffset + aesBlockSize > t.bodyLength) return false;
  uint8_t iv[aesBlockSize] = {};
  uint8_t blockKey[16];
  if (t.securityMode == modeAesCbcIv) {
    std::memcpy(iv, t.meterAddress, linkAddressBytes);
    std::memset(iv + linkAddressBytes, t.accessNumber, accessRepeats);
    std::memcpy(blockKey, key, 16);
  } else {
    uint8_t derivation[aesBlockSize];
    buildDerivationBlock(derivation, derivationEncryption, t.meterAddress + idOffset, t.aflCounter);
    aesCmac(key, derivation, aesBlockSize, blockKey);
  }
  AesKeySchedule schedule;
  aesExpandKey(blockKey, schedule);
  uint8_t plain[aesBlockSize];
  aesCbcDecrypt(t.body + t.encryptedOffset, plain, aesBlockSize, iv, schedule);
  return plain[0] == fillByte && plain[1] == fillByte;
}

KeyCheck checkMeterKey(const MeterTelegram& t, const MeterKeyList& keys) {
  if (t.header == TransportHeader::unknown) return unsupportedCheck("CI 0x%02X", unsigned(t.ci));
  if (t.securityMode != 0 && t.securityMode != modeAesCbcIv && t.securityMode != modeAesCbcNoIv)
    return unsupportedCheck("mode %u", unsigned(t.securityMode));
  if (t.securityMode == modeAesCbcNoIv && !t.aflCounterPresent)
    return unsupportedCheck("mode 7 without an AFL message counter");
  if (t.securityMode == modeAesCbcNoIv && ((t.configExtension >> 4) & 0x03) != keyDerivationA)
    return unsupportedCheck("mode 7 key derivation %u", (t.configExtension >> 4) & 0x03u);
  if (!telegramEncrypted(t)) {
    KeyCheck check;
    check.verdict = KeyVerdict::plain;
    return check;
  }
  const uint32_t count = keys.count < keyListCapacity ? keys.count : keyListCapacity;
  uint8_t used[16];
  bool second = false;
  const MeterKeyEntry* own = nullptr;
  for (int reverse = 0; reverse < 2; ++reverse) {
    for (uint32_t i = 0; i < count; ++i) {
      const MeterKeyEntry& entry = keys.entries[i];
      if (!entryNamesMeter(entry, t.meterAddress)) continue;
      if (own == nullptr) own = &entry;
      if (tryEntry(t, entry, reverse != 0, second, used))
        return found(reverse != 0 ? KeyVerdict::reversed : KeyVerdict::right, entry, second, used);
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    const MeterKeyEntry& entry = keys.entries[i];
    if (entryNamesMeter(entry, t.meterAddress)) continue;
    if (tryEntry(t, entry, false, second, used)) return found(KeyVerdict::otherEntry, entry, second, used);
  }
  KeyCheck check;
  if (own == nullptr) return check;  // no-key
  check.verdict = KeyVerdict::wrong;
  check.entryKnown = true;
  std::memcpy(check.entryId, own->id, 4);
  check.kcvKnown = true;
  keyCheckValue(own->firstKey, check.kcv);
  return check;
}

KeyCheck checkHeardMeter(const HeardMeter& meter, const MeterKeyList& keys) {
  MeterTelegram telegram;
  if (parseMeterTelegram(meter.kept, meter.keptLength, LengthByte::absent, telegram) != TelegramStatus::ok)
    return unsupportedCheck("telegram: %s", telegram.problem);
  return checkMeterKey(telegram, keys);
}
