// The stick's session: each wake-up of its port, the answer awaited, and its loss and return.
#include "link/dongle_session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/command_codes.h"
#include "text/records.h"
#include "text/printable_text.h"

namespace {

void loseStick(DongleLink& dongle, DongleWatch& watch, Log& log) {
  const int error = dongle.port.lastError != 0 ? dongle.port.lastError : EIO;
  closeSerialPort(dongle.port);
  watch.lost = true;
  clearAnswerWait(watch.answerWait);
  watch.lostNotice = connectionLostText(watch.portName);
  const std::string line = watch.lostNotice + " (" + std::strerror(error) + ").\n";
  logOwnLine(log, line, logStyleDongle);
}

}  // namespace

bool answersRequest(const AnswerWait& wait, const uint8_t* payload, size_t count) {
  const size_t at = converterFramePayloadOffset;
  if (count >= at + 3 && payload[at] == converterCommandPrefix0 && payload[at + 1] == converterCommandPrefix1 &&
      payload[at + 2] == wait.request)
    return true;
  if (!wait.secured || (wait.request != commandSetData && wait.request != commandWriteOptions))
    return false;
  uint32_t counter = 0;
  return readCounterRecord(payload, count, counter) && counter >= wait.counter;
}

std::string takeLostNotice(DongleWatch& watch) {
  std::string notice;
  notice.swap(watch.lostNotice);
  return notice;
}

namespace {

// Hands each frame the reader completes to the dispatch, first clearing the wait it answers.
class DispatchSink : public DongleFrameSink {
public:
  DispatchSink(ConverterLinkState& link, HeardConverterList& heard, Log& log, ConverterAnswerListener& listener,
               DongleWatch* watch)
      : link_(link), heard_(heard), log_(log), listener_(listener), watch_(watch) {}
  void onDongleFrame(const DongleFrameIn& frame) override {
    AnswerWait* wait = watch_ != nullptr ? &watch_->answerWait : nullptr;
    const bool answers = wait != nullptr && wait->armed && isConverterFrame(frame.code, frame.payload, frame.count) &&
                         isPartnerFrame(link_, frame.payload) && answersRequest(*wait, frame.payload, frame.count);
    const bool taken = dispatchDongleFrame(frame, link_, heard_, log_, listener_);
    // The stick's frames carry no checksum: half a frame completed by the next frame's bytes can
    // look like the answer. One the parser threw out is no answer yet; the wait goes on until the
    // real one, its bound or a hang-up.
    if (answers && (taken || !readsConverterAnswer(wait->request))) clearAnswerWait(*wait);
  }

private:
  ConverterLinkState& link_;
  HeardConverterList& heard_;
  Log& log_;
  ConverterAnswerListener& listener_;
  DongleWatch* watch_;
};

}  // namespace

bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener, DongleWatch* watch) {
  const long long now = answerClockMs();
  bool happened = false;
  if (dongle.mode == dongleLinkDongle && serialPortIsOpen(dongle.port)) {
    DispatchSink sink(link, heard, log, listener, watch);
    uint8_t chunk[dongleReadChunk];
    size_t taken = 0;
    size_t frames = 0;
    bool failed = false;
    while (taken < dongleWakeByteMax && frames < dongleWakeFrameMax) {
      const long got = readAvailable(dongle.port, chunk, sizeof chunk);
      if (got <= 0) {
        failed = got < 0;
        break;
      }
      taken += size_t(got);
      frames += feedDongleBytes(dongle.reader, chunk, size_t(got), now, sink);
    }
    happened = frames > 0;
    dropStalledDongleFrame(dongle.reader, now);
    if (failed && watch != nullptr && !watch->lost) {
      resetDongleFrameReader(dongle.reader);
      loseStick(dongle, *watch, log);
      return true;
    }
  }
  if (watch != nullptr && expireAnswerWait(watch->answerWait, now, log, logStyleDongle)) happened = true;
  return happened;
}

long long dongleTickDeadline(const DongleLink& dongle, const DongleWatch& watch) {
  long long due = dongleFrameDeadline(dongle.reader);
  if (watch.answerWait.armed && (due < 0 || watch.answerWait.deadlineMs < due)) due = watch.answerWait.deadlineMs;
  return due;
}

int DongleSession::open() {
  resetDongleFrameReader(link_.reader);
  if (!openDonglePort(record_, link_)) return 0;
  watch.portName = donglePortName(record_);
  watch.lost = false;
  nextLookMs_ = -1;
  return 1;
}

void DongleRest::afterWake(bool busy, long long nowMs) {
  const long long since = std::max(lastBusyMs, untilMs);  // a rest's end chains the next rest
  untilMs = -1;
  if (!busy) return;
  if (since >= 0 && nowMs - since < dongleRestMs) untilMs = nowMs + dongleRestMs;
  lastBusyMs = nowMs;
}

bool DongleSession::wake(Log& log) {
  const bool happened = dongleTick(link_, state_, heard_, log, router_, &watch);
  const long long now = answerClockMs();
  if (watch.lost && nextLookMs_ < 0) nextLookMs_ = now + stickLookIntervalMs;
  rest_.afterWake(happened && !watch.lost, now);
  return happened;
}

int DongleSession::descriptor() const {
  return link_.mode == dongleLinkDongle && serialPortIsOpen(link_.port) ? link_.port.fd : -1;
}

int DongleSession::descriptorToWatch(long long nowMs) const {
  return rest_.resting(nowMs) ? -1 : descriptor();
}

long long DongleSession::deadline() const {
  if (watch.lost) return nextLookMs_;
  const long long due = dongleTickDeadline(link_, watch);
  if (rest_.untilMs >= 0 && (due < 0 || rest_.untilMs < due)) return rest_.untilMs;
  return due;
}

int DongleSession::writeStart() {
  const uint8_t frame[dongleFrameHeaderSize] = {dongleCodeStart, 0, 0};
  return writeDongleFrame(link_, frame, sizeof frame);
}

int DongleSession::writePartner(const uint8_t* frame, size_t length) {
  if (length <= sizeof partner_) {
    std::memcpy(partner_, frame, length);
    partnerLength_ = length;
  }
  return writeDongleFrame(link_, frame, length);
}

int DongleSession::lookForStick(Log& log) {
  if (!watch.lost) return 1;
  const long long now = answerClockMs();
  nextLookMs_ = now + stickLookIntervalMs;
  if (!findDongleAgain(record_) || !open()) return 0;
  // A stick that was pulled out has forgotten what it was told: start it and name the partner.
  writeStart();
  if (partnerLength_ > 0) writeDongleFrame(link_, partner_, partnerLength_);
  const std::string line = "Stick " + printableText(dongleSerial(record_)) + " is back on " +
                           printableText(watch.portName) + ".\n";
  logOwnLine(log, line, logStyleDongle);
  return 1;
}

void DongleSession::deviceRemoved(const char* devicePath, Log& log) {
  if (watch.lost || std::strcmp(devicePath, record_.devicePath) != 0) return;
  link_.port.lastError = ENODEV;
  resetDongleFrameReader(link_.reader);
  loseStick(link_, watch, log);
  nextLookMs_ = answerClockMs() + stickLookIntervalMs;
}
