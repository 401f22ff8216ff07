// What a wake-up of the stick's port does with one frame read from the stick.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/heard_meters.h"
#include "codec/link_state.h"
#include "link/heard_converters.h"
#include "dongle/dongle_frame_reader.h"
#include "text/log.h"

constexpr size_t converterFramePayloadOffset = 14;  // answer payload inside a converter radio frame

// Receives the answer payload of each converter radio frame; returns whether it took it.
class ConverterAnswerListener {
public:
  virtual ~ConverterAnswerListener() = default;
  virtual bool onConverterAnswer(const uint8_t* payload, size_t length) = 0;
};


// True when the payload is one of the converter's own radio frames.
bool isConverterFrame(uint8_t code, const uint8_t* payload, size_t count);

// A converter frame (isConverterFrame) from the partner, or any one while none is chosen. With
// several converters about, only the partner's frames answer requests and move its counter.
bool isPartnerFrame(const ConverterLinkState& link, const uint8_t* payload);

// Logs status reports; takes counter and firmware version from converter frames, records
// the converter, logs the frame and hands its answer payload on. Other frames are dropped.
// Returns whether the listener took an answer from the frame.
bool dispatchDongleFrame(const DongleFrameIn& frame, ConverterLinkState& link,
                         HeardConverterList& heard, Log& log, ConverterAnswerListener& listener);

// A meter's radio frame (any frame with a payload that is not the converter's and not code 0x0D)
// counted in the heard-meter table at nowMs; nothing is logged and nothing else changes. A frame
// too short or too broken to name a meter is left out. Returns whether it was counted.
bool recordMeterFrame(const DongleFrameIn& frame, HeardMeterTable& meters, long long nowMs);
