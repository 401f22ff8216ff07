// The format attribute of a function that takes a printf format: the C library's own dialect
// (MinGW's ANSI printf on Windows, so that %zu is checked as it is printed).
#pragma once
#include <cstdio>

#ifdef __MINGW_PRINTF_FORMAT
#define QUARN_PRINTF(formatAt, argumentsAt) __attribute__((format(__MINGW_PRINTF_FORMAT, formatAt, argumentsAt)))
#else
#define QUARN_PRINTF(formatAt, argumentsAt) __attribute__((format(printf, formatAt, argumentsAt)))
#endif
