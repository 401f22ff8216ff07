// Diagnostic trace lines of the serial transport, on standard output.
#include "serial/serial_trace.h"

#include <cstdarg>

namespace {
bool redirected = false;
std::FILE* redirectedTo = nullptr;
}  // namespace

void serialTrace(const char* format, ...) {
  std::FILE* out = redirected ? redirectedTo : stdout;
  if (out == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(out, format, args);
  va_end(args);
  std::fflush(out);
}

SerialTraceRedirect::SerialTraceRedirect(std::FILE* stream) : wasRedirected_(redirected), previous_(redirectedTo) {
  redirected = true;
  redirectedTo = stream;
}

SerialTraceRedirect::~SerialTraceRedirect() {
  redirected = wasRedirected_;
  redirectedTo = previous_;
}
