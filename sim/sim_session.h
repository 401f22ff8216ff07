// One simulated device behind the PTY: the wired converter or the wireless dongle with
// the converter behind it. Takes the bytes Quarn writes, keeps the transcript, and
// schedules what the device writes back, with the chosen faults applied.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "sim_converter.h"
#include "sim_frames.h"
#include "sim_meters.h"

enum class SimRole { wired, dongle };

struct SimFaults {
  size_t splitBytes;     // > 0: frames written in pieces of this size
  bool doubleFrames;     // each frame written twice in one write
  bool badChecksum;      // wired answers carry a wrong checksum
  bool stray;            // a stray 0x41 before every answer
  bool e5;               // REQ_UD2 answered with E5
  bool zero;             // REQ_UD2 answered with a lone 00
  bool silent;           // nothing is ever written
  bool nack;             // the dongle answers every frame with 1F 00 00
  bool hangupMidframe;   // after half an answer the PTY is closed and a new one linked
  bool flood;            // garbage at full speed
  bool stallMidpayload;  // half an answer, the rest after stallMs
  long announce;         // >= 0: after AB the dongle sends a frame announcing this length
  bool unknownStatus;    // the dongle reports 7E 00 00 after each beacon
  bool quietAir;         // no other meters' frames and no 0x0D frames
  long unplugAfterMs;    // >= 0: the device is pulled out this long after the start
  long unplugAfterAcks;  // > 0: or once it has accepted this many writes (Set Data, option bits)
  long replugAfterMs;    // >= 0: and put back at the same path this long after that
};

struct SimTiming {
  int replyMs;       // turnaround before an answer
  int sentMs;        // dongle: from ACK of 0xAC to the 0x50 report
  int beaconMs;      // dongle: converter radio frame period, 0 = none
  int splitDelayMs;  // pause between pieces of a split frame
  int stallMs;       // pause in the middle of a stalled answer
  int partialMs;     // an incomplete request older than this is dropped
};

constexpr size_t simActionBytes = 1400;
constexpr size_t simOutboxSize = 64;
constexpr uint8_t simDongleAck = 0x20;
constexpr uint8_t simDongleNack = 0x1F;
constexpr uint8_t simDongleSent = 0x50;
constexpr uint8_t simDongleStart = 0xAB;
constexpr uint8_t simDongleSend = 0xAC;
constexpr uint8_t simDonglePartner = 0x01;
constexpr uint8_t simDongleRadio = 0x8E;
constexpr uint8_t simDongleIgnored = 0x0D;
constexpr uint8_t simDongleUnknownStatus = 0x7E;

struct SimAction {
  uint8_t bytes[simActionBytes];
  size_t n;
  int64_t dueMs;
  bool hangup;  // close the PTY and link a new one instead of writing
};

// Converters behind one stick: conv and up to this many others.
constexpr size_t simOthersMax = 63;

struct SimSession {
  SimRole role;
  SimConverter conv;
  SimConverter others[simOthersMax];  // further converters the stick hears, each its own
  size_t otherCount;
  int64_t otherBeaconMs[simOthersMax];  // when each is next heard; 0: not yet placed
  size_t partnerIndex;  // 0: conv, i: others[i - 1]
  SimFaults faults;
  SimTiming timing;
  SimLinkReader linkReader;
  SimDongleReader dongleReader;
  int64_t lastInputMs;
  SimAction outbox[simOutboxSize];
  size_t outCount;
  FILE* transcript;  // may be null
  char lastLine[1400];
  unsigned requestCount;
  unsigned writesAccepted;  // Set Data and option bits accepted, by wire and over the air
  uint8_t partner[8];
  bool partnerSet;
  int64_t nextBeaconMs;
  unsigned beaconCount;
  uint32_t noiseSeed;
  SimPlayedMeter played[simPlayedMeterMax];  // --meters: they replace the built-in meters
  size_t playedCount;
  size_t scanRotation;  // first played meter of the next scan answer (it holds eight)
};

SimFaults simDefaultFaults();
SimTiming simDefaultTiming();

// Sets up the session with a default converter; adjust s.conv afterwards.
void simSessionInit(SimSession& s, SimRole role, const SimFaults& faults, const SimTiming& timing);

// Bytes written by Quarn at time nowMs.
void simSessionFeed(SimSession& s, const uint8_t* bytes, size_t n, int64_t nowMs);

// Time-driven work: beacons, flood, dropping stale partial requests.
void simSessionTick(SimSession& s, int64_t nowMs);

// Takes the earliest due action (due at or before nowMs). Returns false when none.
bool simSessionTakeDue(SimSession& s, int64_t nowMs, SimAction& out);

// Earliest due time among the scheduled actions, or -1.
int64_t simSessionNextDueMs(const SimSession& s);

// The converter the stick's partner frame chose (conv unless another one was chosen).
SimConverter& simPartnerConverter(SimSession& s);

// Forgets half-read requests (after a hang-up).
void simSessionResetInput(SimSession& s);

// The device was pulled out: half-read requests and unsent frames go with it; the converter
// behind it (slots, counter, the meters it hears) stays as it was.
void simSessionUnplug(SimSession& s);
