// M-Bus link-layer frames: builders, the byte-by-byte receiver, and its bound on the buffer.
#include "mbus/link_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/time_bound.h"

namespace {

// Independent reading of the EN 13757-2 layout: sum as a plain int, reduced at the end.
bool isValidShortFrame(const uint8_t* f, size_t length) {
  if (length != 5 || f[0] != 0x10 || f[4] != 0x16) return false;
  return f[3] == (int(f[1]) + int(f[2])) % 256;
}

bool hasLongFrameLayout(const uint8_t* f, size_t length) {
  if (length < 6 || f[0] != 0x68 || f[3] != 0x68 || f[1] != f[2]) return false;
  const size_t l = f[1];
  return length == l + 6 && f[l + 5] == 0x16;
}

bool isValidLongFrame(const uint8_t* f, size_t length) {
  if (!hasLongFrameLayout(f, length)) return false;
  const size_t l = f[1];
  int sum = 0;
  for (size_t i = 0; i < l; ++i) sum += f[4 + i];
  return f[4 + l] == sum % 256;
}

LinkFrameBuffer freshBuffer() {
  LinkFrameBuffer buffer;
  std::memset(&buffer, 0, sizeof buffer);
  return buffer;
}

std::vector<uint8_t> contents(const LinkFrameBuffer& buffer) {
  uint16_t length = 0;
  const uint8_t* bytes = frameBuffer(buffer, length);
  return std::vector<uint8_t>(bytes, bytes + length);
}

TEST(BuildShortFrame, ReqUd2ToConverter) {
  LinkFrameBuffer buffer = freshBuffer();
  buildShortFrame(buffer, converterLinkAddress, 0x5B);
  EXPECT_EQ(contents(buffer), (std::vector<uint8_t>{0x10, 0x5B, 0xFB, 0x56, 0x16}));
}

TEST(BuildLongFrame, ConverterMessage) {
  LinkFrameBuffer buffer = freshBuffer();
  const uint8_t data[] = {0x51, 0x01};
  ASSERT_EQ(buildLongFrame(buffer, 0xFB, 0x53, data, sizeof data), 1);
  EXPECT_EQ(contents(buffer),
            (std::vector<uint8_t>{0x68, 0x04, 0x04, 0x68, 0x53, 0xFB, 0x51, 0x01, 0xA0, 0x16}));
}

TEST(BuildLongFrame, TooMuchDataBuildsNothing) {
  LinkFrameBuffer buffer = freshBuffer();
  buildShortFrame(buffer, 0xFB, 0x5B);
  const LinkFrameBuffer before = buffer;
  for (size_t n : {size_t(254), size_t(255), size_t(256), size_t(1000)}) {
    std::vector<uint8_t> data(n, 0x2F);
    EXPECT_EQ(buildLongFrame(buffer, 0xFB, 0x53, data.data(), data.size()), 0) << n;
    EXPECT_EQ(std::memcmp(&buffer, &before, sizeof buffer), 0) << n;
  }
}

TEST(BuildLongFrame, RandomFramesFollowTheLayoutAndComeBackThroughTheReceiver) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 3000; ++round) {
    const uint8_t a = static_cast<uint8_t>(rng());
    const uint8_t c = static_cast<uint8_t>(rng());
    const size_t n = rng() % (longFrameMaxData + 1);
    std::vector<uint8_t> data(n);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());

    LinkFrameBuffer buffer = freshBuffer();
    ASSERT_EQ(buildLongFrame(buffer, a, c, data.data(), n), 1);
    const std::vector<uint8_t> frame = contents(buffer);
    ASSERT_EQ(frame.size(), n + 8);
    ASSERT_TRUE(isValidLongFrame(frame.data(), frame.size()));
    ASSERT_EQ(frame[1], n + 2);
    ASSERT_EQ(frame[4], c);
    ASSERT_EQ(frame[5], a);
    ASSERT_TRUE(std::equal(data.begin(), data.end(), frame.begin() + 6));

    // The receiver shares the buffer: feed the frame from a copy, as a port read would.
    resetReceiver(buffer);
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
      ASSERT_EQ(receiveByte(buffer, frame[i]), receiveAccepted) << "byte " << i;
    }
    ASSERT_EQ(receiveByte(buffer, frame.back()), receiveLongComplete);
    ASSERT_EQ(contents(buffer), frame);

    // The same frame with one data-area byte changed reports a bad checksum.
    std::vector<uint8_t> bad = frame;
    bad[4 + rng() % (n + 2)] ^= static_cast<uint8_t>(1 + rng() % 255);
    resetReceiver(buffer);
    for (size_t i = 0; i + 1 < bad.size(); ++i) ASSERT_EQ(receiveByte(buffer, bad[i]), 1);
    ASSERT_EQ(receiveByte(buffer, bad.back()), receiveLongBadChecksum);
  }
}

TEST(BuildShortFrame, RandomFramesFollowTheLayoutAndComeBack) {
  for (int a = 0; a < 256; a += 7) {
    for (int c = 0; c < 256; c += 5) {
      LinkFrameBuffer buffer = freshBuffer();
      buildShortFrame(buffer, static_cast<uint8_t>(a), static_cast<uint8_t>(c));
      const std::vector<uint8_t> frame = contents(buffer);
      ASSERT_TRUE(isValidShortFrame(frame.data(), frame.size()));
      ASSERT_EQ(frame[1], c);
      ASSERT_EQ(frame[2], a);
      resetReceiver(buffer);
      for (size_t i = 0; i < 4; ++i) ASSERT_EQ(receiveByte(buffer, frame[i]), receiveAccepted);
      ASSERT_EQ(receiveByte(buffer, frame[4]), receiveShortComplete);
      ASSERT_EQ(contents(buffer), frame);
    }
  }
}

// One fed byte and what it must give, with the receiver's state and length afterwards.
struct Step {
  uint8_t byte;
  int result;
  int state;
  int length;
};

struct Sequence {
  const char* name;
  bool reset;  // reset before the first byte
  std::vector<Step> steps;
};

const std::vector<Sequence>& sequences() {
  static const std::vector<Sequence> all = {
      {"SingleCharacter", true, {{0xE5, 5, 1, 0}, {0xE5, 5, 1, 0}}},
      {"ZeroByte", true, {{0x00, 2, 1, 0}, {0xE5, 5, 1, 0}}},
      {"NoiseWhileHunting", true, {{0x16, 0, 1, 0}, {0xFF, 0, 1, 0}, {0x67, 0, 1, 0}}},
      {"InactiveRejectsAll",
       false,
       {{0x10, 0, 0, 0}, {0x68, 0, 0, 0}, {0xE5, 0, 0, 0}, {0x00, 0, 0, 0}, {0x16, 0, 0, 0}}},
      {"ShortGood",
       true,
       {{0x10, 1, 2, 1}, {0x5B, 1, 2, 2}, {0xFB, 1, 2, 3}, {0x56, 1, 2, 4}, {0x16, 3, 2, 5}}},
      // The first four bytes are stored unexamined; a wrong stop byte is retried.
      {"ShortWrongStopRetried",
       true,
       {{0x10, 1, 2, 1}, {0x5B, 1, 2, 2}, {0xFB, 1, 2, 3}, {0x56, 1, 2, 4}, {0x17, 0, 2, 4},
        {0x16, 3, 2, 5}}},
      // A bad checksum drops the frame and hunts again: nothing further is stored.
      {"ShortBadChecksumHuntsAgain",
       true,
       {{0x10, 1, 2, 1}, {0x5B, 1, 2, 2}, {0xFB, 1, 2, 3}, {0x57, 1, 2, 4}, {0x16, 0, 1, 0},
        {0x42, 0, 1, 0}, {0xE5, 5, 1, 0}, {0x10, 1, 2, 1}}},
      // A complete frame holds until the caller resets.
      {"ShortCompleteHolds",
       true,
       {{0x10, 1, 2, 1}, {0x40, 1, 2, 2}, {0x01, 1, 2, 3}, {0x41, 1, 2, 4}, {0x16, 3, 2, 5},
        {0x16, 0, 2, 5}, {0x10, 0, 2, 5}}},
      {"LongGood",
       true,
       {{0x68, 1, 3, 1}, {0x03, 1, 3, 2}, {0x03, 1, 3, 3}, {0x68, 1, 3, 4}, {0x08, 1, 3, 5},
        {0xFB, 1, 3, 6}, {0x72, 1, 3, 7}, {0x75, 1, 3, 8}, {0x16, 4, 3, 9}}},
      {"LongBadChecksum",
       true,
       {{0x68, 1, 3, 1}, {0x03, 1, 3, 2}, {0x03, 1, 3, 3}, {0x68, 1, 3, 4}, {0x08, 1, 3, 5},
        {0xFB, 1, 3, 6}, {0x72, 1, 3, 7}, {0x76, 1, 3, 8}, {0x16, 6, 3, 9}}},
      {"LongSecondLRetried",
       true,
       {{0x68, 1, 3, 1}, {0x03, 1, 3, 2}, {0x04, 0, 3, 2}, {0x03, 1, 3, 3}}},
      {"LongSecondStartRetried",
       true,
       {{0x68, 1, 3, 1}, {0x00, 1, 3, 2}, {0x00, 1, 3, 3}, {0x16, 0, 3, 3}, {0x68, 1, 3, 4}}},
      {"LongStopRetried",
       true,
       {{0x68, 1, 3, 1}, {0x01, 1, 3, 2}, {0x01, 1, 3, 3}, {0x68, 1, 3, 4}, {0x33, 1, 3, 5},
        {0x33, 1, 3, 6}, {0x15, 0, 3, 6}, {0x33, 0, 3, 6}, {0x16, 4, 3, 7}}},
      // L = 0: 68 00 00 68 CS 16, correct when CS is 0.
      {"LongZeroLength",
       true,
       {{0x68, 1, 3, 1}, {0x00, 1, 3, 2}, {0x00, 1, 3, 3}, {0x68, 1, 3, 4}, {0x00, 1, 3, 5},
        {0x16, 4, 3, 6}}},
      {"LongZeroLengthBadChecksum",
       true,
       {{0x68, 1, 3, 1}, {0x00, 1, 3, 2}, {0x00, 1, 3, 3}, {0x68, 1, 3, 4}, {0x01, 1, 3, 5},
        {0x16, 6, 3, 6}}},
      // Inside a frame the special bytes are plain data.
      {"LongDataMayHoldFramingBytes",
       true,
       {{0x68, 1, 3, 1}, {0x04, 1, 3, 2}, {0x04, 1, 3, 3}, {0x68, 1, 3, 4}, {0x10, 1, 3, 5},
        {0xE5, 1, 3, 6}, {0x00, 1, 3, 7}, {0x16, 1, 3, 8}, {0x0B, 1, 3, 9}, {0x16, 4, 3, 10}}},
      {"LongCompleteHolds",
       true,
       {{0x68, 1, 3, 1}, {0x00, 1, 3, 2}, {0x00, 1, 3, 3}, {0x68, 1, 3, 4}, {0x00, 1, 3, 5},
        {0x16, 4, 3, 6}, {0x16, 0, 3, 6}, {0x68, 0, 3, 6}}},
  };
  return all;
}

TEST(ReceiveByte, SequencesGiveTheExpectedResults) {
  for (const Sequence& s : sequences()) {
    LinkFrameBuffer buffer = freshBuffer();
    if (s.reset) resetReceiver(buffer);
    for (size_t i = 0; i < s.steps.size(); ++i) {
      const Step& step = s.steps[i];
      EXPECT_EQ(receiveByte(buffer, step.byte), step.result) << s.name << ", step " << i;
      EXPECT_EQ(buffer.state, step.state) << s.name << ", step " << i;
      EXPECT_EQ(buffer.length, step.length) << s.name << ", step " << i;
    }
  }
}

TEST(ReceiveByte, BuildLeavesTheStateAndResetLeavesBuiltBytesInPlace) {
  LinkFrameBuffer buffer = freshBuffer();
  resetReceiver(buffer);
  buildShortFrame(buffer, 0xFB, 0x5B);
  EXPECT_EQ(buffer.state, receiveHunting);
  EXPECT_EQ(buffer.length, 5);
  resetReceiver(buffer);
  EXPECT_EQ(buffer.length, 0);
  EXPECT_EQ(buffer.state, receiveHunting);
  EXPECT_EQ(std::memcmp(buffer.bytes, "\x10\x5B\xFB\x56\x16", 5), 0);
}

TEST(ReceiveByte, LongestFrameThenEndlessBytesWithoutReset) {
  LinkFrameBuffer buffer = freshBuffer();
  std::vector<uint8_t> data(longFrameMaxData, 0x2F);
  ASSERT_EQ(buildLongFrame(buffer, 0xFB, 0x53, data.data(), data.size()), 1);
  const std::vector<uint8_t> frame = contents(buffer);
  resetReceiver(buffer);
  for (size_t i = 0; i + 1 < frame.size(); ++i) ASSERT_EQ(receiveByte(buffer, frame[i]), 1);
  ASSERT_EQ(receiveByte(buffer, frame.back()), receiveLongComplete);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(receiveByte(buffer, static_cast<uint8_t>(i)), receiveRejected);
    ASSERT_EQ(buffer.length, 261);
  }
  EXPECT_EQ(contents(buffer), frame);
}

TEST(ReceiveByte, BuildWithoutResetNeverOverruns) {
  // A caller that builds the longest frame and forgets the reset keeps feeding bytes.
  for (uint8_t first : {uint8_t(0x10), uint8_t(0x68)}) {
    LinkFrameBuffer buffer = freshBuffer();
    resetReceiver(buffer);
    std::vector<uint8_t> data(longFrameMaxData, 0x68);
    ASSERT_EQ(buildLongFrame(buffer, 0xFB, 0x53, data.data(), data.size()), 1);
    EXPECT_EQ(receiveByte(buffer, first), receiveAccepted);
    EXPECT_EQ(buffer.length, 262);
    for (int i = 0; i < 600; ++i) {
      receiveByte(buffer, static_cast<uint8_t>(i));
      ASSERT_LE(buffer.length, linkFrameCapacity);
    }
  }
}

TEST(ReceiveByte, RandomStreamStaysInBoundsAndReportsOnlyValidFrames) {
  std::mt19937 rng(7);
  // Bytes biased toward framing characters so that frames really start and complete.
  const uint8_t framing[] = {0x10, 0x68, 0x16, 0xE5, 0x00};
  LinkFrameBuffer buffer = freshBuffer();
  resetReceiver(buffer);
  size_t counts[7] = {};
  size_t checkedFrames = 0;
  bool orderBroken = false;  // a build without the reset that should follow it
  constexpr int total = 3000000;
  for (int i = 0; i < total; ++i) {
    const uint32_t r = rng();
    const uint32_t pick = r % 1000;
    if (pick < 2) {
      resetReceiver(buffer);
      orderBroken = false;
      continue;
    }
    if (pick < 4) {
      // A request goes out in between: build, then (usually) the reset of the calling order.
      uint8_t data[longFrameMaxData];
      const size_t n = (r >> 10) % (longFrameMaxData + 1);
      for (size_t k = 0; k < n; ++k) data[k] = static_cast<uint8_t>(k * 31 + r);
      if (pick == 2) buildLongFrame(buffer, 0xFB, 0x53, data, n);
      else buildShortFrame(buffer, 0xFB, 0x5B);
      if ((r >> 20) % 8 != 0) resetReceiver(buffer);
      else orderBroken = true;
      ASSERT_LE(buffer.length, linkFrameCapacity);
      continue;
    }
    const uint8_t b = pick < 300 ? framing[(r >> 10) % 5]
                                 : pick < 330 ? static_cast<uint8_t>((r >> 10) % 4)  // small L
                                              : static_cast<uint8_t>(r >> 16);
    const ReceiveResult result = receiveByte(buffer, b);
    ASSERT_GE(result, 0);
    ASSERT_LE(result, 6);
    ++counts[result];
    ASSERT_LE(buffer.length, linkFrameCapacity);
    ASSERT_LE(buffer.state, receiveLongFrame);
    // Only a receiver used in the calling order promises whole frames.
    if (!orderBroken && result == receiveShortComplete) {
      ASSERT_TRUE(isValidShortFrame(buffer.bytes, buffer.length));
    } else if (!orderBroken && result == receiveLongComplete) {
      ASSERT_TRUE(isValidLongFrame(buffer.bytes, buffer.length));
    } else if (!orderBroken && result == receiveLongBadChecksum) {
      ASSERT_TRUE(hasLongFrameLayout(buffer.bytes, buffer.length));
      ASSERT_FALSE(isValidLongFrame(buffer.bytes, buffer.length));
    }
    if (!orderBroken && result >= receiveShortComplete && result != receiveSingleAck) {
      ++checkedFrames;
    }
    if (result > receiveAccepted) {
      resetReceiver(buffer);
      orderBroken = false;
    }
  }
  // Every kind of result must really have occurred, or the stream tested little.
  for (int k = 0; k <= 6; ++k) EXPECT_GT(counts[k], 0u) << "result " << k << " never seen";
  EXPECT_GT(checkedFrames, 100u);
}

}  // namespace
