// Converter and meter key lists, loaded once at start from ";"-separated text files.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t keyListCapacity = 65536;
// Bytes read from one key file at most: room for a full list of the longest lines (1,023
// characters and a line end), so only a file that could never load completely is cut.
constexpr size_t keyFileByteLimit = size_t{keyListCapacity} * 1024;

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
// order. A missing directory, an unreadable file or anything but a regular file (FIFO,
// device, directory, or a link to one) is skipped silently; a file is read up to
// keyFileByteLimit bytes; a full list stops loading.
void loadKeyList(const char* directory, ConverterKeyList& list);
void loadKeyList(const char* directory, MeterKeyList& list);

// First entry whose 4 id bytes equal id, or nullptr.
const ConverterKeyEntry* findConverterKey(const ConverterKeyList& list, const uint8_t id[4]);
const MeterKeyEntry* findMeterKeys(const MeterKeyList& list, const uint8_t id[4]);
