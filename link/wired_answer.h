// What a wake-up of the wired port does with the bytes it read from the converter.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/converter_identity.h"
#include "codec/key_list.h"
#include "codec/link_state.h"
#include "mbus/link_frame.h"
#include "text/log.h"

constexpr size_t wiredReadMax = 256;            // bytes read from the port per tick
constexpr size_t wiredAnswerPayloadOffset = 19;  // after CI and the 12-byte long data header

// Receives each complete long frame with a correct checksum, in arrival order.
class WiredFrameListener {
public:
  virtual ~WiredFrameListener() = default;
  virtual void onLongFrame(const uint8_t* frame, uint16_t length) = 0;
  // Every other reply logged: a single character, a short frame, a bad checksum.
  virtual void onOtherReply(ReceiveResult result) { (void)result; }
};

// Feeds the bytes to the receiver, logs every complete frame and single character, and
// hands good long frames to the listener. A rejected byte drops the rest of the tick's
// bytes without a reset, so a frame still arriving goes on with the next tick. Returns how
// many frames and single characters were logged.
size_t handleWiredBytes(LinkFrameBuffer& receiver, const uint8_t* bytes, size_t count, Log& log,
                      WiredFrameListener& listener);

// The answer payload of a long frame: from byte 19 up to, not including, the checksum.
// Returns nullptr (and length 0) when the frame carries no payload there.
const uint8_t* wiredAnswerPayload(const uint8_t* frame, uint16_t length, uint16_t& payloadLength);

// Takes the converter's address, message counter and firmware version from a long frame
// (CI 0x72 or 0x90) and logs what it found. The returned texts are for the window. A CI 0x72
// answer too short for the address keeps the address but still moves the counter.
IdentityUpdate updateWiredIdentity(const uint8_t* frame, uint16_t length, ConverterLinkState& link,
                                   const ConverterKeyList& keys, Log& log);
