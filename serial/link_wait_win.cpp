// Windows: FOX waits on handles, not descriptors, and a serial port's handle signals nothing
// useful when bytes arrive (overlapped waits misbehave on emulated ports). An open port is
// therefore looked at on a timer, the bound brought forward to linkPollMs: a wake-up that finds
// nothing queued costs one ClearCommError, and no timer runs while no port is open.
#include "serial/link_wait.h"

namespace {
// 120 bytes at the wire's 2400 baud, and well within the stick's 4096-byte driver queue at the
// rate radio frames arrive.
constexpr long long linkPollMs = 50;
}  // namespace

LinkWait linkWait(int openDescriptor, int, long long deadlineMs, long long nowMs) {
  if (openDescriptor < 0) return LinkWait{-1, deadlineMs};
  const long long due = nowMs + linkPollMs;
  return LinkWait{-1, deadlineMs >= 0 && deadlineMs < due ? deadlineMs : due};
}
