// M-Bus link-layer frames: the builders and the byte-by-byte receiver over one shared buffer.
#include "mbus/link_frame.h"

#include <cassert>
#include <cstring>

namespace {

constexpr uint8_t shortFrameStart = 0x10;
constexpr uint8_t longFrameStart = 0x68;
constexpr uint8_t frameStop = 0x16;
constexpr uint8_t singleCharacterAck = 0xE5;
constexpr uint8_t zeroByte = 0x00;

constexpr uint16_t shortFrameLength = 5;
constexpr uint16_t shortFrameStopIndex = 4;
constexpr uint16_t longFrameFirstL = 1;
constexpr uint16_t longFrameSecondL = 2;
constexpr uint16_t longFrameSecondStart = 3;
constexpr uint16_t longFrameCIndex = 4;      // the checksum runs from C on
constexpr uint16_t longFrameOverhead = 6;    // 68 L L 68 ... CS 16 around the L bytes
constexpr uint16_t longFrameHeaderBytes = 6; // 68 L L 68 C A before the data

static_assert(longFrameMaxData + 2 <= 0xFF, "L must fit in a byte");
static_assert(longFrameMaxData + 8 <= linkFrameCapacity, "a built frame must fit");
static_assert(0xFF + longFrameOverhead <= linkFrameCapacity, "a received frame must fit");

uint8_t checksum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

// Every received byte goes through here: the one place that writes at `length`.
ReceiveResult storeByte(LinkFrameBuffer& buffer, uint8_t b, ReceiveResult result) {
  if (buffer.length >= linkFrameCapacity) return receiveRejected;
  buffer.bytes[buffer.length] = b;
  ++buffer.length;
  assert(buffer.length <= linkFrameCapacity);
  return result;
}

ReceiveResult receiveHuntingByte(LinkFrameBuffer& buffer, uint8_t b) {
  switch (b) {
    case shortFrameStart:
    case longFrameStart: {
      const ReceiveResult result = storeByte(buffer, b, receiveAccepted);
      if (result == receiveAccepted) {
        buffer.state = b == shortFrameStart ? receiveShortFrame : receiveLongFrame;
      }
      return result;
    }
    case singleCharacterAck:
      return receiveSingleAck;
    case zeroByte:
      return receiveZeroByte;
    default:
      return receiveRejected;
  }
}

ReceiveResult receiveShortFrameByte(LinkFrameBuffer& buffer, uint8_t b) {
  if (buffer.length < shortFrameStopIndex) return storeByte(buffer, b, receiveAccepted);
  // A complete frame holds until the caller resets; nothing may follow it into the buffer.
  if (buffer.length > shortFrameStopIndex) return receiveRejected;
  if (b != frameStop) return receiveRejected;
  storeByte(buffer, b, receiveAccepted);
  const uint8_t expected = static_cast<uint8_t>(buffer.bytes[1] + buffer.bytes[2]);
  if (buffer.bytes[3] == expected) return receiveShortComplete;
  // A short frame with a wrong checksum is dropped: hunt for the next start byte.
  buffer.state = receiveHunting;
  buffer.length = 0;
  return receiveRejected;
}

ReceiveResult receiveLongFrameByte(LinkFrameBuffer& buffer, uint8_t b) {
  const uint16_t stopIndex = static_cast<uint16_t>(buffer.longFrameL + longFrameOverhead - 1);
  switch (buffer.length) {
    case longFrameFirstL:
      buffer.longFrameL = b;
      return storeByte(buffer, b, receiveAccepted);
    case longFrameSecondL:
      if (b != buffer.longFrameL) return receiveRejected;
      return storeByte(buffer, b, receiveAccepted);
    case longFrameSecondStart:
      if (b != longFrameStart) return receiveRejected;
      return storeByte(buffer, b, receiveAccepted);
    default:
      break;
  }
  if (buffer.length < longFrameCIndex || buffer.length > stopIndex) {
    // Before the header (never reached through the receiver) or after a complete frame.
    return receiveRejected;
  }
  if (buffer.length < stopIndex) return storeByte(buffer, b, receiveAccepted);
  if (b != frameStop) return receiveRejected;
  if (storeByte(buffer, b, receiveAccepted) != receiveAccepted) return receiveRejected;
  const uint8_t sum = checksum(buffer.bytes + longFrameCIndex, buffer.longFrameL);
  return sum == buffer.bytes[longFrameCIndex + buffer.longFrameL] ? receiveLongComplete
                                                                   : receiveLongBadChecksum;
}

}  // namespace

void buildShortFrame(LinkFrameBuffer& buffer, uint8_t a, uint8_t c) {
  buffer.bytes[0] = shortFrameStart;
  buffer.bytes[1] = c;
  buffer.bytes[2] = a;
  buffer.bytes[3] = static_cast<uint8_t>(c + a);
  buffer.bytes[4] = frameStop;
  buffer.length = shortFrameLength;
}

int buildLongFrame(LinkFrameBuffer& buffer, uint8_t a, uint8_t c, const uint8_t* data, size_t n) {
  if (n > longFrameMaxData || (n > 0 && data == nullptr)) return 0;
  const uint8_t l = static_cast<uint8_t>(n + 2);
  buffer.bytes[0] = longFrameStart;
  buffer.bytes[1] = l;
  buffer.bytes[2] = l;
  buffer.bytes[3] = longFrameStart;
  buffer.bytes[4] = c;
  buffer.bytes[5] = a;
  if (n > 0) std::memcpy(buffer.bytes + longFrameHeaderBytes, data, n);
  buffer.bytes[longFrameHeaderBytes + n] = checksum(buffer.bytes + longFrameCIndex, l);
  buffer.bytes[longFrameHeaderBytes + n + 1] = frameStop;
  buffer.length = static_cast<uint16_t>(n + longFrameHeaderBytes + 2);
  assert(buffer.length <= linkFrameCapacity);
  return 1;
}

const uint8_t* frameBuffer(const LinkFrameBuffer& buffer, uint16_t& length) {
  length = buffer.length;
  return buffer.bytes;
}

void resetReceiver(LinkFrameBuffer& buffer) {
  buffer.state = receiveHunting;
  buffer.length = 0;
}

ReceiveResult receiveByte(LinkFrameBuffer& buffer, uint8_t b) {
  switch (buffer.state) {
    case receiveHunting:
      return receiveHuntingByte(buffer, b);
    case receiveShortFrame:
      return receiveShortFrameByte(buffer, b);
    case receiveLongFrame:
      return receiveLongFrameByte(buffer, b);
    default:
      return receiveRejected;  // inactive until the first reset
  }
}
