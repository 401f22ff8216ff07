// What the wired and the stick session both are to the link: a port to wake on, a bound, a
// wake-up that turns bytes into answer events, and a loss. The link chooses one when it connects.
#pragma once
#include <string>

#include "codec/answer_wait.h"
#include "codec/converter_identity.h"
#include "text/log.h"

// What one wake-up of a session did.
struct SessionWake {
  bool happened = false;  // bytes were read or a line logged
  bool back = false;      // a port that had gone is open again
};

class LinkSession {
public:
  virtual ~LinkSession() = default;
  // The open port's descriptor, -1 while it is closed.
  virtual int descriptor() const = 0;
  // The descriptor to watch now: -1 also while the port rests (deadline() says when to wake).
  virtual int descriptorToWatch(long long nowMs) const { (void)nowMs; return descriptor(); }
  // When to wake without input, -1 for never.
  virtual long long deadline() const = 0;
  // Readable, or a bound due: everything queued becomes answer events for the sink.
  virtual SessionWake wakeUp(Log& log) = 0;
  // "Connection lost: <port>" once after the port went, then empty.
  virtual std::string takeLostNotice() = 0;
  // The request awaited on this session.
  virtual AnswerWait& answerWait() = 0;
  // The converter at the other end: by wire its REQ_UD2 answer, over the air the partner chosen.
  virtual ConverterIdentity identity() const = 0;
};
