// When the communication log drops its oldest lines, how much, and where the cut falls.
#include "text/log_bound.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct DropCase {
  const char* name;
  LogFill fill;
  size_t limit;
  size_t noticeLength;
  size_t dropped;
};

TEST(LogDropCount, DropsOnlyBeyondTheLimitAndThenASixteenthMore) {
  const DropCase cases[] = {
      {"empty log", {0, 0, 0}, 8000, 60, 0},
      {"fits exactly", {7000, 0, 1000}, 8000, 60, 0},
      {"one over, no notice yet", {7001, 0, 1000}, 8000, 60, 7001 + 1000 - (8000 - 60 - 500)},
      {"one over, notice shown", {7001, 60, 1000}, 8000, 60, 6941 + 1000 - (8000 - 60 - 500)},
      {"incoming alone over the limit", {100, 60, 9000}, 8000, 60, 40 + 9000 - (8000 - 60 - 500)},
      {"tiny limit raised to the minimum", {4000, 0, 100}, 10, 60, 4100 - (4096 - 60 - 256)},
      {"tiny limit, still fits the minimum", {3000, 0, 100}, 10, 60, 0},
      {"large log", {16000000, 60, 700}, 16000000, 60, 15999940 + 700 - (16000000 - 60 - 1000000)},
  };
  for (const DropCase& c : cases) {
    EXPECT_EQ(logDropCount(c.fill, c.limit, c.noticeLength), c.dropped) << c.name;
  }
}

TEST(LogDropCount, WhatRemainsFitsWithTheNoticeHoweverOftenItDrops) {
  const size_t limit = 10000;
  const size_t notice = 64;
  LogFill fill;
  int drops = 0;
  for (int i = 0; i < 1000; ++i) {
    fill.incoming = 37 + static_cast<size_t>(i % 7) * 100;
    const size_t drop = logDropCount(fill, limit, notice);
    if (drop > 0) {
      ++drops;
      const size_t own = fill.length - fill.notice;
      ASSERT_LE(drop, own + fill.incoming);
      fill.length = notice + own + fill.incoming - drop;
      fill.notice = notice;
    } else {
      fill.length += fill.incoming;
    }
    ASSERT_LE(fill.length, limit) << i;
  }
  // About 370 characters a round over 1000 rounds, a sixteenth of 10,000 a drop: dozens, not hundreds.
  EXPECT_GT(drops, 10);
  EXPECT_LT(drops, 2 * 370 * 1000 / (limit / logDropDivisor));
}

struct CutCase {
  const char* text;
  size_t pos;
  size_t cut;
};

TEST(LineStartFrom, MovesForwardToTheNextLineStart) {
  const CutCase cases[] = {
      {"abc\ndef\n", 0, 0},   // the text's start is a line start
      {"abc\ndef\n", 4, 4},   // right after a line break
      {"abc\ndef\n", 1, 4},   // inside the first line
      {"abc\ndef\n", 3, 4},   // on the line break itself
      {"abc\ndef\n", 5, 8},   // inside the last line: the text's end
      {"abc\ndef", 5, 7},     // no line break follows: the end
      {"abc\n\n\nx", 5, 5},   // empty lines are lines
      {"abc", 9, 3},          // beyond the end
      {"", 0, 0},
  };
  for (const CutCase& c : cases) {
    EXPECT_EQ(lineStartFrom(c.text, std::strlen(c.text), c.pos), c.cut) << '"' << c.text << "\" " << c.pos;
  }
}

TEST(LogDropNotice, NamesTheLimitOnOneLine) {
  EXPECT_EQ(logDropNotice(16000000), "--- earlier lines dropped to keep the log within 16 MB ---\n");
  EXPECT_EQ(logDropNotice(8000), "--- earlier lines dropped to keep the log within 8 kB ---\n");
  EXPECT_EQ(logDropNotice(1), "--- earlier lines dropped to keep the log within 4 kB ---\n");
}

}  // namespace
