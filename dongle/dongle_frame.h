// Frames exchanged with the dongle: code byte, 16-bit little-endian payload length, payload.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "dongle/dongle_codes.h"
#include "dongle/dongle_link.h"

// Lays out code, length (least significant byte first) and the n payload bytes in frame.
// Returns the frame's length, or 0 with nothing written when it does not fit into capacity.
size_t buildDongleFrame(uint8_t code, const uint8_t* payload, size_t n, uint8_t* frame, size_t capacity);

// Writes the 3 + n bytes of frame (n from bytes 1 and 2). frameSize bounds what may be read.
// Returns 1 when all bytes went out; else traces the two failure lines, puts the reason into
// *reason when given, and returns 0.
int writeDongleFrame(DongleLink& link, const uint8_t* frame, size_t frameSize,
                     std::string* reason = nullptr);

// Received bytes waiting, or 0 when the query fails or the link is not a dongle link.
int dongleBytesQueued(DongleLink& link);

// Waits until count bytes are queued (at most dongleFrameWaitMs plus the per-byte margin),
// then reads them. Returns the count read, or 0 on failure or time-out (nothing consumed then).
long readDongleBytes(DongleLink& link, uint8_t* buffer, size_t count);

enum DongleFrameStatus : int { dongleFrameNone = 0, dongleFrameRead = 1 };

struct DongleFrameResult {
  DongleFrameStatus status = dongleFrameNone;
  uint8_t code = 0;
  uint16_t length = 0;       // payload length announced in the header
  size_t payloadCount = 0;   // payload bytes read into the buffer
};

// Reads one frame once its header has begun to arrive (3 or more bytes queued), payload into
// payload[0..capacity). A frame whose payload does not arrive in time, or that announces more
// than capacity, is consumed, dropped with a trace line and reported as none. Either way the
// call returns within dongleFrameWaitMaxMs of waiting.
DongleFrameResult readDongleFrame(DongleLink& link, uint8_t* payload, size_t capacity);
