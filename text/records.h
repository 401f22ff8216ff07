// The two records a converter's answers carry: its message counter and its firmware version.
#pragma once
#include <cstddef>
#include <cstdint>

// Position of the message-counter record header 04 FD 08 / the firmware-version
// record header 02 FD 0C within the first `length` bytes, scanning positions
// 0 .. length-4. Returns 0 when absent (a header at position 0 looks the same).
int findCounterRecord(const uint8_t* bytes, uint16_t length);
int findVersionRecord(const uint8_t* bytes, uint16_t length);

// The record's value (32 bits / 16 bits, least significant byte first, after its 3-byte
// header) when its header is found in the first 0xFFFF bytes and the whole value lies within
// length. Returns false, value untouched, otherwise.
bool readCounterRecord(const uint8_t* bytes, size_t length, uint32_t& value);
bool readVersionRecord(const uint8_t* bytes, size_t length, uint16_t& value);
