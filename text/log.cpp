// Text forms shared by every implementation of the communication log.
#include "text/log.h"

#include <cstdio>
#include <ctime>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {
constexpr size_t hexDumpItemsPerLine = 16;
constexpr size_t hexDumpItemChars = 5;  // "0xAB "
constexpr size_t timeTextSize = 16;     // "HH:MM:SS" and its NUL
}  // namespace

// Every received byte passes through here: digits from a table, not a formatted print per byte.
void appendHexDumpText(std::string& out, const uint8_t* bytes, size_t count) {
  static constexpr char digits[] = "0123456789ABCDEF";
  out.reserve(out.size() + count * hexDumpItemChars + count / hexDumpItemsPerLine + 1);
  for (size_t i = 0; i < count; ++i) {
    const char item[hexDumpItemChars] = {'0', 'x', digits[bytes[i] >> 4], digits[bytes[i] & 0x0F], ' '};
    out.append(item, sizeof item);
    if (i % hexDumpItemsPerLine == hexDumpItemsPerLine - 1) out += '\n';
  }
  out += '\n';
}

void logOwnLine(Log& log, const std::string& line, int style) {
  log.logText(log.atLineStart() ? line.c_str() : ("\n" + line).c_str(), style);
}

std::string timestampText() {
#ifdef _WIN32
  // The system's UTC time, formatted by the system.
  SYSTEMTIME now{};
  GetSystemTime(&now);
  char text[timeTextSize] = "00:00:00";
  if (GetTimeFormatA(LOCALE_INVARIANT, TIME_FORCE24HOURFORMAT, &now, "HH':'mm':'ss", text,
                     static_cast<int>(sizeof text)) == 0) {
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", now.wHour % 100u, now.wMinute % 100u, now.wSecond % 100u);
  }
  return std::string(text) + ":   ";
#else
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char text[timeTextSize] = "00:00:00";
  if (gmtime_r(&now, &parts) != nullptr) {
    std::strftime(text, sizeof text, "%H:%M:%S", &parts);
  }
  return std::string(text) + ":   ";
#endif
}
