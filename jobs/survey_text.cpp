// The survey's and key check's rows as text and JSON, the same for every face and report.
#include "jobs/survey_text.h"

#include <cmath>
#include <cstdio>

#include "text/hex_text.h"

using nlohmann::ordered_json;

namespace {

std::string hexText(const uint8_t* bytes, size_t count) {
  char text[2 * 8 + 1];
  bytesToHexText(bytes, count, text);
  return text;
}

std::string idText(const uint8_t* id) {
  char text[9];
  idToHexText(id, text);
  return text;
}

std::string manufacturerText(const uint8_t* address) {
  char letters[4] = {};
  manufacturerCodeToText(address, letters);
  return letters;
}

// A meter only the converter's scans named: no telegram of it reached the stick, so no key was checked.
const char notHeardVerdict[] = "not-heard";

double oneDecimal(double value) { return std::round(value * 10) / 10; }

// The security text, or for an unsupported verdict the mode or CI it names.
std::string securityOf(const SurveyRow& row) {
  if (row.check.verdict == KeyVerdict::unsupported && row.check.unsupported[0] != '\0') return row.check.unsupported;
  return row.security;
}

}  // namespace

ordered_json surveyRowJson(const SurveyRow& row) {
  ordered_json out;
  out["id"] = idText(row.address + 2);
  out["manufacturer"] = manufacturerText(row.address);
  out["version"] = hexText(row.address + 6, 1);
  out["type"] = hexText(row.address + 7, 1);
  out["frames"] = row.frames;
  out["scans"] = row.scans;
  if (row.scans > 0) {
    out["rssiMinDbm"] = row.rssiMinDbm;
    out["rssiMeanDbm"] = oneDecimal(row.rssiMeanDbm);
    out["rssiMaxDbm"] = row.rssiMaxDbm;
  } else {
    out["rssiMinDbm"] = nullptr;
    out["rssiMeanDbm"] = nullptr;
    out["rssiMaxDbm"] = nullptr;
  }
  out["security"] = row.heard ? ordered_json(securityOf(row)) : ordered_json(nullptr);
  out["verdict"] = row.heard ? keyVerdictText(row.check.verdict) : notHeardVerdict;
  out["keyEntry"] = row.check.entryKnown ? ordered_json(hexText(row.check.entryId, 4)) : ordered_json(nullptr);
  out["kcv"] = row.check.kcvKnown ? ordered_json(hexText(row.check.kcv, keyCheckValueBytes)) : ordered_json(nullptr);
  return out;
}

std::string surveyRowText(const SurveyRow& row) {
  char rssi[32] = "-";
  if (row.scans > 0)
    std::snprintf(rssi, sizeof rssi, "%d/%.1f/%d", row.rssiMinDbm, oneDecimal(row.rssiMeanDbm), row.rssiMaxDbm);
  std::string verdict = row.heard ? keyVerdictText(row.check.verdict) : notHeardVerdict;
  if (row.check.entryKnown) {
    verdict += " " + hexText(row.check.entryId, 4);
    if (row.check.secondKey) verdict += " (second key)";
  }
  if (row.check.kcvKnown) verdict += " kcv " + hexText(row.check.kcv, keyCheckValueBytes);
  char line[256];
  std::snprintf(line, sizeof line, "%-8s  %-3s  %-2s  %-2s  %6u  %5u  %-17s  %-12s  %s", idText(row.address + 2).c_str(),
                manufacturerText(row.address).c_str(), hexText(row.address + 6, 1).c_str(),
                hexText(row.address + 7, 1).c_str(), unsigned(row.frames), unsigned(row.scans), rssi,
                row.heard ? securityOf(row).c_str() : "-", verdict.c_str());
  return line;
}

ordered_json surveyMetersJson(const SurveyRows& rows) {
  ordered_json meters = ordered_json::array();
  for (size_t i = 0; i < rows.count; ++i) meters.push_back(surveyRowJson(rows.rows[i]));
  return meters;
}

