// Conversions between device byte fields and the text the user types and reads.
#include "text/hex_text.h"

#include <cstdio>
#include <cstring>

#include "text/bytes.h"

namespace {

constexpr int manufacturerLetterBase = 64;  // 'A' is 1
constexpr int manufacturerLetterMask = 0x1F;
constexpr unsigned manufacturerNoLettersBit = 0x8000;
constexpr int rssiDbmOffset = 74;
constexpr size_t keyBytes = 16;
constexpr size_t keyTextSize = 33;

}  // namespace

// Anything that is not a hex digit is worth 0: the user's text is never refused.
uint8_t hexDigitValue(char c) {
  if (!isHexDigit(c)) return 0;
  if (c <= '9') return static_cast<uint8_t>(c - '0');
  return static_cast<uint8_t>((c | 0x20) - 'a' + 10);  // 0x20 turns A-F into a-f
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isHexText(const std::string& text, size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text)
    if (!isHexDigit(c)) return false;
  return true;
}

size_t hexTextToBytes(const char* text, uint8_t* dest, size_t capacity) {
  if (text == nullptr || dest == nullptr) return 0;
  size_t written = 0;
  // Stop at the first missing digit of a pair, so the text is never read past its NUL.
  while (written < capacity) {
    const char high = text[2 * written];
    if (high == '\0') break;
    const char low = text[2 * written + 1];
    if (low == '\0') break;
    dest[written] = static_cast<uint8_t>((hexDigitValue(high) << 4) | hexDigitValue(low));
    ++written;
  }
  return written;
}

void bytesToHexText(const uint8_t* bytes, size_t count, char* dest) {
  static const char digits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < count; ++i) {
    dest[2 * i] = digits[bytes[i] >> 4];
    dest[2 * i + 1] = digits[bytes[i] & 0x0F];
  }
  dest[2 * count] = '\0';
}

void keyToHexText(const uint8_t key[16], char dest[33]) {
  std::memset(dest, 0, keyTextSize);
  bytesToHexText(key, keyBytes, dest);
}

void idToHexText(const uint8_t id[4], char dest[9]) {
  std::snprintf(dest, 9, "%02X%02X%02X%02X", id[3], id[2], id[1], id[0]);
}

int manufacturerTextToCode(const char letters[3]) {
  const int first = static_cast<int8_t>(letters[0]) - manufacturerLetterBase;
  const int second = static_cast<int8_t>(letters[1]) - manufacturerLetterBase;
  const int third = static_cast<int8_t>(letters[2]) - manufacturerLetterBase;
  return first * 1024 + second * 32 + third;
}

void manufacturerCodeToText(const uint8_t code[2], char dest[4]) {
  const unsigned value = readLe16(code);
  if (value & manufacturerNoLettersBit) return;
  dest[0] = static_cast<char>(manufacturerLetterBase + ((value >> 10) & manufacturerLetterMask));
  dest[1] = static_cast<char>(manufacturerLetterBase + ((value >> 5) & manufacturerLetterMask));
  dest[2] = static_cast<char>(manufacturerLetterBase + (value & manufacturerLetterMask));
  dest[3] = '\0';
}

int rssiToDbm(uint8_t rssi) {
  const int s = static_cast<int8_t>(rssi);
  return s / 2 - rssiDbmOffset;  // integer division truncates toward zero
}
