// One row per meter for a survey or an offline key check: what the stick heard, what the
// converter's Scan answers said of its signal, and the key verdict.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/heard_meters.h"
#include "codec/key_list.h"
#include "codec/meter_key_check.h"
#include "converter/nearby_devices.h"

constexpr size_t surveyRowCapacity = heardMeterCapacity + nearbyCapacity;

struct SurveyRow {
  uint8_t address[linkAddressBytes] = {};  // radio order
  uint32_t frames = 0;                     // telegrams the stick delivered (or lines read)
  uint32_t scans = 0;                      // Scan answers that named it
  int rssiMinDbm = 0;
  int rssiMaxDbm = 0;
  double rssiMeanDbm = 0;
  bool heard = false;     // a telegram is there, so security and verdict are known
  char security[40] = {};  // "none", "mode 5", "mode 7", "mode 13", "CI 0x8D"
  KeyCheck check;
};

struct SurveyRows {
  SurveyRow rows[surveyRowCapacity];
  size_t count = 0;
};

// Rows for every meter in heard and, when scans is given, every device the converter named;
// sorted as the nearby list sorts (manufacturer, then identification number).
void buildSurveyRows(const HeardMeterTable& heard, const NearbyDeviceList* scans, const MeterKeyList& keys,
                     SurveyRows& out);

// Whether every row with a verdict is right or plain.
bool surveyAllRight(const SurveyRows& rows);
