// The wired port: connecting with REQ_UD2, each wake-up when it is readable or a bound is due,
// and handing answers on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/answer_wait.h"
#include "codec/key_list.h"
#include "codec/link_state.h"
#include "converter/answer_parser.h"
#include "mbus/link_frame.h"
#include "link/answer_event.h"
#include "link/lost_notice.h"
#include "link/wired_answer.h"
#include "serial/serial_port.h"
#include "text/log.h"

constexpr uint8_t reqUd2Control = 0x5B;

struct WiredPort {
  std::string portName;    // as the port dialog lists it
  std::string devicePath;  // what is opened
  SerialPort port;
  bool portOpen = false;
  AnswerWait answerWait;   // REQ_UD2 or the last converter command, until answered
  std::string lostNotice;  // status line text after a hang-up, until the window takes it
};

// How a connect ended, for the window: an error box text (empty when none) and the status
// line text (empty when the status line keeps what it shows; after a failed open, what failed).
struct WiredConnectResult {
  bool connected = false;
  std::string errorText;
  std::string statusText;
  std::string notSentText;  // the log's line when REQ_UD2 was not written, without its break
};

// The status line and log text of a failed open: "Not connected: " and the error box's text
// without its heading, on one line.
std::string notConnectedText(const std::string& errorText);

// Closes the port if open, opens portName's device with the wired profile and sends REQ_UD2.
// A REQ_UD2 that could not be written is logged as not sent; one that went out is waited for.
WiredConnectResult connectWired(WiredPort& wired, LinkFrameBuffer& frames, Log& log);

// Closes the port if it is open and forgets what was waited for; wake-ups then do nothing.
void closeWiredPort(WiredPort& wired);

// Reads of wiredReadMax bytes one wake-up may make: more than a second of the line's traffic.
constexpr size_t wiredWakeReadsMax = 16;

// One wake-up of the wired link: reads what the port holds, wiredReadMax bytes at a time, and
// feeds each read to the receiver in order, never waiting. Any frame or single character from
// the converter counts as the answer awaited. A port that hung up or fails to read is logged as
// lost once, closed (Reconnect opens it again) and its status text left in lostNotice. An answer
// overdue is logged once. Returns whether anything arrived or was logged.
bool wiredTick(WiredPort& wired, LinkFrameBuffer& frames, Log& log, WiredFrameListener& listener);

// When the next tick is due without new bytes (the answer's bound), or -1 for never.
long long wiredTickDeadline(const WiredPort& wired);

// The lost-connection status text once after a hang-up, then empty.
std::string takeLostNotice(WiredPort& wired);

// Hands each good long frame's payload to the answer parser, then updates the identity and
// shows it in the window; tells the sink what each reply was.
class WiredAnswerRouter : public WiredFrameListener {
public:
  WiredAnswerRouter(AnswerTargets& targets, ConverterLinkState& link, const ConverterKeyList& keys,
                    AnswerEventSink* sink = nullptr)
      : targets_(targets), link_(link), keys_(keys), sink_(sink) {}
  void onLongFrame(const uint8_t* frame, uint16_t length) override;
  void onOtherReply(ReceiveResult result) override;
  ConverterIdentity identity;  // the last one a REQ_UD2 answer gave

private:
  void tell(AnswerEvent event);
  AnswerTargets& targets_;
  ConverterLinkState& link_;
  const ConverterKeyList& keys_;
  AnswerEventSink* sink_;
};

// Writes the texts of an identity update into the window.
void showIdentity(const IdentityUpdate& update, SettingsView& view);
