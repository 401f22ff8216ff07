// How often the communication log's view follows its end: a display's pace whatever the arrival
// pattern. Every change reaches the text at once; only the follow-and-redraw is paced.
#pragma once

// One display interval: at most 25 follows a second, however many wake-ups bring text.
constexpr long long logPaceIntervalMs = 40;
// Changes that keep coming less than an interval apart for this long are more than anyone reads
// line by line: the view then jumps, a terminal's jump scroll, following once per
// logPaceJumpIntervalMs until the stream pauses for an interval. Each jump draws the rows in view
// once instead of scrolling most of them up again 25 times a second.
constexpr long long logPaceJumpAfterMs = 1000;
constexpr long long logPaceJumpIntervalMs = 100;

struct LogPace {
  long long shownMs = -logPaceIntervalMs;       // when the view last followed its end
  long long lastChangeMs = -logPaceIntervalMs;  // the latest change
  long long streamMs = 0;                       // the first change of the latest unbroken stream
  bool held = false;                            // a change waits for the next follow
};

// The display interval now: logPaceJumpIntervalMs in a long stream, else logPaceIntervalMs.
long long logPaceInterval(const LogPace& pace);
// A change to the log at nowMs: true when the view is to follow now (the first change after a
// quiet spell); false when the change is held until logPaceDueMs.
bool logPaceChange(LogPace& pace, long long nowMs);
// True when a held change is due at nowMs.
bool logPaceDue(const LogPace& pace, long long nowMs);
// When the held change is due, or -1 when nothing is held (no timer then).
long long logPaceDueMs(const LogPace& pace);
// The view followed its end at nowMs; nothing is held any more.
void logPaceShown(LogPace& pace, long long nowMs);
