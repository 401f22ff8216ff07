// Which key decrypts a meter's telegram: its own keys from meterKeys/, the same reversed, or
// another entry's; keys are only ever shown by their key check value.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/key_list.h"
#include "codec/meter_telegram.h"

enum class KeyVerdict : uint8_t { right, wrong, reversed, otherEntry, noKey, plain, unsupported };

// "right", "wrong", "reversed", "other-entry", "no-key", "plain", "unsupported".
const char* keyVerdictText(KeyVerdict verdict);

constexpr size_t keyCheckValueBytes = 3;

struct KeyCheck {
  KeyVerdict verdict = KeyVerdict::noKey;
  bool entryKnown = false;
  uint8_t entryId[4] = {};  // the meterKeys/ entry whose key decrypted (text order); for wrong: its own
  bool secondKey = false;   // that entry's second key decrypted
  bool kcvKnown = false;
  // right, reversed, other-entry: of the key that decrypted (reversed: as it works, not as listed);
  // wrong: of the meter's own first key as listed
  uint8_t kcv[keyCheckValueBytes] = {};
  char unsupported[40] = {};  // unsupported: the mode or CI, e.g. "mode 13", "CI 0x8D"
};

// First three bytes of AES-128 of a zero block under the key.
void keyCheckValue(const uint8_t key[16], uint8_t kcv[keyCheckValueBytes]);

// Whether the key turns the telegram's first encrypted block into one beginning 2F 2F: mode 5
// with the IV of the meter's address and eight times the access number, mode 7 under the key
// CMAC-derived from the AFL message counter and the meter's identification number, zero IV.
bool telegramDecryptsWith(const MeterTelegram& telegram, const uint8_t key[16]);

// The verdict for a parsed telegram (status ok): plain, unsupported, or the first candidate
// that decrypts: the meter's own entries' keys, the same reversed, then every other entry's.
KeyCheck checkMeterKey(const MeterTelegram& telegram, const MeterKeyList& keys);

struct HeardMeter;

// The verdict on the telegram a heard meter's row keeps.
KeyCheck checkHeardMeter(const HeardMeter& meter, const MeterKeyList& keys);
