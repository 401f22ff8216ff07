// The communication log as the logic sees it; the window implements it, tests fake it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

enum LogStyle : int {
  logStylePlain = 0,
  logStyleDongle = 2,  // dongle traffic and the message-counter line
};

class Log {
public:
  virtual ~Log() = default;
  virtual void logText(const char* text, int style) = 0;
  virtual void logTimestamp() = 0;
  virtual void logHexDump(const uint8_t* bytes, size_t count, int style) = 0;
  virtual void clearLog() = 0;
};

// "0x%02X " per byte, a line break after every 16th item, and one closing line break.
void appendHexDumpText(std::string& out, const uint8_t* bytes, size_t count);

// Current UTC time of day as "HH:MM:SS" followed by ":   ".
std::string timestampText();
