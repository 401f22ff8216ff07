// The stick's byte stream taken apart into frames: however the bytes are split over wake-ups,
// the same frames come out in order; oversize and stalled frames are dropped and the stream
// goes on with the next frame.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dongle/dongle_frame_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Collected : DongleFrameSink {
  std::vector<Bytes> frames;  // code, announced length (two bytes), then the payload
  void onDongleFrame(const DongleFrameIn& frame) override {
    Bytes f{frame.code, uint8_t(frame.announcedLength), uint8_t(frame.announcedLength >> 8)};
    f.insert(f.end(), frame.payload, frame.payload + frame.count);
    frames.push_back(f);
  }
};

Bytes frameOf(uint8_t code, size_t length, uint8_t fill) {
  Bytes f{code, uint8_t(length), uint8_t(length >> 8)};
  for (size_t i = 0; i < length; ++i) f.push_back(uint8_t(fill + i));
  return f;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(DongleFrameReader, EverySplitOfTheStreamGivesTheSameFramesInOrder) {
  const std::vector<Bytes> frames = {frameOf(0x20, 0, 0), frameOf(0x44, 30, 1), frameOf(0x50, 0, 0),
                                     frameOf(0x44, dongleFramePayloadMax, 7), frameOf(0x0D, 1, 9)};
  const Bytes stream = concat(frames);
  std::mt19937 random(7);
  for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(33), stream.size(), size_t(0)}) {
    DongleFrameReader reader;
    Collected out;
    size_t handed = 0;
    for (size_t at = 0; at < stream.size();) {
      size_t n = piece != 0 ? piece : 1 + random() % 64;  // 0: random pieces
      n = std::min(n, stream.size() - at);
      handed += feedDongleBytes(reader, stream.data() + at, n, 0, out);
      at += n;
    }
    EXPECT_EQ(frames, out.frames) << "pieces of " << piece;
    EXPECT_EQ(frames.size(), handed);
    EXPECT_FALSE(dongleFramePending(reader));
  }
}

TEST(DongleFrameReader, OversizeFrameIsPassedOverAndTheNextStartsInPlace) {
  const size_t huge = dongleFramePayloadMax + 1;
  const Bytes stream = concat({frameOf(0x44, huge, 0), frameOf(0x20, 0, 0)});
  DongleFrameReader reader;
  Collected out;
  EXPECT_EQ(1u, feedDongleBytes(reader, stream.data(), stream.size(), 0, out));
  EXPECT_EQ(std::vector<Bytes>{frameOf(0x20, 0, 0)}, out.frames);
}

// A frame begun and stalled is dropped once its bound has passed, never before; the stream
// then starts afresh, whether the frame stalled in its header, its payload or while skipping.
TEST(DongleFrameReader, StalledFrameIsDroppedAtItsDeadline) {
  const Bytes good = frameOf(0x44, 4, 1);
  for (const Bytes& begun : {Bytes{0x44}, Bytes{0x44, 0x10, 0x00, 1, 2}, Bytes{0x44, 0xFF, 0xFF, 1}}) {
    DongleFrameReader reader;
    Collected out;
    feedDongleBytes(reader, begun.data(), begun.size(), 1000, out);
    ASSERT_TRUE(dongleFramePending(reader));
    const long long deadline = dongleFrameDeadline(reader);
    EXPECT_GE(deadline, 1000 + dongleFrameWaitMs);
    EXPECT_LE(deadline, 1000 + dongleFrameWaitMaxMs);
    EXPECT_FALSE(dropStalledDongleFrame(reader, deadline - 1));
    EXPECT_TRUE(dropStalledDongleFrame(reader, deadline));
    EXPECT_FALSE(dongleFramePending(reader));
    EXPECT_EQ(-1, dongleFrameDeadline(reader));
    feedDongleBytes(reader, good.data(), good.size(), deadline + 1, out);
    EXPECT_EQ(std::vector<Bytes>{good}, out.frames);
  }
}

}  // namespace
