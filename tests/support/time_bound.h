// Upper bounds in milliseconds hold on an idle machine only, so CTest reports them and bench/
// asserts them (bench/time_bounds.sh sets QUARN_TIME_BOUNDS=1): a loaded machine must not fail a
// test run.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline bool timeBoundsAsserted() {
  const char* asked = std::getenv("QUARN_TIME_BOUNDS");
  return asked != nullptr && std::strcmp(asked, "1") == 0;
}

#define EXPECT_WITHIN_MS(took, boundMs)                                                                   \
  do {                                                                                                     \
    const long long tookMs_ = static_cast<long long>(took);                                                \
    if (timeBoundsAsserted()) EXPECT_LT(tookMs_, static_cast<long long>(boundMs)) << #took;                 \
    else std::fprintf(stderr, "[ time ] %s: %lld ms (bound %lld ms, asserted in bench/)\n", #took, tookMs_, \
                      static_cast<long long>(boundMs));                                                     \
  } while (0)
