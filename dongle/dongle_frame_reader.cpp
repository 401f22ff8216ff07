// The stick's byte stream taken apart into frames without waiting.
#include "dongle/dongle_frame_reader.h"

#include <algorithm>
#include <cstring>

#include "serial/serial_trace.h"
#include "text/bytes.h"

namespace {

size_t announcedLength(const uint8_t* header) {
  return readLe16(header + 1);
}

void deliver(DongleFrameReader& reader, DongleFrameSink& sink) {
  DongleFrameIn frame{reader.header[0], static_cast<uint16_t>(reader.announced), reader.payload,
                      reader.payloadCount};
  resetDongleFrameReader(reader);
  sink.onDongleFrame(frame);
}

}  // namespace

void resetDongleFrameReader(DongleFrameReader& reader) {
  reader.headerCount = 0;
  reader.announced = 0;
  reader.payloadCount = 0;
  reader.skipLeft = 0;
  reader.startedMs = -1;
}

size_t feedDongleBytes(DongleFrameReader& reader, const uint8_t* bytes, size_t count, long long nowMs,
                       DongleFrameSink& sink) {
  size_t frames = 0;
  size_t at = 0;
  while (at < count) {
    if (reader.startedMs < 0) reader.startedMs = nowMs;
    if (reader.skipLeft > 0) {
      const size_t passed = std::min(reader.skipLeft, count - at);
      reader.skipLeft -= passed;
      at += passed;
      if (reader.skipLeft == 0) resetDongleFrameReader(reader);
      continue;
    }
    if (reader.headerCount < dongleFrameHeaderSize) {
      reader.header[reader.headerCount++] = bytes[at++];
      if (reader.headerCount < dongleFrameHeaderSize) continue;
      reader.announced = announcedLength(reader.header);
      if (reader.announced > sizeof reader.payload) {
        serialTrace("Dongle frame 0x%02X dropped: %u payload bytes do not fit %u.\n", reader.header[0],
                    static_cast<unsigned>(reader.announced), static_cast<unsigned>(sizeof reader.payload));
        reader.skipLeft = reader.announced;
        continue;
      }
    } else {
      const size_t taken = std::min(reader.announced - reader.payloadCount, count - at);
      std::memcpy(reader.payload + reader.payloadCount, bytes + at, taken);
      reader.payloadCount += taken;
      at += taken;
    }
    if (reader.payloadCount == reader.announced) {
      deliver(reader, sink);
      ++frames;
    }
  }
  return frames;
}

bool dongleFramePending(const DongleFrameReader& reader) { return reader.startedMs >= 0; }

long long dongleFrameDeadline(const DongleFrameReader& reader) {
  if (reader.startedMs < 0) return -1;
  // An oversize frame gets the wait of the largest real one: the stick sends nothing larger.
  const size_t waited = std::min(reader.announced, sizeof reader.payload);
  return reader.startedMs + dongleFrameWaitMs + static_cast<long long>(waited / dongleFrameBytesPerMs);
}

bool dropStalledDongleFrame(DongleFrameReader& reader, long long nowMs) {
  if (reader.startedMs < 0 || nowMs < dongleFrameDeadline(reader)) return false;
  if (reader.headerCount == dongleFrameHeaderSize && reader.skipLeft == 0) {
    serialTrace("Dongle frame 0x%02X dropped: %u payload bytes announced, not all arrived.\n",
                reader.header[0], static_cast<unsigned>(reader.announced));
  }
  resetDongleFrameReader(reader);
  return true;
}
