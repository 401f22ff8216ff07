// The one escaper: text made safe for a terminal, the log or a file.
#include "text/printable_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Length of the well-formed UTF-8 sequence starting at p (1 to 4), or 0 when there is none:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t utf8Length(const unsigned char* p, const unsigned char* end, uint32_t& codePoint) {
  const unsigned char lead = p[0];
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  if (size_t(end - p) < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    codePoint = codePoint << 6 | (p[i] & 0x3Fu);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return length;
}

bool steersTerminal(uint32_t codePoint) {
  return codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F);
}

void appendEscaped(std::string& out, unsigned char byte) {
  char code[5];
  std::snprintf(code, sizeof code, "\\x%02X", byte);
  out += code;
}

// Every byte of [p, end): escaped where it could steer a terminal, else copied.
std::string escaped(const unsigned char* p, const unsigned char* end) {
  std::string out;
  out.reserve(size_t(end - p));
  while (p < end) {
    uint32_t codePoint = 0;
    const size_t length = utf8Length(p, end, codePoint);
    if (length == 0) {
      appendEscaped(out, *p++);
    } else if (steersTerminal(codePoint)) {
      for (size_t i = 0; i < length; ++i) appendEscaped(out, *p++);
    } else {
      out.append(reinterpret_cast<const char*>(p), length);
      p += length;
    }
  }
  return out;
}

}  // namespace

std::string printableText(const char* text, size_t length) {
  if (text == nullptr) return std::string();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  return escaped(p, p + length);
}

std::string printableText(const char* text) {
  return text == nullptr ? std::string() : printableText(text, std::strlen(text));
}

std::string printableText(const std::string& text) { return printableText(text.data(), text.size()); }
