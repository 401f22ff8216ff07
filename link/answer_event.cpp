// Typed answer events and the rule of which event answers which request.
#include "link/answer_event.h"

#include "codec/command_codes.h"

namespace {
bool acknowledgedOnly(uint8_t request) { return request == commandSetData || request == commandWriteOptions; }
}  // namespace

bool answersRequest(const AnswerWait& wait, int slot, const AnswerEvent& event) {
  switch (event.kind) {
    // By wire a status frame naming the converter is also how it takes a request without an answer.
    case AnswerKind::identity: return wait.request == answerWaitReqUd2 || acknowledgedOnly(wait.request);
    case AnswerKind::slotRecord: return wait.request == commandGetData && event.slot == slot;
    case AnswerKind::optionBits: return wait.request == commandReadOptions;
    case AnswerKind::scanEntries: return wait.request == commandScan;
    case AnswerKind::acknowledged: return acknowledgedOnly(wait.request);
    case AnswerKind::counter: return acknowledgedOnly(wait.request) && wait.secured && event.counter == wait.counter;
    case AnswerKind::refused:
    case AnswerKind::garbled: break;
  }
  return false;
}

AnswerEvent commandAnswerEvent(const uint8_t* payload, size_t length, bool taken) {
  AnswerEvent event;
  if (!taken || length < 3) return event;
  event.command = payload[2];
  switch (payload[2]) {
    case commandGetData:
      event.kind = AnswerKind::slotRecord;
      event.slot = length > 3 ? payload[3] : -1;
      break;
    case commandReadOptions: event.kind = AnswerKind::optionBits; break;
    case commandScan: event.kind = AnswerKind::scanEntries; break;
    default: break;
  }
  return event;
}

void AnswerMatcher::onAnswerEvent(const AnswerEvent& event) {
  if (wait == nullptr || !wait->armed) return;
  if (event.kind == AnswerKind::refused) refused = true;
  if (answersRequest(*wait, slot, event)) {
    answered = true;
    clearAnswerWait(*wait);
  } else if (event.endsWait) {
    clearAnswerWait(*wait);
  }
}
