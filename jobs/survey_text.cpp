// The survey's and key check's rows as text and JSON, from the row texts the window shows too.
#include "jobs/survey_text.h"

#include <cstdio>

#include "link/survey_slot.h"

using nlohmann::ordered_json;

ordered_json surveyRowJson(const SurveyRow& row) {
  const SurveyRowTexts t = surveyRowTexts(row);
  ordered_json out;
  out["id"] = t.id;
  out["manufacturer"] = t.manufacturer;
  out["version"] = t.version;
  out["type"] = t.type;
  out["frames"] = row.frames;
  out["scans"] = row.scans;
  if (row.scans > 0) {
    out["rssiMinDbm"] = row.rssiMinDbm;
    out["rssiMeanDbm"] = surveyRssiMean(row);
    out["rssiMaxDbm"] = row.rssiMaxDbm;
  } else {
    out["rssiMinDbm"] = nullptr;
    out["rssiMeanDbm"] = nullptr;
    out["rssiMaxDbm"] = nullptr;
  }
  out["security"] = row.heard ? ordered_json(t.security) : ordered_json(nullptr);
  out["verdict"] = t.verdict;
  out["keyEntry"] = t.keyEntry.empty() ? ordered_json(nullptr) : ordered_json(t.keyEntry);
  out["kcv"] = t.kcv.empty() ? ordered_json(nullptr) : ordered_json(t.kcv);
  return out;
}

std::string surveyRowText(const SurveyRow& row) {
  const SurveyRowTexts t = surveyRowTexts(row);
  std::string verdict = t.verdict;
  if (!t.keyEntry.empty()) {
    verdict += " " + t.keyEntry;
    if (row.check.secondKey) verdict += " (second key)";
  }
  if (!t.kcv.empty()) verdict += " kcv " + t.kcv;
  char line[256];
  std::snprintf(line, sizeof line, "%-8s  %-3s  %-2s  %-2s  %6u  %5u  %-17s  %-12s  %s", t.id.c_str(),
                t.manufacturer.c_str(), t.version.c_str(), t.type.c_str(), unsigned(row.frames), unsigned(row.scans),
                t.rssi.c_str(), t.security.c_str(), verdict.c_str());
  return line;
}

ordered_json surveyMetersJson(const SurveyRows& rows) {
  ordered_json meters = ordered_json::array();
  for (size_t i = 0; i < rows.count; ++i) meters.push_back(surveyRowJson(rows.rows[i]));
  return meters;
}
