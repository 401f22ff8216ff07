// The stick's session: each wake-up of its port, the answer awaited, and its loss and return.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/answer_wait.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "link/answer_event.h"
#include "link/dongle_dispatch.h"
#include "link/link_session.h"
#include "link/lost_notice.h"
#include "dongle/dongle_frame.h"
#include "dongle/dongle_link.h"

// What the stick's tick keeps besides frames: the request waiting for its answer, and what the
// window shows once the stick has gone.
struct DongleWatch {
  std::string portName;    // for the lost-connection line
  AnswerWait answerWait;
  bool lost = false;       // hung up: the port is closed and the tick idles
  std::string lostNotice;  // status line text after a hang-up, until the window takes it
  AnswerEventSink* sink = nullptr;  // told what each frame of the partner and each refusal was
};

// How much one wake-up takes from the stick before the window gets its turn again: at the link's
// full speed that is a few milliseconds of traffic, and what is left keeps the port readable.
constexpr size_t dongleReadChunk = 1024;
constexpr size_t dongleWakeByteMax = 16 * 1024;
constexpr size_t dongleWakeFrameMax = 256;

// Under a flood the stick's frames come a few at a time, thousands of wake-ups a second, and each
// wake-up pays for a read, a log append and a flush to the display whatever it carries. A wake-up
// that dispatched frames less than dongleRestMs after the previous such wake-up or the end of its
// rest lets the port rest for dongleRestMs: what arrives meanwhile waits in the driver's queue
// (a few KB at the stick's speed) and the next wake-up takes it in one batch. Frames further apart
// than a rest are read as they come, since resting would only add an empty wake-up per frame; a
// busy link's wait is at most dongleRestMs, well within the 20 ms an answer may take to show.
constexpr long long dongleRestMs = 8;

// Whether the stick's port rests after a wake-up, and until when.
struct DongleRest {
  long long lastBusyMs = -1;  // the last wake-up that dispatched frames; -1 for none yet
  long long untilMs = -1;     // the port is left unwatched until then; -1 for not resting
                              // (kept past its end until the next wake-up)

  // After a wake-up at nowMs; busy when it dispatched frames.
  void afterWake(bool busy, long long nowMs);
  bool resting(long long nowMs) const { return untilMs >= 0 && nowMs < untilMs; }
};

// One wake-up of the stick's link: reads what is queued (up to the bounds above) and dispatches
// every frame it completes, in arrival order; a frame left half-way is kept for the next wake-up
// and dropped once its bound has passed. With a watch, each frame of the partner and each NACK
// goes to the watch's sink as an answer event, an answer overdue is logged once, and a stick that
// hung up is logged as lost once and its port closed. Returns whether a frame was read or a line
// logged. With a meter table, every meter's frame is counted in it (recordMeterFrame).
bool dongleTick(DongleLink& dongle, ConverterLinkState& link, HeardConverterList& heard, Log& log,
                ConverterAnswerListener& listener, DongleWatch* watch = nullptr, HeardMeterTable* meters = nullptr);

// When the next tick is due without new bytes: a frame's bound or an answer's; -1 for never.
long long dongleTickDeadline(const DongleLink& dongle, const DongleWatch& watch);

// What a frame of the partner (payload as the stick delivers it) says; taken: the parser took its
// answer. A frame with an answer 0F 35 <code> is that answer (garbled when the parser threw it out:
// the stick's frames carry no checksum, so half a frame completed by the next one's bytes can look
// like one); any other is the partner's counter, from its counter record; none without one.
bool partnerFrameEvent(const uint8_t* payload, size_t count, bool taken, AnswerEvent& event);

// The lost-connection status text once after a hang-up, then empty.
std::string takeLostNotice(DongleWatch& watch);

// Hands each converter answer heard over the air to the answer parser.
class DongleAnswerRouter : public ConverterAnswerListener {
public:
  explicit DongleAnswerRouter(AnswerTargets& targets) : targets_(targets) {}
  bool onConverterAnswer(const uint8_t* payload, size_t length) override {
    return parseConverterAnswer(payload, length, targets_);
  }

private:
  AnswerTargets& targets_;
};

// The stick as one object: its port and frame reader, the dispatch of what it hears, and what
// the window needs to show when it goes and comes back. The window holds one and watches its
// descriptor; nothing here waits.
class DongleSession : public LinkSession {
public:
  DongleSession(DongleRecord& record, DongleLink& link, ConverterLinkState& state, HeardConverterList& heard,
                AnswerTargets& targets)
      : record_(record), link_(link), state_(state), heard_(heard), router_(targets) {}

  DongleWatch watch;  // the answer awaited; whether the stick has gone

  // Opens the recorded stick; 1 when open. The heard list and the partner are left as they are.
  int open();

  // The descriptor to wake on, or -1 while the stick's port is closed.
  int descriptor() const override;
  // The descriptor to watch now: -1 also while the port rests after a busy wake-up (deadline()
  // then says when to wake).
  int descriptorToWatch(long long nowMs) const override;
  // A wake-up, or while the stick is gone a look for it.
  SessionWake wakeUp(Log& log) override;
  AnswerWait& answerWait() override { return watch.answerWait; }
  // The partner chosen last.
  ConverterIdentity identity() const override { return partner_identity_; }

  // Readable, or a bound due: every queued frame is dispatched; a stalled frame or an overdue
  // answer is dropped or logged; a hang-up is logged and closes the port.
  bool wake(Log& log);

  // When to wake without new bytes: a frame's or an answer's bound, the end of a rest, or, while
  // the stick is gone, the next look for it; -1 for never.
  long long deadline() const override;

  // Writes AB 00 00, which makes the stick start delivering.
  int writeStart();
  // Writes the partner frame and keeps it with the partner's identity, so a stick that comes
  // back is told again.
  int writePartner(const uint8_t* frame, size_t length, const ConverterIdentity& identity = ConverterIdentity());

  // While the stick is gone: looks for one with the same serial, reopens it, starts it and names
  // the partner again, saying so in the log. Returns 1 when it is back.
  int lookForStick(Log& log);

  // Opens the recorded stick again after the run let go of it, starts it and names the partner
  // again. Returns 1 when it is back.
  int reopen();

  // A device of this port name or path was removed: the same as a hang-up seen on the port.
  void deviceRemoved(const char* devicePath, Log& log);

  bool lost() const { return watch.lost; }

  // Where the meters' frames are counted from now on (nullptr: nowhere).
  void setMeterTable(HeardMeterTable* meters) { meters_ = meters; }

  // "Connection lost: <port>" once after a hang-up, then empty.
  std::string takeLostNotice() override { return ::takeLostNotice(watch); }

private:
  DongleRecord& record_;
  DongleLink& link_;
  ConverterLinkState& state_;
  HeardConverterList& heard_;
  DongleAnswerRouter router_;
  HeardMeterTable* meters_ = nullptr;
  uint8_t partner_[partnerFrameSize] = {};
  size_t partnerLength_ = 0;
  ConverterIdentity partner_identity_;
  long long nextLookMs_ = -1;
  DongleRest rest_;
};

// How often a gone stick is looked for; a udev event makes the look happen at once.
constexpr int stickLookIntervalMs = 1000;

