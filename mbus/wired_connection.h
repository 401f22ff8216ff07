// The wired port: connecting with REQ_UD2, the poll tick, and handing answers on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/key_list.h"
#include "codec/link_state.h"
#include "converter/answer_parser.h"
#include "mbus/link_frame.h"
#include "mbus/wired_answer.h"
#include "serial/serial_port.h"
#include "text/log.h"

constexpr uint8_t reqUd2Control = 0x5B;

struct WiredPort {
  std::string portName;    // as the port dialog lists it
  std::string devicePath;  // what is opened
  SerialPort port;
  bool portOpen = false;
};

// How a connect ended, for the window: an error box text (empty when none) and the status
// line text (empty when the status line keeps what it shows).
struct WiredConnectResult {
  bool connected = false;
  std::string errorText;
  std::string statusText;
};

// Closes the port if open, opens portName's device with the wired profile and sends REQ_UD2.
WiredConnectResult connectWired(WiredPort& wired, LinkFrameBuffer& frames, Log& log);

// Closes the port if it is open; the poll tick then idles.
void closeWiredPort(WiredPort& wired);

// One tick of the poll timer: reads what the port holds (up to wiredReadMax) without waiting.
// Returns whether any byte arrived.
bool wiredTick(WiredPort& wired, LinkFrameBuffer& frames, Log& log, WiredFrameListener& listener);

// Hands each good long frame's payload to the answer parser, then updates the identity and
// shows it in the window.
class WiredAnswerRouter : public WiredFrameListener {
public:
  WiredAnswerRouter(AnswerTargets& targets, ConverterLinkState& link, const ConverterKeyList& keys)
      : targets_(targets), link_(link), keys_(keys) {}
  void onLongFrame(const uint8_t* frame, uint16_t length) override;

private:
  AnswerTargets& targets_;
  ConverterLinkState& link_;
  const ConverterKeyList& keys_;
};

// Writes the texts of an identity update into the window.
void showIdentity(const IdentityUpdate& update, SettingsView& view);
