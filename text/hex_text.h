// Conversions between device byte fields and the text the user types and reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// 0-9, a-f or A-F, whatever the locale.
bool isHexDigit(char c);

// True when text is exactly `digits` hex digits.
bool isHexText(const std::string& text, size_t digits);

// The digit's value 0..15; anything else is 0.
uint8_t hexDigitValue(char c);

// Pairs of hex digits, most significant first; any non-digit counts as 0 and an odd
// last character is ignored. Writes at most `capacity` bytes: text longer than twice
// the capacity contributes only its first digits. Returns the number of bytes written.
size_t hexTextToBytes(const char* text, uint8_t* dest, size_t capacity);

// count bytes, in the order given, as 2*count upper-case hex digits and a NUL (dest holds
// 2*count+1 bytes).
void bytesToHexText(const uint8_t* bytes, size_t count, char* dest);

// 16 key bytes as 32 upper-case hex digits and a NUL (dest holds 33 bytes).
void keyToHexText(const uint8_t key[16], char dest[33]);

// Identification number as messages carry it (least significant byte first) to the 8
// upper-case hex digits printed on the device (most significant first) and a NUL.
void idToHexText(const uint8_t id[4], char dest[9]);

// Three letters to the 16-bit M-Bus manufacturer code; characters are not checked.
int manufacturerTextToCode(const char letters[3]);

// Code bytes (least significant first) to three letters and a NUL. A code with
// bit 15 set has no letters and leaves dest untouched.
void manufacturerCodeToText(const uint8_t code[2], char dest[4]);

// Raw RSSI byte of a scan answer to dBm: signed byte halved toward zero, minus 74.
int rssiToDbm(uint8_t rssi);
