// How often the communication log's view follows its end.
#include "text/log_pace.h"

bool logPaceChange(LogPace& pace, long long nowMs) {
  if (nowMs - pace.shownMs >= logPaceIntervalMs) return true;
  pace.held = true;
  return false;
}

bool logPaceDue(const LogPace& pace, long long nowMs) {
  return pace.held && nowMs - pace.shownMs >= logPaceIntervalMs;
}

long long logPaceDueMs(const LogPace& pace) { return pace.held ? pace.shownMs + logPaceIntervalMs : -1; }

void logPaceShown(LogPace& pace, long long nowMs) {
  pace.shownMs = nowMs;
  pace.held = false;
}
