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

bool partnerFrameEvent(const uint8_t* payload, size_t count, bool taken, AnswerEvent& event) {
  const size_t at = converterFramePayloadOffset;
  event = AnswerEvent();
  if (count >= at + 3 && payload[at] == converterCommandPrefix0 && payload[at + 1] == converterCommandPrefix1) {
    event = commandAnswerEvent(payload + at, count - at, taken);
    // Only an answer the parser took is the converter's reply; a thrown-out one leaves the wait.
    event.endsWait = false;
    return true;
  }
  if (!readCounterRecord(payload, count, event.counter)) return false;
  event.kind = AnswerKind::counter;
  return true;
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
               DongleWatch* watch, HeardMeterTable* meters, long long nowMs)
      : link_(link), heard_(heard), log_(log), listener_(listener), watch_(watch), meters_(meters), nowMs_(nowMs) {}
  void onDongleFrame(const DongleFrameIn& frame) override {
    if (meters_ != nullptr) recordMeterFrame(frame, *meters_, nowMs_);
    AnswerEventSink* sink = watch_ != nullptr ? watch_->sink : nullptr;
    // Its counter as it came, before the dispatch moves the link's.
    const bool partner = isConverterFrame(frame.code, frame.payload, frame.count) && isPartnerFrame(link_, frame.payload);
    const bool taken = dispatchDongleFrame(frame, link_, heard_, log_, listener_);
    if (sink == nullptr) return;
    AnswerEvent event;
    if (frame.announcedLength == 0 && frame.code == dongleCodeNack) {
      event.kind = AnswerKind::refused;
      sink->onAnswerEvent(event);
    } else if (partner && partnerFrameEvent(frame.payload, frame.count, taken, event)) {
      sink->onAnswerEvent(event);
    }
  }

private:
  ConverterLinkState& link_;
  HeardConverterList& heard_;
  Log& log_;
  ConverterAnswerListener& listener_;
  DongleWatch* watch_;
  HeardMeterTable* meters_;
  long long nowMs_;
};

}  // namespace

bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener, DongleWatch* watch, HeardMeterTable* meters) {
  const long long now = answerClockMs();
  bool happened = false;
  if (dongle.mode == dongleLinkDongle && serialPortIsOpen(dongle.port)) {
    DispatchSink sink(link, heard, log, listener, watch, meters, now);
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
  const bool happened = dongleTick(link_, state_, heard_, log, router_, &watch, meters_);
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

SessionWake DongleSession::wakeUp(Log& log) {
  if (watch.lost) return {false, lookForStick(log) == 1};
  return {wake(log), false};
}

int DongleSession::writePartner(const uint8_t* frame, size_t length, const ConverterIdentity& identity) {
  partner_identity_ = identity;
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

int DongleSession::reopen() {
  if (!open() || writeStart() != 1) return 0;
  if (partnerLength_ > 0 && writeDongleFrame(link_, partner_, partnerLength_) != 1) return 0;
  return 1;
}

void DongleSession::deviceRemoved(const char* devicePath, Log& log) {
  if (watch.lost || std::strcmp(devicePath, record_.devicePath) != 0) return;
  link_.port.lastError = ENODEV;
  resetDongleFrameReader(link_.reader);
  loseStick(link_, watch, log);
  nextLookMs_ = answerClockMs() + stickLookIntervalMs;
}
