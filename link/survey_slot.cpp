// Survey rows as texts and as slot fields; slot fields compared with what was heard.
#include "link/survey_slot.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/hex_text.h"

const char surveyNotHeardVerdict[] = "not-heard";

namespace {

constexpr size_t idOffset = 2;
constexpr size_t versionOffset = 6;
constexpr size_t typeOffset = 7;

std::string hexOf(const uint8_t* bytes, size_t count) {
  char text[2 * keyCheckValueBytes + 3] = {};
  if (count > keyCheckValueBytes + 1) return std::string();
  bytesToHexText(bytes, count, text);
  return text;
}

std::string idOf(const uint8_t* address) {
  char text[9];
  idToHexText(address + idOffset, text);
  return text;
}

std::string manufacturerOf(const uint8_t* address) {
  char letters[4] = {};
  manufacturerCodeToText(address, letters);
  return letters;
}

std::string upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A hex field equals the byte when it holds exactly that value ("7", "07" and "07 " alike).
bool hexFieldIs(const std::string& text, uint8_t value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(begin, &end, 16);
  if (end == begin) return false;
  while (*end == ' ') ++end;
  return *end == '\0' && parsed == value;
}

// A Device ID text names the meter when, padded as Set Data pads it, its 8 digits are the ID.
bool namesId(const SlotFields& slot, const std::string& id) {
  std::string text = slot.deviceId;
  padDeviceIdText(text);
  return upper(text) == id;
}

}  // namespace

double surveyRssiMean(const SurveyRow& row) { return std::round(row.rssiMeanDbm * 10) / 10; }

SurveyRowTexts surveyRowTexts(const SurveyRow& row) {
  SurveyRowTexts t;
  t.id = idOf(row.address);
  t.manufacturer = manufacturerOf(row.address);
  t.version = hexOf(row.address + versionOffset, 1);
  t.type = hexOf(row.address + typeOffset, 1);
  t.rssi = "-";
  if (row.scans > 0) {
    char rssi[48];
    std::snprintf(rssi, sizeof rssi, "%d/%.1f/%d", row.rssiMinDbm, surveyRssiMean(row), row.rssiMaxDbm);
    t.rssi = rssi;
  }
  // An unsupported verdict names the mode or CI it met.
  const bool namesUnsupported = row.check.verdict == KeyVerdict::unsupported && row.check.unsupported[0] != '\0';
  t.security = !row.heard ? "-" : namesUnsupported ? row.check.unsupported : row.security;
  t.verdict = row.heard ? keyVerdictText(row.check.verdict) : surveyNotHeardVerdict;
  if (row.check.entryKnown) t.keyEntry = hexOf(row.check.entryId, 4);
  if (row.check.kcvKnown) t.kcv = hexOf(row.check.kcv, keyCheckValueBytes);
  return t;
}

bool surveyWorkingKey(const KeyCheck& check, const MeterKeyList& keys, uint8_t key[16]) {
  const bool decrypted = check.verdict == KeyVerdict::right || check.verdict == KeyVerdict::reversed ||
                         check.verdict == KeyVerdict::otherEntry;
  if (!decrypted || !check.entryKnown) return false;
  const MeterKeyEntry* entry = findMeterKeys(keys, check.entryId);
  if (entry == nullptr) return false;
  const uint8_t* listed = check.secondKey ? entry->secondKey : entry->firstKey;
  for (size_t i = 0; i < 16; ++i) key[i] = check.verdict == KeyVerdict::reversed ? listed[15 - i] : listed[i];
  return true;
}

SlotFields slotFieldsFromSurvey(const SurveyRow& row, const MeterKeyList& keys, const SlotFields& current) {
  SlotFields fields = current;
  const SurveyRowTexts texts = surveyRowTexts(row);
  fields.manufacturer = texts.manufacturer;
  fields.deviceId = texts.id;
  fields.version = texts.version;
  fields.media = texts.type;
  uint8_t key[16];
  if (surveyWorkingKey(row.check, keys, key)) {
    char text[33];
    keyToHexText(key, text);
    fields.masterKey = text;
  }
  return fields;
}

std::string surveySlotMark(const SurveyRow& row, const SlotFields slots[slotCount]) {
  const std::string id = idOf(row.address);
  std::string mark;
  for (int s = 0; s < slotCount; ++s) {
    const SlotFields& slot = slots[s];
    if (!namesId(slot, id)) continue;
    std::string differs;
    const auto add = [&differs](const char* name) { differs += (differs.empty() ? "" : ", ") + std::string(name); };
    if (upper(slot.manufacturer) != manufacturerOf(row.address)) add("manufacturer");
    if (!hexFieldIs(slot.version, row.address[versionOffset])) add("version");
    if (!hexFieldIs(slot.media, row.address[typeOffset])) add("media");
    if (!mark.empty()) mark += "; ";
    mark += "slot " + std::to_string(s + 1) + (differs.empty() ? "" : " differs: " + differs);
  }
  return mark;
}
