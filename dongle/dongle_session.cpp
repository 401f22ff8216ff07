// The dongle poll tick and the serial transport of converter messages.
#include "dongle/dongle_session.h"

#include <cerrno>
#include <cstring>

#include "codec/command_codes.h"
#include "mbus/wired_connection.h"
#include "text/hex_text.h"

namespace {

constexpr uint8_t answerLead0 = 0x0F;
constexpr uint8_t answerLead1 = 0x35;

uint32_t readLittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void loseStick(DongleLink& dongle, DongleWatch& watch, Log& log) {
  const int error = dongle.port.lastError != 0 ? dongle.port.lastError : EIO;
  closeSerialPort(dongle.port);
  watch.lost = true;
  clearAnswerWait(watch.answerWait);
  watch.lostNotice = connectionLostText(watch.portName);
  const std::string line = watch.lostNotice + " (" + std::strerror(error) + ").\n";
  log.logText(line.c_str(), logStyleDongle);
}

}  // namespace

bool answersRequest(const AnswerWait& wait, const uint8_t* payload, size_t count) {
  const size_t at = converterFramePayloadOffset;
  if (count >= at + 3 && payload[at] == answerLead0 && payload[at + 1] == answerLead1 &&
      payload[at + 2] == wait.request)
    return true;
  if (!wait.secured || (wait.request != commandSetData && wait.request != commandWriteOptions))
    return false;
  const int counterAt = findCounterRecord(payload, uint16_t(count < 0xFFFF ? count : 0xFFFF));
  return counterAt != 0 && size_t(counterAt) + 7 <= count &&
         readLittleEndian32(payload + counterAt + 3) >= wait.counter;
}

std::string takeLostNotice(DongleWatch& watch) {
  std::string notice;
  notice.swap(watch.lostNotice);
  return notice;
}

bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener, DongleWatch* watch) {
  uint8_t payload[dongleFramePayloadMax];
  DongleFrameResult read = readDongleFrame(dongle, payload, sizeof payload);
  bool happened = false;
  if (read.status == dongleFrameRead) {
    DongleFrameIn frame{read.code, read.length, payload, read.payloadCount};
    if (watch != nullptr && watch->answerWait.armed && isConverterFrame(read.code, payload, read.payloadCount) &&
        answersRequest(watch->answerWait, payload, read.payloadCount))
      clearAnswerWait(watch->answerWait);
    dispatchDongleFrame(frame, link, heard, log, listener);
    happened = true;
  } else if (watch != nullptr && !watch->lost && serialPortHungUp(dongle.port)) {
    loseStick(dongle, *watch, log);
    return true;
  }
  if (watch != nullptr && expireAnswerWait(watch->answerWait, answerClockMs(), log, logStyleDongle))
    happened = true;
  return happened;
}

bool SerialTransport::writeWired(const uint8_t* frame, size_t length, std::string& reason) {
  if (!wired_.portOpen) {
    reason = "no COM port open";
    return false;
  }
  const long written = writeBytes(wired_.port, frame, length);
  if (written == long(length)) return true;
  reason = wired_.portName + ": " + writeFailureText(written, length, wired_.port.lastError);
  return false;
}

bool SerialTransport::writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) {
  return ::writeDongleFrame(dongle_, frame, length, &reason) == 1;
}
