// Byte helpers of the simulator: hex text, checksums, manufacturer letters.
// Written here on purpose rather than shared with the application.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Upper-case hex digits without separators.
std::string simHex(const uint8_t* bytes, size_t n);

// Strict hex text to bytes: an even number of hex digits, at most `capacity` bytes.
// Returns the byte count, or -1 when the text is not such a string.
int simParseHex(const char* text, uint8_t* dest, size_t capacity);

// 8-bit sum, carries dropped.
uint8_t simSum8(const uint8_t* bytes, size_t n);

// Three letters A..Z to the 16-bit manufacturer code; -1 when not three capital letters.
int simManufacturerFromLetters(const char* letters);

// Code to three letters (codes with bit 15 set give "???").
std::string simManufacturerLetters(uint16_t code);

// 32-bit little-endian read and write.
uint32_t simGet32(const uint8_t* p);
void simPut32(uint8_t* p, uint32_t v);
