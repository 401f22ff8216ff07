// The simulated converter: its state (identity, counter, key, four slots, eight option
// bits, the meters it hears) and the verifier/executor of the messages sent to it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sim_crypto.h"

constexpr uint8_t simConverterLinkAddress = 0xFB;
constexpr uint8_t simDeviceTypeConverter = 0x36;
constexpr uint8_t simRadioManufacturer[2] = {0x8F, 0x19};
constexpr size_t simSlotCount = 4;
constexpr size_t simSlotRecordSize = 64;  // 0F 35 code slot + 60 bytes
constexpr size_t simOptionCount = 8;
constexpr size_t simWiredAddressOffset = 61;  // in a slot record
constexpr size_t simMeterMax = 8;  // one scan answer holds eight entries
constexpr size_t simAnswerMax = 128;
constexpr size_t simMessageMax = 255;

// Converter command codes.
constexpr uint8_t simCmdGetData = 0x92;
constexpr uint8_t simCmdSetData = 0x93;
constexpr uint8_t simCmdScan = 0x96;
constexpr uint8_t simCmdReadOptions = 0x97;
constexpr uint8_t simCmdWriteOptions = 0x98;

// Message fields.
constexpr uint8_t simCiPlain = 0x5A;
constexpr uint8_t simCiSecured = 0x90;
constexpr uint8_t simCiWiredInner = 0x5B;
constexpr uint8_t simCiWirelessInner = 0x72;
constexpr uint8_t simCiAnswerLong = 0x72;
constexpr uint8_t simCiAnswerRadio = 0x7A;
constexpr uint8_t simCFieldWired = 0x53;
constexpr uint8_t simCFieldWireless = 0x43;
constexpr uint8_t simCFieldAnswer = 0x08;
constexpr uint8_t simCFieldRadio = 0x44;
constexpr uint8_t simFill = 0x2F;
constexpr size_t simSecuredHeader = 32;

enum class SimLink { wired, wireless };

struct SimMeter {
  uint8_t address[8];  // manufacturer (2, LSB first), id (4, LSB first), version, type
  uint8_t rssi;
};

struct SimConverter {
  uint8_t id[4];  // identification number, least significant byte first
  uint16_t manufacturer;  // as carried in the wired long data header
  uint8_t version;
  uint16_t firmware;  // version record value, e.g. 0x0102
  uint32_t counter;   // last accepted message counter
  uint8_t key[simKeySize];
  uint8_t options[simOptionCount];
  uint8_t slots[simSlotCount][simSlotRecordSize];
  SimMeter meters[simMeterMax];
  size_t meterCount;
  uint8_t answerAccess;  // access number of the converter's own answers
  bool noRecords;        // answers carry neither the counter nor the version record
  bool silent;           // one of several behind a stick: never heard, never answers
  bool storesWrongly;    // Set Data keeps the wired address with its lowest bit flipped
};

enum class SimVerdict {
  accepted,
  badHeader,
  wrongAddress,
  badMac,
  staleCounter,
  badFill,
  plainNotAllowed,
  unknown,
};

// "accepted" or "refused: <reason>".
const char* simVerdictText(SimVerdict v);

struct SimRequestResult {
  SimVerdict verdict;
  const char* kind;      // "plain", "secured" or "unknown"
  char decoded[400];     // the command in words, with counter and access number
  uint8_t answer[simAnswerMax];  // answer payload (0F 35 ...), when there is one
  size_t answerLength;
  bool ackOnly;          // accepted, and only an acknowledgement fits
};

// Defaults: id 12345678, KAM, version 1, firmware 0x0102, counter 0, key 00..0F,
// option bit 0 on (plain wired messages allowed), four slots and a few meters.
void simConverterInit(SimConverter& c);

// Verifies and, when accepted, executes one message (C-field first, as Quarn builds it).
void simHandleMessage(SimConverter& c, SimLink link, const uint8_t* msg, size_t n,
                      SimRequestResult& out);

// The counter record 04 FD 08 + counter and the version record 02 FD 0C + firmware:
// 12 bytes into out (cap >= 12); returns 12, or 0 when the converter sends no records.
size_t simStatusRecords(const SimConverter& c, uint8_t* out, size_t cap);

// Wired answer: long frame C 0x08, A 0xFB, CI 0x72, 12-byte long data header, payload,
// then the status records. badChecksum corrupts the checksum. Returns the length or 0.
size_t simBuildWiredAnswer(SimConverter& c, const uint8_t* payload, size_t n, bool badChecksum,
                           uint8_t* out, size_t cap);

// Converter radio frame (the payload of a dongle frame): C 0x44, 8F 19, id, version,
// 0x36, CI 0x7A, access, status, 2 configuration bytes, then the payload from byte 14,
// then the status records. Returns the length or 0.
size_t simBuildRadioFrame(SimConverter& c, const uint8_t* payload, size_t n, uint8_t* out,
                          size_t cap);

// Address the converter expects in a secured message on the given link.
void simExpectedAddress(const SimConverter& c, SimLink link, uint8_t out[8]);

// Payload length of a command code, 0 for an unknown code.
size_t simCommandLength(uint8_t code);
