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
  // Whether the next text starts a line: a few of the protocol's own lines leave it open.
  virtual bool atLineStart() { return true; }
};

// Quarn's own notices (not sent, lost, overdue) as a line of their own, even after a protocol
// line that left the line open.
void logOwnLine(Log& log, const std::string& line, int style);

// "0x%02X " per byte, a line break after every 16th item, and one closing line break.
void appendHexDumpText(std::string& out, const uint8_t* bytes, size_t count);

// Current UTC time of day as "HH:MM:SS" followed by ":   ".
std::string timestampText();
