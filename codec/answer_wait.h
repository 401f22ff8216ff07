// The request waiting for the converter's answer, and the bound after which the log says none came.
#pragma once
#include <cstdint>

class Log;

// How long an answer may take before the log says it did not come.
//
// Wired: the slowest legal answer is a long frame of 255 + 6 bytes, 11 bits a byte at 2400 baud:
// 1.2 s on the line. The converter may take up to 330 bit times plus 50 ms (about 0.2 s) to
// start answering, and the port is read as the bytes arrive (on Windows within 50 ms): about
// 1.5 s in all, so 2 s.
//
// Over the air: the stick queues the message until the converter listens, the converter
// answers by radio when its own schedule allows, and the stick hands the frame on. Converters
// send about once a second to once every few seconds; 6 s covers a missed window and a repeat
// without leaving the user wondering for long.
constexpr int wiredAnswerBoundMs = 2000;
constexpr int wirelessAnswerBoundMs = 6000;

// Stands for REQ_UD2 where a converter command code would be: converter commands never use it.
constexpr uint8_t answerWaitReqUd2 = 0x00;

struct AnswerWait {
  bool armed = false;
  bool expired = false;     // the last armed wait ended by its bound, not by an answer
  uint8_t request = 0;      // converter command code, or answerWaitReqUd2
  bool secured = false;     // a key was involved: a wrong one is a likely cause
  uint32_t counter = 0;     // the message counter the request carried, when secured
  int boundMs = 0;
  long long deadlineMs = 0;
};

// Milliseconds of a monotonic clock; the time base of every wait.
long long answerClockMs();

// The request's name as the log shows it: "Get Data", "REQ_UD2", ...
const char* answerRequestName(uint8_t request);

// A request went out now: its answer is due within boundMs. Replaces an earlier wait.
void armAnswerWait(AnswerWait& wait, uint8_t request, bool secured, uint32_t counter, int boundMs,
                   long long nowMs);

// The answer (or whatever the converter gave as its reply) arrived.
void clearAnswerWait(AnswerWait& wait);

// The likely causes of a request left unanswered, as the no-answer line names them.
const char* noAnswerCauses(bool secured);

// When the bound has passed: logs one line naming the request and its likely causes, disarms
// and returns 1. Otherwise returns 0 and logs nothing.
int expireAnswerWait(AnswerWait& wait, long long nowMs, Log& log, int style);
