// The CLI's log: the window's texts, written as they come.
#include "cli/cli_records.h"

#include <cstring>

void CliLog::put(const std::string& text) {
  if (file != nullptr) file->write(text);
  if (verbose) std::fputs(text.c_str(), stderr);
  if (!text.empty()) lineOpen_ = text.back() != '\n';
}

void CliLog::logText(const char* text, int) { put(text); }

// The CLI stamps each request it sends; a stamp starts a line of its own even where the
// window's text left one open ("Dongle ID: ...").
void CliLog::logTimestamp() { put((lineOpen_ ? "\n" : "") + timestampText()); }

void CliLog::logHexDump(const uint8_t* bytes, size_t count, int) {
  std::string dump;
  appendHexDumpText(dump, bytes, count);
  put(dump);
}
