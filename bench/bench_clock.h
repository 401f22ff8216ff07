// Clock and memory readings shared by the benchmark programs.
#pragma once
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Milliseconds on the monotonic clock.
inline double monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The process's resident memory in kB, or -1 when it cannot be read.
inline long residentKb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  }
  std::fclose(f);
  return kb;
}
