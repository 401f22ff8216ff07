// Takes the stick's byte stream apart into frames without ever waiting: bytes go in as the port
// delivers them, every complete frame comes out at once, and a frame begun but not completed
// within its bound is dropped when the caller's timer says so.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dongle/dongle_codes.h"

// One frame as it came from the stick: the payload length its header announced and the bytes.
struct DongleFrameIn {
  uint8_t code;
  uint16_t announcedLength;
  const uint8_t* payload;
  size_t count;
};

class DongleFrameSink {
public:
  virtual ~DongleFrameSink() = default;
  virtual void onDongleFrame(const DongleFrameIn& frame) = 0;
};

struct DongleFrameReader {
  uint8_t header[dongleFrameHeaderSize] = {};
  size_t headerCount = 0;
  size_t announced = 0;      // payload length of the frame under way
  size_t payloadCount = 0;   // payload bytes held
  size_t skipLeft = 0;       // bytes still to pass over of a frame too large to hold
  long long startedMs = -1;  // when the frame under way began; -1 between frames
  uint8_t payload[dongleFramePayloadMax] = {};
};

// Takes count bytes that arrived at nowMs and hands every frame they complete to sink, in order.
// Returns the number of frames handed on. A header announcing more than the payload buffer holds
// is traced and its payload passed over, so the next frame starts in place.
size_t feedDongleBytes(DongleFrameReader& reader, const uint8_t* bytes, size_t count, long long nowMs,
                       DongleFrameSink& sink);

// Whether a frame is under way, and the time by which it must be complete (-1 when none).
bool dongleFramePending(const DongleFrameReader& reader);
long long dongleFrameDeadline(const DongleFrameReader& reader);

// Drops the frame under way when its deadline has passed, with a trace line; returns whether it did.
bool dropStalledDongleFrame(DongleFrameReader& reader, long long nowMs);

// Forgets any frame under way without a word (the port was closed or reopened).
void resetDongleFrameReader(DongleFrameReader& reader);
