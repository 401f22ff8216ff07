// The one link object: records, sessions, transport and channel, and how each command ended.
#include "link/converter_link.h"

#include <cstdio>

#include "converter/key_find.h"
#include "dongle/dongle_frame.h"
#include "serial/serial_port.h"
#include "text/printable_text.h"

ConverterLink::ConverterLink(SettingsView& view, Log& log, MessageTransport* transport)
    : view_(view),
      log_(log),
      records_(new LinkRecords()),
      targets_{view_, log_, records_->options, records_->nearby},
      wired_(records_->frames, targets_, records_->state, records_->converterKeys, &matcher_),
      dongle_(records_->dongleRecord, records_->dongleLink, records_->state, records_->heard, targets_),
      transport_(wired_.port, records_->dongleLink),
      channel_{records_->state, records_->frames, transport != nullptr ? *transport : transport_, log_,
               &wired_.port.answerWait},
      session_(&wired_) {
  records_->converterKeys.count = 0;
  records_->meterKeys.count = 0;
  dongle_.setMeterTable(&records_->meters);
  dongle_.watch.sink = &matcher_;
  chooseSession(wired_);
}

void ConverterLink::chooseSession(LinkSession& session) {
  session_ = &session;
  channel_.answerWait = &session.answerWait();
  matcher_.wait = channel_.answerWait;
}

// A PTY left exclusive locks out the next run: both ports close with the link.
ConverterLink::~ConverterLink() { close(); }

void ConverterLink::close() {
  wired_.close();
  closeSerialPort(records_->dongleLink.port);
}

void ConverterLink::chooseWired(bool secured) {
  records_->state.linkMode = LinkMode::wired;
  records_->state.securedMessages = secured;
  chooseSession(wired_);
}

void ConverterLink::chooseWireless() {
  records_->state.linkMode = LinkMode::wireless;
  records_->state.securedMessages = true;  // over the air every message is secured
  chooseSession(dongle_);
}

WiredConnectResult ConverterLink::connectWired(const std::string& portName, const std::string& devicePath) {
  wired_.port.portName = portName;
  wired_.port.devicePath = devicePath;
  lost_.clear();
  prepare("REQ_UD2 on " + portName);
  const WiredConnectResult result = wired_.connect(log_);
  if (!result.connected) return result;
  sendCommand(-1, 1);
  if (outcome_.end == CommandEnd::notSent) outcome_.reason = result.notSentText.empty() ? "not sent" : result.notSentText;
  return result;
}

bool ConverterLink::findStick(const std::string& wanted) {
  lost_.clear();
  return findDongle(records_->dongleRecord, records_->dongleLink, wanted.c_str()) != 0;
}

bool ConverterLink::openStick() {
  if (dongle_.open() == 1) return true;
  logOwnLine(log_, stickOpenErrorText() + "\n", logStylePlain);
  return false;
}

std::string ConverterLink::stickOpenErrorText(const char* separator) const {
  const std::string text = "Error opening COM port " + printableText(donglePortName(records_->dongleRecord).c_str());
  const char* cause = serialOpenCauseText(records_->dongleLink.port.lastError);
  return cause != nullptr ? text + separator + cause : text;
}

bool ConverterLink::choosePartner(int i) {
  if (i < 0 || i >= records_->heard.count) return false;
  return choosePartner(records_->heard.entries[i]);
}

bool ConverterLink::choosePartner(const HeardConverter& entry) {
  uint8_t frame[partnerFrameSize];
  const IdentityUpdate update = ::choosePartner(entry, records_->state, records_->converterKeys, frame);
  showIdentity(update, view_);
  return dongle_.writePartner(frame, sizeof frame, update.identity) == 1;
}

ConverterIdentity ConverterLink::identity() const {
  ConverterIdentity identity = session_->identity();
  identity.counter = records_->state.messageCounter;
  return identity;
}

int ConverterLink::descriptor(long long nowMs) const { return session_->descriptorToWatch(nowMs); }

long long ConverterLink::deadline() const { return session_->deadline(); }

bool ConverterLink::deviceChanged(const DeviceEvent& event) {
  if (event.kind == ::deviceRemoved) deviceRemoved(event.port.devicePath);
  return event.kind == ::deviceAdded && isRecordedDongle(records_->dongleRecord, event.port) != 0;
}

std::string ConverterLink::stickArrivedText(const DeviceEvent& event) const {
  if (wireless() || event.kind != ::deviceAdded || !isStickPort(event.port)) return std::string();
  // The link mode holds for the whole run, so a stick that came later serves the next one.
  return "Stick " + printableText(event.port.instanceId + dongleInstancePrefixLength) + " was plugged in on " +
         printableText(event.port.name) +
         ". This run works by wire: restart Quarn and choose \"Wireless connection\" to use the stick.";
}

std::string ConverterLink::takeLostNotice() {
  const std::string notice = session_->takeLostNotice();
  if (!notice.empty()) lost_ = notice;
  return notice;
}

LinkEvents ConverterLink::wake() {
  LinkEvents events;
  const bool waiting = pending_;
  events.stickBack = session_->wakeUp(log_).back;
  if (!takeLostNotice().empty()) events.lost = true;
  if (waiting && settled()) {
    events.answer = outcome_.end == CommandEnd::answered;
    events.noAnswer = outcome_.end == CommandEnd::noAnswer;
    events.ended = true;
  }
  return events;
}

const AnswerWait& ConverterLink::answerWait() const { return *channel_.answerWait; }
AnswerWait& ConverterLink::answerWait() { return *channel_.answerWait; }

void ConverterLink::boundAnswer(int ms) {
  AnswerWait& wait = answerWait();
  if (!wait.armed || ms <= 0) return;
  wait.boundMs = ms;
  wait.deadlineMs = answerClockMs() + ms;
}

void ConverterLink::prepare(const std::string& command) {
  command_ = command;
  transport_.notSent.clear();
  outcome_ = CommandOutcome();
  pending_ = false;
}

bool ConverterLink::settled() {
  if (!pending_) return true;
  const AnswerWait& wait = answerWait();
  if (!lost_.empty() || !takeLostNotice().empty()) {
    outcome_ = {CommandEnd::lost, lost_};
  } else if (wait.armed) {
    return false;
  } else {
    // The wait is also cleared when its bound passes: that is no answer.
    outcome_.end = !wait.expired && matcher_.answered ? CommandEnd::answered : CommandEnd::noAnswer;
    if (outcome_.end == CommandEnd::noAnswer)
      outcome_.reason = matcher_.refused ? "the stick refused a frame (NACK)"
                        : wait.expired   ? noAnswerCauses(wait.secured)
                                         : "the answer did not carry what was asked";
  }
  pending_ = false;
  return true;
}

void ConverterLink::sendCommand(int s, int sent) {
  // Answers are only read on a wake-up: nothing that arrives before this one answers it.
  matcher_.start(s);
  pending_ = true;
  if (sent == 1 && answerWait().armed) return;
  // Not armed right after sending: the message did not leave.
  pending_ = false;
  // A write refused because the device went (pulled mid-run) comes before its hang-up is read:
  // the session reads it now, so that the command ends as lost rather than as not sent.
  if (sent != 1 && session_->descriptor() >= 0) session_->wakeUp(log_);
  if (!takeLostNotice().empty() || !lost_.empty()) outcome_ = {CommandEnd::lost, lost_};
  else outcome_ = {CommandEnd::notSent, transport_.notSent.empty() ? "not sent" : "Not sent: " + transport_.notSent};
}

namespace {
std::string slotCommand(const char* command, int s) { return std::string(command) + " of slot " + std::to_string(s + 1); }
}  // namespace

void ConverterLink::getData(int s) {
  prepare(slotCommand("Get Data", s));
  if (s < 0 || s >= slotCount) return sendCommand(-1, 0);
  sendCommand(s, getSlotData(s, view_, channel_));
}

void ConverterLink::setData(int s) {
  prepare(slotCommand("Set Data", s));
  if (s < 0 || s >= slotCount) return sendCommand(-1, 0);
  const int sent = setSlotData(s, view_, channel_);
  sendCommand(s, sent);
  // Refused before it left: the slot's wired address names no entry.
  if (outcome_.end == CommandEnd::notSent && transport_.notSent.empty()) {
    char line[96];
    std::snprintf(line, sizeof line, ">>> Set Data of slot %d not sent: the wired address must be 0 to %d.", s + 1,
                  wiredAddressCount - 1);
    outcome_.reason = line;
  }
}

void ConverterLink::readOptions() {
  prepare("Read option bits");
  sendCommand(-1, requestConverterOptions(view_, channel_));
}

void ConverterLink::writeOptions(const bool bits[optionCount]) {
  prepare("Write option bits");
  sendCommand(-1, confirmConverterOptions(bits, records_->options, view_, channel_));
}

void ConverterLink::scan() {
  prepare("Scan");
  sendCommand(-1, scanNearby(view_, channel_));
}

bool ConverterLink::keyFind(int s) { return findSlotKeys(s, view_, records_->meterKeys); }
