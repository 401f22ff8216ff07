// The converter's eight option bits: reading, the dialog's checks, writing back.
#include "converter/option_bits.h"

#include <cstdio>

#include "codec/message_codec.h"
#include "converter/slot_data.h"
#include "text/log.h"

const char* const optionLabels[optionCount] = {
    "Unencrypted wired config.", "Converter secondary address", "option 3", "option 4",
    "option 5", "option 6", "option 7", "option 8"};

namespace {
constexpr size_t optionsOffset = 3;
}

int requestConverterOptions(SettingsView& view, CommandChannel& channel) {
  loadKeyFromView(view, channel);
  const uint8_t payload[readOptionsLength] = {converterCommandPrefix0, converterCommandPrefix1,
                                              commandReadOptions};
  return sendConverterCommand(channel, payload, sizeof payload);
}

void optionChecksForDialog(const ConverterOptions& options, bool checks[optionCount]) {
  for (int i = 0; i < optionCount; ++i) checks[i] = options.known && options.bytes[i] != 0;
}

int confirmConverterOptions(const bool checks[optionCount], ConverterOptions& options,
                            SettingsView& view, CommandChannel& channel) {
  for (int i = 0; i < optionCount; ++i) options.bytes[i] = checks[i] ? 1 : 0;
  options.known = true;
  loadKeyFromView(view, channel);
  uint8_t payload[writeOptionsLength] = {converterCommandPrefix0, converterCommandPrefix1,
                                         commandWriteOptions};
  for (int i = 0; i < optionCount; ++i) payload[optionsOffset + i] = options.bytes[i];
  return sendConverterCommand(channel, payload, sizeof payload);
}

bool applyOptionsAnswer(const uint8_t* payload, size_t length, ConverterOptions& options,
                        SettingsView& view, Log& log) {
  if (!answerLongEnough(payload, length, optionsAnswerLength, "option bits", log)) return false;
  for (int i = 0; i < optionCount; ++i) options.bytes[i] = payload[optionsOffset + i];
  options.known = true;
  ++options.answers;
  if (view.optionDialogOpen()) {
    // Check 0 reads any non-zero byte as on; the others only a byte of exactly 1.
    view.setOptionCheck(0, options.bytes[0] != 0);
    for (int i = 1; i < optionCount; ++i) view.setOptionCheck(i, options.bytes[i] == 1);
  }
  return true;
}
