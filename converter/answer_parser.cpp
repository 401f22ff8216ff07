// Recognises the converter's answers and hands each to the command it answers.
#include "converter/answer_parser.h"

#include "converter/slot_data.h"

namespace {
constexpr size_t answerHeadLength = 3;  // 0F 35 and the command code
}

bool parseConverterAnswer(const uint8_t* payload, size_t length, AnswerTargets& targets) {
  if (payload == nullptr || length < answerHeadLength) return false;
  if (payload[0] != converterCommandPrefix0 || payload[1] != converterCommandPrefix1) return false;
  switch (payload[2]) {
    case commandGetData:
      return applyGetDataAnswer(payload, length, targets.view, targets.log);
    case commandScan:
      return applyScanAnswer(payload, length, targets.nearby, targets.view, targets.log);
    case commandReadOptions:
      return applyOptionsAnswer(payload, length, targets.options, targets.view, targets.log);
    default:
      return false;
  }
}

