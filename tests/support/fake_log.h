// A log that keeps what is written, for tests that check log lines without a window.
#pragma once
#include <string>
#include <vector>

#include "text/log.h"

class FakeLog : public Log {
public:
  struct Piece {
    std::string text;
    int style;
  };

  // Stands in for the time of day so that expected logs can be written out in full.
  static constexpr const char* timestampMark = "hh:mm:ss:   ";

  void logText(const char* line, int style) override { add(line, style); }
  void logTimestamp() override { add(timestampMark, -1); }
  void logHexDump(const uint8_t* bytes, size_t count, int style) override {
    std::string dump;
    appendHexDumpText(dump, bytes, count);
    add(dump, style);
  }
  bool atLineStart() override { return text.empty() || text.back() == '\n'; }
  void clearLog() override {
    text.clear();
    pieces.clear();
  }

  std::string text;
  std::vector<Piece> pieces;

private:
  void add(const std::string& piece, int style) {
    text += piece;
    pieces.push_back({piece, style});
  }
};
