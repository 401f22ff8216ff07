// The dongle poll tick, and the transport that puts converter messages on the chosen link.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "dongle/dongle_dispatch.h"
#include "mbus/wired_connection.h"
#include "serial/dongle_frame.h"
#include "serial/dongle_link.h"

// One tick of the dongle poll timer: reads at most one frame and dispatches it. Returns
// whether a frame was read.
bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener);

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
  void writeWired(const uint8_t* frame, size_t length) override;
  void writeDongleFrame(const uint8_t* frame, size_t length) override;

private:
  WiredPort& wired_;
  DongleLink& dongle_;
};
