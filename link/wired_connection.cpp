// The wired connection to the converter over a serial port.
#include "link/wired_connection.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codec/command_codes.h"

namespace {

std::string openErrorText(const WiredPort& wired) {
  const int error = wired.port.lastError;
  char text[160];
  if (wired.port.failedStep == serialStepOpen || wired.port.failedStep == serialStepNone) {
    std::snprintf(text, sizeof text,
                  error == ENOENT ? "Serial Error\nCOM port %s not found"
                                  : "Serial Error\nError opening COM port %s",
                  wired.portName.c_str());
  } else {
    const char* step = serialStepMessage(wired.port.failedStep);
    std::snprintf(text, sizeof text, "Serial Error\n%s", step ? step : "");
  }
  std::string result = text;
  if (const char* cause = serialOpenCauseText(error)) {
    result += "\n";
    result += cause;
  }
  return result;
}

// A failed open said where it stays seen: the status line and the log, in one line.
void reportOpenFailure(WiredConnectResult& result, Log& log) {
  result.statusText = notConnectedText(result.errorText);
  logOwnLine(log, result.statusText + "\n", logStylePlain);
}

void loseWiredPort(WiredPort& wired, Log& log) {
  const int error = wired.port.lastError != 0 ? wired.port.lastError : EIO;
  closeWiredPort(wired);
  wired.lostNotice = connectionLostText(wired.portName);
  const std::string line = wired.lostNotice + " (" + std::strerror(error) +
                           "). Reconnect or select a new COM port.\n";
  logOwnLine(log, line, logStylePlain);
}

}  // namespace

std::string notConnectedText(const std::string& errorText) {
  static const std::string heading = "Serial Error\n";
  std::string reason = errorText.compare(0, heading.size(), heading) == 0 ? errorText.substr(heading.size()) : errorText;
  for (char& c : reason)
    if (c == '\n') c = ' ';
  return "Not connected: " + reason;
}

void closeWiredPort(WiredPort& wired) {
  closeSerialPort(wired.port);
  wired.portOpen = false;
  clearAnswerWait(wired.answerWait);
}

std::string takeLostNotice(WiredPort& wired) {
  std::string notice;
  notice.swap(wired.lostNotice);
  return notice;
}

WiredConnectResult connectWired(WiredPort& wired, LinkFrameBuffer& frames, Log& log) {
  WiredConnectResult result;
  wired.lostNotice.clear();
  if (serialPortIsOpen(wired.port)) {
    closeWiredPort(wired);
    result.statusText = "Serial not connected.";
  }
  const std::string& path = wired.devicePath.empty() ? wired.portName : wired.devicePath;
  if (!openSerialPort(wired.port, path.c_str())) {
    wired.port.failedStep = serialStepOpen;
    result.errorText = openErrorText(wired);
    reportOpenFailure(result, log);
    return result;
  }
  if (!applyProfile(wired.port, wiredSerialProfile)) {
    result.errorText = openErrorText(wired);
    closeWiredPort(wired);
    reportOpenFailure(result, log);
    return result;
  }
  wired.portOpen = true;

  buildShortFrame(frames, converterLinkAddress, reqUd2Control);
  uint16_t length = 0;
  const uint8_t* frame = frameBuffer(frames, length);
  resetReceiver(frames);
  const long written = writeBytes(wired.port, frame, length);
  log.logText(">>> REQ_UD2\n", logStylePlain);
  log.logHexDump(frame, length, logStylePlain);
  if (written == long(length)) {
    armAnswerWait(wired.answerWait, answerWaitReqUd2, false, 0, wiredAnswerBoundMs, answerClockMs());
  } else {
    result.notSentText = "Not sent: " + writeFailureText(written, length, wired.port.lastError);
    const std::string line = result.notSentText + "\n";
    logOwnLine(log, line, logStylePlain);
  }

  result.connected = true;
  result.statusText = "Connected to serial [" + wired.portName + "]";
  return result;
}

bool wiredTick(WiredPort& wired, LinkFrameBuffer& frames, Log& log, WiredFrameListener& listener) {
  if (!wired.portOpen) return false;
  bool happened = false;
  uint8_t bytes[wiredReadMax];
  for (size_t reads = 0; reads < wiredWakeReadsMax; ++reads) {
    const long count = readAvailable(wired.port, bytes, sizeof bytes);
    if (count < 0) {
      loseWiredPort(wired, log);
      return true;
    }
    if (count == 0) break;
    happened = true;
    if (handleWiredBytes(frames, bytes, size_t(count), log, listener) > 0) clearAnswerWait(wired.answerWait);
  }
  return expireAnswerWait(wired.answerWait, answerClockMs(), log, logStylePlain) == 1 || happened;
}

long long wiredTickDeadline(const WiredPort& wired) {
  return wired.answerWait.armed ? wired.answerWait.deadlineMs : -1;
}

void showIdentity(const IdentityUpdate& update, SettingsView& view) {
  if (update.idTextSet) view.setConverterIdText(update.idText);
  if (update.keyTextSet) view.setConverterKeyText(update.keyText);
}

void WiredAnswerRouter::tell(AnswerEvent event) {
  // By wire one converter answers each request once: whatever it sends is its reply.
  event.endsWait = true;
  if (sink_ != nullptr) sink_->onAnswerEvent(event);
}

void WiredAnswerRouter::onLongFrame(const uint8_t* frame, uint16_t length) {
  uint16_t payloadLength = 0;
  const uint8_t* payload = wiredAnswerPayload(frame, length, payloadLength);
  const bool command = payload != nullptr && payloadLength >= 3 && payload[0] == converterCommandPrefix0 &&
                       payload[1] == converterCommandPrefix1;
  const bool taken = command && parseConverterAnswer(payload, payloadLength, targets_);
  const IdentityUpdate update = updateWiredIdentity(frame, length, link_, keys_, targets_.log);
  if (update.identity.known) identity = update.identity;
  showIdentity(update, targets_.view);
  AnswerEvent event;
  if (command) {
    event = commandAnswerEvent(payload, payloadLength, taken);
  } else if (update.identity.known) {
    event.kind = AnswerKind::identity;
  } else {
    // A status frame without an answer of its own: the converter took the request.
    event.kind = AnswerKind::acknowledged;
  }
  tell(event);
}

void WiredAnswerRouter::onOtherReply(ReceiveResult result) {
  AnswerEvent event;
  event.kind = result == receiveSingleAck ? AnswerKind::acknowledged : AnswerKind::garbled;
  tell(event);
}
