// M-Bus link-layer frames (EN 13757-2): building short and long frames, receiving byte by byte.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t linkFrameCapacity = 262;  // the longest long frame is 261 bytes
constexpr size_t longFrameMaxData = 253;   // L = data + 2 must fit in a byte
constexpr uint8_t converterLinkAddress = 0xFB;

enum ReceiveState : uint8_t {
  receiveInactive = 0,  // before the first reset: every byte is rejected
  receiveHunting = 1,
  receiveShortFrame = 2,
  receiveLongFrame = 3,
};

enum ReceiveResult : int {
  receiveRejected = 0,
  receiveAccepted = 1,
  receiveZeroByte = 2,
  receiveShortComplete = 3,
  receiveLongComplete = 4,
  receiveSingleAck = 5,
  receiveLongBadChecksum = 6,
};

// One per process, shared by the builders and the receiver; all zero at start.
struct LinkFrameBuffer {
  uint8_t bytes[linkFrameCapacity];
  uint16_t length;
  uint8_t longFrameL;
  ReceiveState state;
};

void buildShortFrame(LinkFrameBuffer& buffer, uint8_t a, uint8_t c);

// Returns 1, or 0 (buffer untouched) when n exceeds longFrameMaxData.
int buildLongFrame(LinkFrameBuffer& buffer, uint8_t a, uint8_t c, const uint8_t* data, size_t n);

// The frame just built or received, and its length.
const uint8_t* frameBuffer(const LinkFrameBuffer& buffer, uint16_t& length);

void resetReceiver(LinkFrameBuffer& buffer);

ReceiveResult receiveByte(LinkFrameBuffer& buffer, uint8_t b);
