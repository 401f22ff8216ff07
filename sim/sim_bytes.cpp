// Byte helpers of the simulator.
#include "sim_bytes.h"

#include <cstring>

std::string simHex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(digits[bytes[i] >> 4]);
    s.push_back(digits[bytes[i] & 0x0F]);
  }
  return s;
}

static int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int simParseHex(const char* text, uint8_t* dest, size_t capacity) {
  size_t len = std::strlen(text);
  if (len % 2 != 0 || len / 2 > capacity) return -1;
  for (size_t i = 0; i < len; i += 2) {
    int hi = hexDigitValue(text[i]);
    int lo = hexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return -1;
    dest[i / 2] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return static_cast<int>(len / 2);
}

uint8_t simSum8(const uint8_t* bytes, size_t n) {
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

int simManufacturerFromLetters(const char* letters) {
  if (std::strlen(letters) != 3) return -1;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    char c = letters[i];
    if (c < 'A' || c > 'Z') return -1;
    code = code * 32 + (c - 64);
  }
  return code;
}

std::string simManufacturerLetters(uint16_t code) {
  if (code & 0x8000) return "???";
  std::string s(3, '?');
  s[0] = static_cast<char>(((code >> 10) & 0x1F) + 64);
  s[1] = static_cast<char>(((code >> 5) & 0x1F) + 64);
  s[2] = static_cast<char>((code & 0x1F) + 64);
  return s;
}

uint32_t simGet32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void simPut32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
