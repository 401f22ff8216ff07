// Diagnostic trace lines of the serial transport, on standard output.
#include "serial/serial_trace.h"

#include <cstdarg>
#include <cstdio>

void serialTrace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}
