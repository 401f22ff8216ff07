// How often the communication log's view follows its end.
#include "text/log_pace.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The follows for changes at the given times (ascending), with the timer the window arms for
// logPaceDueMs firing when due; a timer due at a change's time fires first.
std::vector<long long> followsFor(const std::vector<long long>& changes) {
  LogPace pace;
  std::vector<long long> follows;
  size_t next = 0;
  for (;;) {
    const long long due = logPaceDueMs(pace);
    if (next < changes.size() && (due < 0 || changes[next] < due)) {
      const long long now = changes[next++];
      EXPECT_FALSE(logPaceDue(pace, now));
      if (logPaceChange(pace, now)) {
        logPaceShown(pace, now);
        follows.push_back(now);
      }
    } else if (due >= 0) {
      EXPECT_FALSE(logPaceDue(pace, due - 1));
      EXPECT_TRUE(logPaceDue(pace, due));
      logPaceShown(pace, due);
      follows.push_back(due);
    } else {
      return follows;
    }
  }
}

// from, from + step, ... up to to; then more.
std::vector<long long> every(long long from, long long to, long long step, std::vector<long long> more = {}) {
  std::vector<long long> times;
  for (long long t = from; t <= to; t += step) times.push_back(t);
  times.insert(times.end(), more.begin(), more.end());
  return times;
}

struct PaceCase {
  const char* name;
  std::vector<long long> changes;
  std::vector<long long> follows;
  long long within = logPaceIntervalMs;  // every change is followed this soon
};

TEST(LogPace, FollowsAtOnceAfterAQuietSpellAtMostOncePerIntervalAndTheLastChangeWithinOne) {
  const PaceCase cases[] = {
      {"first change ever", {5}, {5}},
      {"burst after a quiet spell", {1000, 1001, 1005, 1030}, {1000, 1040}},
      {"quiet spell of exactly one interval", {0, 40}, {0, 40}},
      {"change just inside the interval", {0, 39}, {0, 40}},
      {"steady stream, 100 a second", {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100},
       {0, 40, 80, 120}},
      {"slow stream, 10 a second", {0, 100, 200, 300}, {0, 100, 200, 300}},
      {"stream, then quiet, then a wired answer", {0, 15, 30, 45, 500, 501}, {0, 40, 80, 500, 540}},
      {"stream of a second and a half jumps", every(0, 1500, 10), every(0, 1000, 40, every(1100, 1600, 100)),
       logPaceJumpIntervalMs},
      {"jumping stream, a pause, a wired answer", every(0, 1500, 10, {1540, 1541}),
       every(0, 1000, 40, every(1100, 1500, 100, {1540, 1580})), logPaceJumpIntervalMs},
  };
  for (const PaceCase& c : cases) {
    const std::vector<long long> follows = followsFor(c.changes);
    EXPECT_EQ(follows, c.follows) << c.name;
    for (size_t i = 1; i < follows.size(); ++i) {
      EXPECT_GE(follows[i] - follows[i - 1], logPaceIntervalMs) << c.name;
    }
    // Nothing is left unshown: every change is followed within one interval.
    for (long long change : c.changes) {
      bool shown = false;
      for (long long f : follows) shown = shown || (f >= change && f - change <= c.within);
      EXPECT_TRUE(shown) << c.name << " change at " << change;
    }
  }
  // Nothing held, no timer.
  EXPECT_EQ(logPaceDueMs(LogPace{}), -1);
}

}  // namespace
