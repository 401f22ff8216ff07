// How a job waits for its link without knowing whose event loop runs: quarn-cli blocks on the
// port, the window runs its own event loop until the link was woken.
#pragma once

class ConverterLink;

class JobWaiter {
public:
  virtual ~JobWaiter() = default;
  // Waits until the link's port is readable or hung up, its own bound is due, or untilMs
  // (answerClockMs) passes, whichever comes first, and has the link woken before it returns.
  // False when there is nothing to wait on (no port open).
  virtual bool waitOnce(ConverterLink& link, long long untilMs) = 0;
};

// The port layer's waitForInput on the link's descriptor: for quarn-cli and the tests.
class PortWaiter : public JobWaiter {
public:
  bool waitOnce(ConverterLink& link, long long untilMs) override;
};
