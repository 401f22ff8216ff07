// How often the communication log's view follows its end: a display's pace whatever the arrival
// pattern. Every change reaches the text at once; only the follow-and-redraw is paced.
#pragma once

// One display interval: at most 25 follows a second, however many wake-ups bring text.
constexpr long long logPaceIntervalMs = 40;

struct LogPace {
  long long shownMs = -logPaceIntervalMs;  // when the view last followed its end
  bool held = false;                       // a change waits for the next follow
};

// A change to the log at nowMs: true when the view is to follow now (the first change after a
// quiet spell); false when the change is held until logPaceDueMs.
bool logPaceChange(LogPace& pace, long long nowMs);
// True when a held change is due at nowMs.
bool logPaceDue(const LogPace& pace, long long nowMs);
// When the held change is due, or -1 when nothing is held (no timer then).
long long logPaceDueMs(const LogPace& pace);
// The view followed its end at nowMs; nothing is held any more.
void logPaceShown(LogPace& pace, long long nowMs);
