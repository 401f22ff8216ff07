// The stick's frames: their layout, the codes exchanged and how long a frame may take to arrive.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t dongleFrameHeaderSize = 3;
constexpr size_t dongleFramePayloadMax = 524;  // the dispatcher's payload buffer

// Codes Quarn sends.
constexpr uint8_t dongleCodeStart = 0xAB;
constexpr uint8_t dongleCodeMessage = 0xAC;
constexpr uint8_t dongleCodePartner = 0x01;
// Codes Quarn receives without payload.
constexpr uint8_t dongleCodeAck = 0x20;
constexpr uint8_t dongleCodeNack = 0x1F;
constexpr uint8_t dongleCodeSent = 0x50;
constexpr uint8_t dongleCodeIgnored = 0x0D;

// How long a begun frame may take to arrive whole before it is dropped: a base wait plus a
// margin per byte (2 000 000 baud 8E1 carries about 180 bytes per millisecond, so a whole
// 524-byte frame takes under 3 ms). The wait runs on the GUI thread: the largest frame gives up
// after 65 ms, which keeps the window answering within 100 ms while a stick stalls mid-frame.
constexpr int dongleFrameWaitMs = 60;
constexpr int dongleFrameBytesPerMs = 100;
constexpr int dongleFrameWaitMaxMs =
    dongleFrameWaitMs + static_cast<int>(dongleFramePayloadMax) / dongleFrameBytesPerMs;
