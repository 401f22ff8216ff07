// Recognises the converter's answers and hands each to the command it answers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "converter/settings_view.h"

class Log;

// What answers may change; the application owns the single instances.
struct AnswerTargets {
  SettingsView& view;
  Log& log;
  ConverterOptions& options;
  NearbyDeviceList& nearby;
};

// payload: the answer from its first byte 0x0F, length bytes readable. Acts on
// 0F 35 92 (Get Data), 0F 35 96 (Scan) and 0F 35 97 (option bits); anything else is
// ignored without a log line. Returns true when an answer changed something.
bool parseConverterAnswer(const uint8_t* payload, size_t length, AnswerTargets& targets);

