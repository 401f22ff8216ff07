// The converter's eight option bits: reading, the dialog's checks, writing back.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/command_codes.h"
#include "converter/settings_view.h"

class Log;
struct CommandChannel;

constexpr int optionCount = 8;
constexpr size_t readOptionsLength = 3;
constexpr size_t writeOptionsLength = 3 + optionCount;
constexpr size_t optionsAnswerLength = 3 + optionCount;

// One byte per option, 0 off, anything else on; all on until the converter answers.
struct ConverterOptions {
  uint8_t bytes[optionCount] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  // Set once the bytes came from an answer, a write or a settings file: only such bits
  // are worth saving.
  bool known = false;
  uint32_t answers = 0;  // option answers stored, so an answer of the same bits still counts
};

// Check button labels in index order.
extern const char* const optionLabels[optionCount];

// "Set option bits", first step: asks the converter for its option bits.
int requestConverterOptions(SettingsView& view, CommandChannel& channel);

// How the dialog's checks start: ticked for every non-zero byte once the bits are known;
// all clear while they are not, so nothing the converter never said shows as on.
void optionChecksForDialog(const ConverterOptions& options, bool checks[optionCount]);

// "OK": stores 1 or 0 per check and writes all eight bytes to the converter.
int confirmConverterOptions(const bool checks[optionCount], ConverterOptions& options,
                            SettingsView& view, CommandChannel& channel);

// Answer 0F 35 97 and eight bytes: stored as received. While the dialog runs, check 0
// follows "non-zero" and checks 1 to 7 follow "equals 1". An answer shorter than 11
// bytes changes nothing and logs a "<<< Ignored" line. Returns true when stored.
bool applyOptionsAnswer(const uint8_t* payload, size_t length, ConverterOptions& options,
                        SettingsView& view, Log& log);
