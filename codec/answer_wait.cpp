// Bounded waits for the converter's answers.
#include "codec/answer_wait.h"

#include <cstdio>

#include "codec/command_codes.h"
#include "text/log.h"
#include "text/steady_clock.h"

long long answerClockMs() { return steadyClockMs(); }

const char* answerRequestName(uint8_t request) {
  switch (request) {
    case answerWaitReqUd2: return "REQ_UD2";
    case commandGetData: return "Get Data";
    case commandSetData: return "Set Data";
    case commandScan: return "Scan";
    case commandReadOptions: return "read option bits";
    case commandWriteOptions: return "write option bits";
    default: return "converter command";
  }
}

const char* noAnswerCauses(bool secured) {
  // Plain requests carry no key, so only a secured one can fail on it.
  return secured ? "wrong converter key or address, or converter out of reach"
                 : "wrong address, or converter out of reach";
}

void armAnswerWait(AnswerWait& wait, uint8_t request, bool secured, uint32_t counter, int boundMs,
                   long long nowMs) {
  wait.armed = true;
  wait.expired = false;
  wait.request = request;
  wait.secured = secured;
  wait.counter = counter;
  wait.boundMs = boundMs;
  wait.deadlineMs = nowMs + boundMs;
}

void clearAnswerWait(AnswerWait& wait) { wait.armed = false; }

int expireAnswerWait(AnswerWait& wait, long long nowMs, Log& log, int style) {
  if (!wait.armed || nowMs < wait.deadlineMs) return 0;
  wait.armed = false;
  wait.expired = true;
  const char* causes = noAnswerCauses(wait.secured);
  char line[160];
  std::snprintf(line, sizeof line, "No answer to %s within %d.%d s: %s.\n",
                answerRequestName(wait.request), wait.boundMs / 1000, wait.boundMs % 1000 / 100,
                causes);
  logOwnLine(log, line, style);
  return 1;
}
