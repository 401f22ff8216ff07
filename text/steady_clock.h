// The monotonic clock every bound and wait is measured on, in milliseconds.
#pragma once
#include <chrono>

inline long long steadyClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
