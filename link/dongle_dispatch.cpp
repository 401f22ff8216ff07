// Dongle frames: status reports and the converter's radio frames.
#include "link/dongle_dispatch.h"

#include <algorithm>
#include <cstdio>

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

void dispatchDongleFrame(const DongleFrameIn& frame, ConverterLinkState& link,
                         HeardConverterList& heard, Log& log, ConverterAnswerListener& listener) {
  if (frame.announcedLength == 0) {
    logStatus(frame.code, log);
    return;
  }
  const uint8_t* p = frame.payload;
  if (!isConverterFrame(frame.code, p, frame.count)) return;

  // The records are searched only in bytes that really arrived.
  size_t searched = std::min<size_t>({frame.announcedLength, frame.count, 0xFFFF});
  uint32_t counter = 0;
  if (readCounterRecord(p, searched, counter)) {
    link.messageCounter = counter + counterStep;
    char line[64];
    std::snprintf(line, sizeof line, "<<< MBUS converter found with counter 0x%08X.\n",
                  link.messageCounter);
    log.logText(line, logStyleDongle);
  }
  uint16_t version = 0;
  if (readVersionRecord(p, searched, version)) {
    char line[48];
    std::snprintf(line, sizeof line, "<<< FW version:  %02X.%02X\n", version & 0xFFu,
                  unsigned(version >> 8));
    log.logText(line, logStyleDongle);
    recordHeardConverter(heard, p + 1, link.messageCounter, version);
  }

  log.logTimestamp();
  char line[96];
  std::snprintf(line, sizeof line, "<<< Incoming Received %zu bytes, message with CField 0x%02X.\n",
                frame.count, p[0]);
  log.logText(line, logStyleDongle);
  log.logHexDump(p, frame.count, logStyleDongle);

  if (frame.count > converterFramePayloadOffset)
    listener.onConverterAnswer(p + converterFramePayloadOffset,
                               frame.count - converterFramePayloadOffset);
}
