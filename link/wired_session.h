// The wired link as one object: its port, the receiver its bytes go through and where the
// converter's answers go. The window holds one, watches its descriptor, and calls it when the
// port is readable or its bound is due; nothing here waits.
#pragma once
#include <string>

#include "link/link_session.h"
#include "link/wired_connection.h"

class WiredSession : public LinkSession {
public:
  WiredSession(LinkFrameBuffer& frames, AnswerTargets& targets, ConverterLinkState& link,
               const ConverterKeyList& keys, AnswerEventSink* sink = nullptr)
      : frames_(frames), router_(targets, link, keys, sink) {}

  WiredPort port;  // name, device path, descriptor, the answer awaited

  // Opens the port named in port.portName and sends REQ_UD2.
  WiredConnectResult connect(Log& log) { return connectWired(port, frames_, log); }
  void close() { closeWiredPort(port); }

  // The descriptor to wake on, or -1 while the port is closed.
  int descriptor() const override { return port.portOpen ? port.port.fd : -1; }

  // Readable, or a bound due: everything queued is handled; an overdue answer is logged.
  bool wake(Log& log) { return wiredTick(port, frames_, log, router_); }

  // When to wake without new bytes, or -1 for never.
  long long deadline() const override { return wiredTickDeadline(port); }
  SessionWake wakeUp(Log& log) override { return {wake(log), false}; }
  AnswerWait& answerWait() override { return port.answerWait; }

  // The converter's identity from its last REQ_UD2 answer; known is false before one.
  ConverterIdentity identity() const override { return router_.identity; }

  // "Connection lost: <port>" once after a hang-up, then empty.
  std::string takeLostNotice() override { return ::takeLostNotice(port); }

private:
  LinkFrameBuffer& frames_;
  WiredAnswerRouter router_;
};
