// Dongle frames: status reports and the converter's radio frames.
#include "link/dongle_dispatch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/converter_address.h"
#include "text/records.h"

namespace {

constexpr size_t converterHeaderEnd = 9;  // C field and the 8 address bytes

void logStatus(uint8_t code, Log& log) {
  switch (code) {
    case dongleCodeAck:
      log.logText("<<< ACK received.\n", logStyleDongle);
      break;
    case dongleCodeSent:
      log.logText("<<< Queued MSG was sent by USB stick.\n", logStyleDongle);
      break;
    case dongleCodeNack:
      log.logText("<<< NACK received.\n", logStyleDongle);
      break;
    default: {
      char line[48];
      std::snprintf(line, sizeof line, "<<< Unknown received 0x%02X.\n", code);
      log.logText(line, logStyleDongle);
    }
  }
}

}  // namespace

bool isConverterFrame(uint8_t code, const uint8_t* payload, size_t count) {
  return code != dongleCodeIgnored && count >= converterHeaderEnd && isConverterRadioAddress(payload + 1);
}

bool isPartnerFrame(const ConverterLinkState& link, const uint8_t* payload) {
  static const uint8_t none[8] = {};
  if (std::memcmp(link.converterAddress, none, 8) == 0) return true;
  // The partner's address is kept in long-header order, the radio frame's in radio order.
  const uint8_t* a = payload + 1;
  const uint8_t longOrder[8] = {a[2], a[3], a[4], a[5], a[0], a[1], a[6], a[7]};
  return std::memcmp(link.converterAddress, longOrder, 8) == 0;
}

bool dispatchDongleFrame(const DongleFrameIn& frame, ConverterLinkState& link,
                         HeardConverterList& heard, Log& log, ConverterAnswerListener& listener) {
  if (frame.announcedLength == 0) {
    logStatus(frame.code, log);
    return false;
  }
  const uint8_t* p = frame.payload;
  if (!isConverterFrame(frame.code, p, frame.count)) return false;

  // The records are searched only in bytes that really arrived.
  size_t searched = std::min<size_t>({frame.announcedLength, frame.count, 0xFFFF});
  uint32_t counter = 0;
  uint32_t next = link.messageCounter;
  if (readCounterRecord(p, searched, counter)) {
    next = counter + counterStep;
    // The others' counters stay with their entries in the heard list.
    if (isPartnerFrame(link, p)) link.messageCounter = next;
    char line[64];
    std::snprintf(line, sizeof line, "<<< MBUS converter found with counter 0x%08X.\n", next);
    log.logText(line, logStyleDongle);
  }
  uint16_t version = 0;
  if (readVersionRecord(p, searched, version)) {
    char line[48];
    std::snprintf(line, sizeof line, "<<< FW version:  %02X.%02X\n", version & 0xFFu,
                  unsigned(version >> 8));
    log.logText(line, logStyleDongle);
    recordHeardConverter(heard, p + 1, next, version);
  }

  log.logTimestamp();
  char line[96];
  std::snprintf(line, sizeof line, "<<< Incoming Received %zu bytes, message with CField 0x%02X.\n",
                frame.count, p[0]);
  log.logText(line, logStyleDongle);
  log.logHexDump(p, frame.count, logStyleDongle);

  return frame.count > converterFramePayloadOffset && isPartnerFrame(link, p) &&
         listener.onConverterAnswer(p + converterFramePayloadOffset, frame.count - converterFramePayloadOffset);
}

bool recordMeterFrame(const DongleFrameIn& frame, HeardMeterTable& meters, long long nowMs) {
  if (frame.announcedLength == 0 || frame.code == dongleCodeIgnored) return false;
  if (isConverterFrame(frame.code, frame.payload, frame.count)) return false;
  // Only what arrived: a frame cut short by the reader's bound is parsed as far as it goes.
  const size_t count = std::min<size_t>(frame.count, frame.announcedLength);
  MeterTelegram telegram;
  if (parseMeterTelegram(frame.payload, count, LengthByte::absent, telegram) != TelegramStatus::ok) return false;
  return recordHeardMeter(meters, telegram, nowMs) != nullptr;
}
