// Diagnostic trace lines of the serial transport, on standard output.
#pragma once

// printf to standard output, flushed at once so lines interleave with other output in order.
void serialTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
