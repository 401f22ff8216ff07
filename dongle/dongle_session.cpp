// The dongle poll tick and the serial transport of converter messages.
#include "dongle/dongle_session.h"

bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener) {
  uint8_t payload[dongleFramePayloadMax];
  DongleFrameResult read = readDongleFrame(dongle, payload, sizeof payload);
  if (read.status != dongleFrameRead) return false;
  DongleFrameIn frame{read.code, read.length, payload, read.payloadCount};
  dispatchDongleFrame(frame, link, heard, log, listener);
  return true;
}

void SerialTransport::writeWired(const uint8_t* frame, size_t length) {
  if (wired_.portOpen) writeBytes(wired_.port, frame, length);
}

void SerialTransport::writeDongleFrame(const uint8_t* frame, size_t length) {
  ::writeDongleFrame(dongle_, frame, length);
}
