// Keeping the communication log within a size.
#include "text/log_bound.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

size_t logDropCount(const LogFill& fill, size_t limit, size_t noticeLength) {
  limit = std::max(limit, logMinimumLimit);
  if (fill.length + fill.incoming <= limit) return 0;
  const size_t own = fill.length - std::min(fill.notice, fill.length);
  const size_t total = own + fill.incoming;
  const size_t room = limit - std::min(limit, noticeLength + limit / logDropDivisor);
  return total > room ? total - room : 0;
}

size_t lineStartFrom(const char* text, size_t n, size_t pos) {
  if (pos >= n) return n;
  if (pos == 0 || text[pos - 1] == '\n') return pos;
  const void* lineBreak = std::memchr(text + pos, '\n', n - pos);
  if (lineBreak == nullptr) return n;
  return static_cast<size_t>(static_cast<const char*>(lineBreak) - text) + 1;
}

std::string logDropNotice(size_t limit) {
  limit = std::max(limit, logMinimumLimit);
  constexpr size_t megabyte = 1000 * 1000;
  char text[96];
  if (limit >= megabyte) {
    std::snprintf(text, sizeof text, "--- earlier lines dropped to keep the log within %zu MB ---\n",
                  limit / megabyte);
  } else {
    std::snprintf(text, sizeof text, "--- earlier lines dropped to keep the log within %zu kB ---\n",
                  limit / 1000);
  }
  return text;
}
