// Keeping the communication log within a size: when to drop its oldest lines and where to cut.
// Plain arithmetic over character counts; the window applies it to its text widget.
#pragma once
#include <cstddef>
#include <string>

// What a log holds at the moment it is about to take more text.
struct LogFill {
  size_t length = 0;    // characters in the log, the dropped-lines notice included
  size_t notice = 0;    // characters of the notice at its top; 0 until the first drop
  size_t incoming = 0;  // characters about to be appended
};

// Each drop removes this share of the limit beyond what the incoming text needs, so that the
// cost of removing text at the front is paid once per sixteenth of the log, not on every
// append. The toolkit measures every character it removes and moves its whole buffer twice:
// a larger share stalls the window longer at each drop, a smaller one moves the buffer more often.
constexpr size_t logDropDivisor = 16;

// A limit below this leaves no room for the notice and a useful tail; smaller limits are raised.
constexpr size_t logMinimumLimit = 4096;

// Characters to drop from the front of the log's own text (after the notice) followed by the
// incoming text, so that the notice of noticeLength characters and the rest fit within limit
// with a share of it to spare; 0 when everything fits without dropping.
size_t logDropCount(const LogFill& fill, size_t limit, size_t noticeLength);

// The first line start at or after pos in text[0, n): pos itself when it starts a line (pos is
// 0 or follows a line break), else the position after the next line break; n when none follows.
size_t lineStartFrom(const char* text, size_t n, size_t pos);

// The one line at the top of a log that has dropped lines, for a limit of limit characters.
std::string logDropNotice(size_t limit);
