// quarn-cli's log: the window's log texts to a file and, when verbose, to standard error.
#pragma once
#include <cstdio>
#include <string>

#include "cli/log_file.h"
#include "text/log.h"

// The byte log in the window's text form, to a file and, when verbose, to standard error.
class CliLog : public Log {
public:
  LogFile* file = nullptr;
  bool verbose = false;

  void logText(const char* text, int style) override;
  void logTimestamp() override;
  void logHexDump(const uint8_t* bytes, size_t count, int style) override;
  void clearLog() override {}

private:
  void put(const std::string& text);
  bool lineOpen_ = false;  // the last text did not end its line
};
