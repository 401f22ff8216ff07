// Converter and meter key lists, loaded once at start from ";"-separated text files.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t keyListCapacity = 65536;

struct ConverterKeyEntry {
  uint8_t id[4];  // identification number in text order, most significant first
  uint8_t key[16];
};

struct MeterKeyEntry {
  uint8_t id[4];
  uint8_t firstKey[16];   // goes to "Master Key"
  uint8_t secondKey[16];  // goes to "Key Encryption Key"; zero when the line has none
};

// Large: keep them static or on the heap, never on the stack.
struct ConverterKeyList {
  ConverterKeyEntry entries[keyListCapacity];
  uint32_t count;
};

struct MeterKeyList {
  MeterKeyEntry entries[keyListCapacity];
  uint32_t count;
};

// Appends every file of the directory (names starting with "." skipped) in listing
// order. A missing directory or unreadable file is skipped silently; a full list
// stops loading.
void loadKeyList(const char* directory, ConverterKeyList& list);
void loadKeyList(const char* directory, MeterKeyList& list);

// First entry whose 4 id bytes equal id, or nullptr.
const ConverterKeyEntry* findConverterKey(const ConverterKeyList& list, const uint8_t id[4]);
const MeterKeyEntry* findMeterKeys(const MeterKeyList& list, const uint8_t id[4]);
