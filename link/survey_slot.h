// A surveyed meter in a device slot: the texts of its row, the slot fields it fills, and
// where a slot planned for it differs from what was heard.
#pragma once
#include <cstdint>
#include <string>

#include "converter/slot_data.h"
#include "link/survey_rows.h"

// One row's texts, as quarn-cli prints them and the window's Survey tab shows them.
struct SurveyRowTexts {
  std::string id;            // 8 hex digits, most significant first
  std::string manufacturer;  // three letters
  std::string version;       // 2 hex digits
  std::string type;          // 2 hex digits
  std::string rssi;          // "min/mean/max" in dBm, "-" without a scan
  std::string security;      // "-" when no telegram was heard
  std::string verdict;       // "not-heard" when no telegram was heard
  std::string keyEntry;      // the meterKeys/ entry named, "" when none
  std::string kcv;           // 6 hex digits, "" when none
};

extern const char surveyNotHeardVerdict[];  // "not-heard"

SurveyRowTexts surveyRowTexts(const SurveyRow& row);
// The mean shown with one decimal.
double surveyRssiMean(const SurveyRow& row);

// The key that decrypted the meter's telegram, as it works (a reversed key reversed back): only
// for right, reversed and other-entry. False, leaving key as it was, otherwise.
bool surveyWorkingKey(const KeyCheck& check, const MeterKeyList& keys, uint8_t key[16]);

// Slot fields filled from the heard address (manufacturer, ID, version, device type as media)
// and the working key as "Master Key"; everything else stays as in current.
SlotFields slotFieldsFromSurvey(const SurveyRow& row, const MeterKeyList& keys, const SlotFields& current);

// Which of manufacturer, version and media of a slot naming the row's ID differ from what was
// heard: "" when the slot names another ID, else "slot N" or "slot N differs: version, media".
// The slots are read in order; every slot naming the ID is listed, separated by "; ".
std::string surveySlotMark(const SurveyRow& row, const SlotFields slots[slotCount]);
