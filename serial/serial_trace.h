// Diagnostic trace lines of the serial transport, on standard output.
#pragma once
#include <cstdio>

// printf to standard output, flushed at once so lines interleave with other output in order.
void serialTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, trace lines go to stream instead of standard output (nullptr: nowhere).
class SerialTraceRedirect {
public:
  explicit SerialTraceRedirect(std::FILE* stream);
  ~SerialTraceRedirect();
  SerialTraceRedirect(const SerialTraceRedirect&) = delete;
  SerialTraceRedirect& operator=(const SerialTraceRedirect&) = delete;

private:
  bool wasRedirected_;
  std::FILE* previous_;
};
