// Framers of the simulator: M-Bus link frames (wired) and dongle frames (USB stick).
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint8_t simShortStart = 0x10;
constexpr uint8_t simLongStart = 0x68;
constexpr uint8_t simStopByte = 0x16;
constexpr uint8_t simSingleAck = 0xE5;
constexpr size_t simLinkFrameMax = 261;  // L = 255

// Long frame 68 L L 68 C A data CS 16 into out; returns its length, 0 when data is too
// long (more than 253 bytes) or out too small.
size_t simBuildLongFrame(uint8_t c, uint8_t a, const uint8_t* data, size_t n, uint8_t* out,
                         size_t cap);

// What the link reader found.
enum class SimLinkEvent { none, shortFrame, longFrame, badChecksum, noise };

// Collects bytes from the master and cuts complete link frames out of them. Bytes that
// cannot start a frame are reported as noise; a frame that stays incomplete is kept
// until more bytes come (the caller drops it with simLinkReaderReset after a pause).
struct SimLinkReader {
  uint8_t bytes[512];
  size_t count;
};

void simLinkReaderReset(SimLinkReader& r);
// Appends bytes; what does not fit is dropped (returns how many were taken).
size_t simLinkReaderPush(SimLinkReader& r, const uint8_t* bytes, size_t n);
// Takes the next event; frame bytes go to out (cap >= 261), their count to outLength.
SimLinkEvent simLinkReaderNext(SimLinkReader& r, uint8_t* out, size_t cap, size_t& outLength);

// Dongle frames: code, length LSB, length MSB, payload.
constexpr size_t simDongleHeader = 3;
constexpr size_t simDonglePayloadMax = 600;

size_t simBuildDongleFrame(uint8_t code, const uint8_t* payload, size_t n, uint8_t* out,
                           size_t cap);

struct SimDongleReader {
  uint8_t bytes[simDongleHeader + simDonglePayloadMax];
  size_t count;
  size_t skip;  // bytes of an over-long frame still to be thrown away
};

enum class SimDongleEvent { none, frame, tooLong };

void simDongleReaderReset(SimDongleReader& r);
size_t simDongleReaderPush(SimDongleReader& r, const uint8_t* bytes, size_t n);
// A complete frame: code, payload copied to out (cap >= simDonglePayloadMax), length.
// tooLong: a frame announcing more than simDonglePayloadMax bytes; its bytes are skipped.
SimDongleEvent simDongleReaderNext(SimDongleReader& r, uint8_t& code, uint8_t* out, size_t cap,
                                   size_t& outLength, size_t& announced);
