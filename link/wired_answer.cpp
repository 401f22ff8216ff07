// Wired answers: the per-tick result table and the converter identity update.
#include "link/wired_answer.h"

#include <cstdio>

#include "codec/message_codec.h"
#include "text/bytes.h"
#include "text/hex_text.h"
#include "text/records.h"

namespace {

constexpr size_t ciOffset = 6;
constexpr size_t addressOffset = 7;      // 8 address bytes of the long data header
constexpr size_t securedCounterOffset = 11;
constexpr size_t frameTrailer = 2;       // checksum and stop byte

// Bytes of the frame that are user data (the checksum and stop byte are not).
size_t userDataEnd(uint16_t length) { return length >= frameTrailer ? length - frameTrailer : 0; }

void logCounter(Log& log, uint32_t counter) {
  char line[64];
  std::snprintf(line, sizeof line, "Message counter found: %u\n", counter);
  log.logText(line, logStylePlain);
}

void logFrame(Log& log, const char* title, const uint8_t* bytes, size_t count) {
  log.logText(title, logStylePlain);
  log.logHexDump(bytes, count, logStylePlain);
}

}  // namespace

size_t handleWiredBytes(LinkFrameBuffer& receiver, const uint8_t* bytes, size_t count, Log& log,
                        WiredFrameListener& listener) {
  size_t logged = 0;
  for (size_t i = 0; i < count; ++i) {
    ReceiveResult result = receiveByte(receiver, bytes[i]);
    if (result == receiveAccepted) continue;
    if (result == receiveRejected) return logged;
    ++logged;

    uint16_t length = 0;
    const uint8_t* frame = frameBuffer(receiver, length);
    if (result != receiveLongComplete) listener.onOtherReply(result);
    switch (result) {
      case receiveZeroByte:
        logFrame(log, "<<< Answer\n", bytes, count);
        break;
      case receiveShortComplete:
        logFrame(log, "<<< Answer\n", frame, length);
        break;
      case receiveLongComplete:
        logFrame(log, "<<< Answer\n", frame, length);
        listener.onLongFrame(frame, length);
        break;
      case receiveSingleAck:
        log.logText("<<< Answer single byte ACK.\n", logStylePlain);
        break;
      case receiveLongBadChecksum:
        logFrame(log, "<<< Wrong checksum!\n", frame, length);
        break;
      default:
        break;
    }
    resetReceiver(receiver);
  }
  return logged;
}

const uint8_t* wiredAnswerPayload(const uint8_t* frame, uint16_t length, uint16_t& payloadLength) {
  size_t end = userDataEnd(length);
  if (end <= wiredAnswerPayloadOffset) {
    payloadLength = 0;
    return nullptr;
  }
  payloadLength = uint16_t(end - wiredAnswerPayloadOffset);
  return frame + wiredAnswerPayloadOffset;
}

IdentityUpdate updateWiredIdentity(const uint8_t* frame, uint16_t length, ConverterLinkState& link,
                                   const ConverterKeyList& keys, Log& log) {
  IdentityUpdate none;
  size_t end = userDataEnd(length);
  if (end <= ciOffset) return none;

  if (frame[ciOffset] == ciAuthenticationLayer) {
    if (end < securedCounterOffset + 4) return none;
    link.messageCounter = readLe32(frame + securedCounterOffset) + 1;
    logCounter(log, link.messageCounter);
    return none;
  }
  if (frame[ciOffset] != ciLongHeader) return none;

  // A header cut short has no address to take, but the counter rule holds all the same: the
  // converter counted the request whatever it sent back.
  const bool addressPresent = end >= addressOffset + 8;
  if (addressPresent) {
    for (size_t k = 0; k < 8; ++k) link.converterAddress[k] = frame[addressOffset + k];
  }

  // Records count only when their value lies inside the user data, not in the checksum.
  uint32_t counter = 0;
  if (!readCounterRecord(frame, end, counter)) {
    link.messageCounter += counterStep;
    return none;
  }
  link.messageCounter = counter + 1;
  logCounter(log, link.messageCounter);
  if (!addressPresent) return none;

  char firmware[8];
  std::snprintf(firmware, sizeof firmware, "%s", unknownFirmwareText);
  uint16_t version = 0;
  if (readVersionRecord(frame, end, version)) {
    const unsigned high = version >> 8;
    const unsigned low = version & 0xFFu;
    firmwareText(version, firmware);
    char line[48];
    std::snprintf(line, sizeof line, "FW version found: %02X,%02X\n", high, low);
    log.logText(line, logStylePlain);
  }

  const uint8_t* a = link.converterAddress;
  char address[17];
  bytesToHexText(a, 8, address);
  char line[64];
  std::snprintf(line, sizeof line, "Dongle ID: 0x%s", address);
  log.logText(line, logStylePlain);

  const uint8_t idMsbFirst[4] = {a[3], a[2], a[1], a[0]};
  IdentityUpdate update = describeConverter(idMsbFirst, a, firmware, keys);
  update.identity.manufacturer = uint16_t(a[4] | a[5] << 8);
  update.identity.version = a[6];
  return update;
}
