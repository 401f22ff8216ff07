// The communication log's text widget as the Log the logic writes to: appends, scrolling,
// batches of one wake-up, and the bound on what it keeps.
#pragma once
#include <fx.h>

#include <cstddef>
#include <string>

#include "app/log_text.h"
#include "text/log.h"
#include "text/log_bound.h"
#include "text/log_pace.h"

// 16 MB of text keeps about 25,000 received frames with their dumps (days of ordinary traffic,
// minutes of a flood) and costs about 32 MB resident: the widget keeps a style byte per character.
constexpr size_t logLimitChars = 16 * 1000 * 1000;

class LogView : public Log {
public:
  // The widget the log writes into; set once the window has built it.
  void attach(LogText* widget) { text = widget; }

  void logText(const char* text, int style) override;
  void logTimestamp() override;
  void logHexDump(const uint8_t* bytes, size_t count, int style) override;
  void clearLog() override;
  bool atLineStart() override;

  // Inside a batch, log calls only collect text; the batch's end appends it all at once. The
  // view follows the end at a display's pace (LogPace): at once after a quiet spell, otherwise
  // the text is in the widget but reaches the screen at the next follow, within one display
  // interval. Batches nest; the outermost one writes. A write outside a batch is followed at once.
  void beginBatch() { ++batchDepth; }
  void endBatch();

  // When a held follow is due (ms of answerClockMs), or -1.
  long long followDueMs() const { return logPaceDueMs(pace); }
  // Follows the end if a held follow is due.
  void followIfDue();

  // The most characters the widget keeps, the dropped-lines notice included; at least
  // logMinimumLimit.
  void setLimit(size_t chars);
  size_t limit() const { return limitChars; }

private:
  void collect(const char* chars, size_t n, int style);
  void flush(bool fromBatch);
  void keepWithinLimit();
  void followEnd(long long nowMs);

  LogText* text = nullptr;
  std::string pendingText;
  std::string pendingStyles;  // one style byte per pending character
  int batchDepth = 0;
  size_t limitChars = logLimitChars;
  std::string notice = logDropNotice(logLimitChars);
  size_t noticeShown = 0;  // characters of the notice at the widget's top, 0 before a drop
  LogPace pace;
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
