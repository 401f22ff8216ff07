// Text forms shared by every implementation of the communication log.
#include "text/log.h"

#include <cstdio>
#include <ctime>

namespace {
constexpr size_t hexDumpItemsPerLine = 16;
constexpr size_t hexDumpItemSize = 8;   // "0xAB " and its NUL, with room to spare
constexpr size_t timeTextSize = 16;     // "HH:MM:SS" and its NUL
}  // namespace

void appendHexDumpText(std::string& out, const uint8_t* bytes, size_t count) {
  char item[hexDumpItemSize];
  out.reserve(out.size() + count * 5 + count / hexDumpItemsPerLine + 1);
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(item, sizeof item, "0x%02X ", bytes[i]);
    out += item;
    if (i % hexDumpItemsPerLine == hexDumpItemsPerLine - 1) out += '\n';
  }
  out += '\n';
}

void logOwnLine(Log& log, const std::string& line, int style) {
  log.logText(log.atLineStart() ? line.c_str() : ("\n" + line).c_str(), style);
}

std::string timestampText() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char text[timeTextSize] = "00:00:00";
  if (gmtime_r(&now, &parts) != nullptr) {
    std::strftime(text, sizeof text, "%H:%M:%S", &parts);
  }
  return std::string(text) + ":   ";
}
