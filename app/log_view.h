// The communication log's text widget as the Log the logic writes to: appends, scrolling,
// batches of one wake-up, and the bound on what it keeps.
#pragma once
#include <fx.h>

#include <cstddef>
#include <string>

#include "app/log_text.h"
#include "text/log.h"
#include "text/log_bound.h"

// 16 MB of text keeps about 25,000 received frames with their dumps (days of ordinary traffic,
// minutes of a flood) and costs about 32 MB resident: the widget keeps a style byte per character.
constexpr size_t logLimitChars = 16 * 1000 * 1000;

// A wake-up's batch scrolls the log at most this often: under a flood the X server would
// otherwise redraw the log for every wake-up, hundreds of times a second. A quiet link's answer
// still scrolls at once.
constexpr long long logScrollIntervalMs = 40;

class LogView : public Log {
public:
  // The widget the log writes into; set once the window has built it.
  void attach(LogText* widget) { text = widget; }

  void logText(const char* text, int style) override;
  void logTimestamp() override;
  void logHexDump(const uint8_t* bytes, size_t count, int style) override;
  void clearLog() override;
  bool atLineStart() override;

  // Inside a batch, log calls only collect text; the batch's end appends it all at once and
  // scrolls once. Batches nest; the outermost one writes.
  void beginBatch() { ++batchDepth; }
  void endBatch();

  // When a batch's scroll that was held back is due (ms of answerClockMs), or -1.
  long long scrollDueMs() const { return scrollHeld ? lastScrollMs + logScrollIntervalMs : -1; }
  // Scrolls to the end if a held-back scroll is due.
  void scrollIfDue();

  // The most characters the widget keeps, the dropped-lines notice included; at least
  // logMinimumLimit.
  void setLimit(size_t chars);
  size_t limit() const { return limitChars; }

private:
  void collect(const char* chars, size_t n, int style);
  void flush(bool fromBatch);
  void keepWithinLimit();
  void scrollToEnd();

  LogText* text = nullptr;
  std::string pendingText;
  std::string pendingStyles;  // one style byte per pending character
  int batchDepth = 0;
  size_t limitChars = logLimitChars;
  std::string notice = logDropNotice(logLimitChars);
  size_t noticeShown = 0;  // characters of the notice at the widget's top, 0 before a drop
  long long lastScrollMs = -logScrollIntervalMs;
  bool scrollHeld = false;
};

// Holds a batch open for the lifetime of a wake-up's handler.
class LogBatch {
public:
  explicit LogBatch(LogView& view) : view_(view) { view_.beginBatch(); }
  ~LogBatch() { view_.endBatch(); }
  LogBatch(const LogBatch&) = delete;
  LogBatch& operator=(const LogBatch&) = delete;

private:
  LogView& view_;
};
