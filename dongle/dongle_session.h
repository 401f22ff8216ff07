// The dongle poll tick, and the transport that puts converter messages on the chosen link.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/answer_wait.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "dongle/dongle_dispatch.h"
#include "mbus/wired_connection.h"
#include "serial/dongle_frame.h"
#include "serial/dongle_link.h"

// What the stick's tick keeps besides frames: the request waiting for its answer, and what the
// window shows once the stick has gone.
struct DongleWatch {
  std::string portName;    // for the lost-connection line
  AnswerWait answerWait;
  bool lost = false;       // hung up: the port is closed and the tick idles
  std::string lostNotice;  // status line text after a hang-up, until the window takes it
};

// One tick of the dongle poll timer: reads at most one frame and dispatches it. With a watch,
// a converter frame that answers the request waited for clears the wait, an answer overdue is
// logged once, and a stick that hung up is logged as lost once and its port closed. Returns
// whether a frame was read or a line logged.
bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener, DongleWatch* watch = nullptr);

// True when the converter radio frame (payload as the stick delivers it) answers the request:
// it carries the answer 0F 35 <code>, or, for commands answered by acknowledgement only (Set
// Data, write option bits), a counter record showing the converter took the request's counter.
bool answersRequest(const AnswerWait& wait, const uint8_t* payload, size_t count);

// The lost-connection status text once after a hang-up, then empty.
std::string takeLostNotice(DongleWatch& watch);

// Hands each converter answer heard over the air to the answer parser.
class DongleAnswerRouter : public ConverterAnswerListener {
public:
  explicit DongleAnswerRouter(AnswerTargets& targets) : targets_(targets) {}
  void onConverterAnswer(const uint8_t* payload, size_t length) override {
    parseConverterAnswer(payload, length, targets_);
  }

private:
  AnswerTargets& targets_;
};

// Converter messages leave by the wired port or by the dongle, whichever the run uses.
class SerialTransport : public MessageTransport {
public:
  SerialTransport(WiredPort& wired, DongleLink& dongle) : wired_(wired), dongle_(dongle) {}
  bool wiredPortOpen() override { return wired_.portOpen; }
  bool writeWired(const uint8_t* frame, size_t length, std::string& reason) override;
  bool writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) override;

private:
  WiredPort& wired_;
  DongleLink& dongle_;
};
