// How often the communication log's view follows its end.
#include "text/log_pace.h"

long long logPaceInterval(const LogPace& pace) {
  return pace.lastChangeMs - pace.streamMs >= logPaceJumpAfterMs ? logPaceJumpIntervalMs : logPaceIntervalMs;
}

bool logPaceChange(LogPace& pace, long long nowMs) {
  if (nowMs - pace.lastChangeMs >= logPaceIntervalMs) pace.streamMs = nowMs;
  pace.lastChangeMs = nowMs;
  if (nowMs - pace.shownMs >= logPaceInterval(pace)) return true;
  pace.held = true;
  return false;
}

bool logPaceDue(const LogPace& pace, long long nowMs) {
  return pace.held && nowMs - pace.shownMs >= logPaceInterval(pace);
}

long long logPaceDueMs(const LogPace& pace) { return pace.held ? pace.shownMs + logPaceInterval(pace) : -1; }

void logPaceShown(LogPace& pace, long long nowMs) {
  pace.shownMs = nowMs;
  pace.held = false;
}
