// Site apply reports and site surveys: each field checked for its type and range, the first one
// that is wrong named in the refusal.
#include "settings/report_inputs.h"

#include <cctype>
#include <cmath>
#include <set>

#include <nlohmann/json.hpp>

#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "text/hex_text.h"
#include "text/printable_text.h"

using nlohmann::json;

namespace {

// RSSI the converter can report lies between -138 and -11 dBm; a little room either side.
constexpr double rssiLowestDbm = -200;
constexpr double rssiHighestDbm = 50;

// The one place these files meet the JSON reader: an object at the top, what kind names.
bool readJsonObject(const std::string& text, const char* kind, json& root, std::string& error) {
  if (text.empty()) {
    error = "empty file";
    return false;
  }
  if (!parseJsonText(text, root, error)) return false;
  if (root.is_object()) return true;
  error = std::string("expected an object (a ") + kind + ")";
  return false;
}

// A failed check: the field's path and why, made safe for terminals (the path holds file text).
struct Checker {
  std::string& error;
  bool fail(const std::string& path, const std::string& reason) {
    error = printableText((path.empty() ? reason : path + ": " + reason).c_str());
    return false;
  }
};

std::string at(const std::string& path, const char* name) { return path.empty() ? name : path + "." + name; }
std::string at(const std::string& path, size_t index) { return path + "[" + std::to_string(index) + "]"; }

const json* member(const json& object, const char* name) {
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

// A text field; null or missing gives "" unless required.
bool takeText(Checker& c, const json& object, const std::string& path, const char* name, bool required,
              std::string& out) {
  const json* value = member(object, name);
  if (value == nullptr || value->is_null()) return !required || c.fail(at(path, name), "missing");
  if (!value->is_string()) return c.fail(at(path, name), "expected a string");
  out = value->get<std::string>();
  return true;
}

// Security as the survey gives it: a mode number or a text.
bool takeTextOrNumber(Checker& c, const json& object, const std::string& path, const char* name, std::string& out) {
  const json* value = member(object, name);
  if (value != nullptr && value->is_number_integer()) {
    out = std::to_string(value->get<long long>());
    return true;
  }
  if (value != nullptr && !value->is_null() && !value->is_string())
    return c.fail(at(path, name), "expected a string or a whole number");
  return takeText(c, object, path, name, false, out);
}

bool takeHexId(Checker& c, const json& object, const std::string& path, const char* name, std::string& out) {
  if (!takeText(c, object, path, name, true, out)) return false;
  if (!isHexText(out, 8)) return c.fail(at(path, name), "expected 8 hex digits");
  for (char& ch : out) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  return true;
}

bool takeCount(Checker& c, const json& object, const std::string& path, const char* name, bool required,
               long long& out) {
  const json* value = member(object, name);
  if (value == nullptr || value->is_null()) return !required || c.fail(at(path, name), "missing");
  if (!value->is_number_integer() || value->get<long long>() < 0)
    return c.fail(at(path, name), "expected a whole number, 0 or more");
  out = value->get<long long>();
  return true;
}

bool takeDbm(Checker& c, const json& value, const std::string& path, double& out) {
  if (!value.is_number()) return c.fail(path, "expected a number (dBm)");
  out = value.get<double>();
  if (!std::isfinite(out) || out < rssiLowestDbm || out > rssiHighestDbm)
    return c.fail(path, "expected dBm from " + std::to_string(int(rssiLowestDbm)) + " to " +
                            std::to_string(int(rssiHighestDbm)));
  return true;
}

bool takeBool(Checker& c, const json& object, const std::string& path, const char* name, bool& out) {
  const json* value = member(object, name);
  if (value == nullptr) return true;
  if (!value->is_boolean()) return c.fail(at(path, name), "expected true or false");
  out = value->get<bool>();
  return true;
}

bool takeObject(Checker& c, const json& value, const std::string& path) {
  return value.is_object() || c.fail(path, "expected an object");
}

const json* takeArray(Checker& c, const json& object, const std::string& path, const char* name) {
  const json* value = member(object, name);
  if (value == nullptr) return c.fail(at(path, name), "missing"), nullptr;
  if (!value->is_array()) return c.fail(at(path, name), "expected a list"), nullptr;
  return value;
}

// The three RSSI figures come together: all numbers with min <= mean <= max, or all null.
bool takeRssi(Checker& c, const json& object, const std::string& path, SurveyMeter& meter) {
  static const char* const names[] = {"rssiMinDbm", "rssiMeanDbm", "rssiMaxDbm"};
  double* const figures[] = {&meter.rssiMin, &meter.rssiMean, &meter.rssiMax};
  int given = 0;
  for (int i = 0; i < 3; ++i) {
    const json* value = member(object, names[i]);
    if (value == nullptr || value->is_null()) continue;
    if (!takeDbm(c, *value, at(path, names[i]), *figures[i])) return false;
    ++given;
  }
  if (given != 0 && given != 3) return c.fail(path, "rssiMinDbm, rssiMeanDbm and rssiMaxDbm: give all three or none");
  if (given == 3 && !(meter.rssiMin <= meter.rssiMean && meter.rssiMean <= meter.rssiMax))
    return c.fail(path, "expected rssiMinDbm <= rssiMeanDbm <= rssiMaxDbm");
  meter.rssiKnown = given == 3;
  return true;
}

bool takeKcv(Checker& c, const json& object, const std::string& path, std::string& out) {
  if (!takeText(c, object, path, "kcv", false, out)) return false;
  // Anything longer could be a key, which never goes into a report.
  if (out.size() > keyCheckValueDigits || !isHexText(out, out.size()))
    return c.fail(at(path, "kcv"), "expected at most " + std::to_string(keyCheckValueDigits) + " hex digits");
  for (char& ch : out) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  return true;
}

bool takeMeter(Checker& c, const json& value, const std::string& path, SurveyMeter& m) {
  return takeObject(c, value, path) && takeHexId(c, value, path, "id", m.id) &&
         takeText(c, value, path, "manufacturer", false, m.manufacturer) &&
         takeText(c, value, path, "version", false, m.version) && takeText(c, value, path, "type", false, m.type) &&
         takeCount(c, value, path, "frames", true, m.frames) && takeCount(c, value, path, "scans", false, m.scans) &&
         takeRssi(c, value, path, m) && takeTextOrNumber(c, value, path, "security", m.security) &&
         takeText(c, value, path, "verdict", true, m.verdict) &&
         takeText(c, value, path, "keyEntry", false, m.keyEntry) && takeKcv(c, value, path, m.kcv);
}

// "rssiSamples": {"<meter ID>": [[seconds, dBm], ...]}, seconds never going back.
bool takeSamples(Checker& c, const json& object, const std::string& path, SurveyConverter& converter) {
  const json* all = member(object, "rssiSamples");
  if (all == nullptr || all->is_null()) return true;
  const std::string here = at(path, "rssiSamples");
  if (!takeObject(c, *all, here)) return false;
  for (auto entry = all->begin(); entry != all->end(); ++entry) {
    const std::string where = here + "." + entry.key();
    std::string id = entry.key();
    for (char& ch : id) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    SurveyMeter* meter = nullptr;
    for (SurveyMeter& m : converter.meters)
      if (m.id == id) meter = &m;
    if (meter == nullptr) return c.fail(where, "no such meter in meters");
    if (!entry->is_array()) return c.fail(where, "expected a list of [seconds, dBm]");
    if (entry->size() > surveySampleLimit)
      return c.fail(where, "more than " + std::to_string(surveySampleLimit) + " samples");
    for (size_t i = 0; i < entry->size(); ++i) {
      const json& pair = (*entry)[i];
      const std::string p = at(where, i);
      if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number())
        return c.fail(p, "expected [seconds, dBm]");
      RssiSample sample;
      sample.seconds = pair[0].get<double>();
      if (!std::isfinite(sample.seconds) || sample.seconds < 0) return c.fail(p, "expected seconds, 0 or more");
      if (!meter->samples.empty() && sample.seconds < meter->samples.back().seconds)
        return c.fail(p, "earlier than the sample before it");
      if (!takeDbm(c, pair[1], p, sample.dbm)) return false;
      meter->samples.push_back(sample);
    }
  }
  return true;
}

bool takeSurveyConverter(Checker& c, const json& value, const std::string& path, SurveyConverter& out) {
  if (!takeObject(c, value, path) || !takeHexId(c, value, path, "converter", out.converter)) return false;
  const json* meters = takeArray(c, value, path, "meters");
  if (meters == nullptr) return false;
  const std::string here = at(path, "meters");
  if (meters->size() > surveyMeterLimit)
    return c.fail(here, "more than " + std::to_string(surveyMeterLimit) + " meters");
  std::set<std::string> ids;
  for (size_t i = 0; i < meters->size(); ++i) {
    SurveyMeter meter;
    if (!takeMeter(c, (*meters)[i], at(here, i), meter)) return false;
    if (!ids.insert(meter.id).second) return c.fail(at(at(here, i), "id"), meter.id + " listed twice");
    out.meters.push_back(meter);
  }
  return takeSamples(c, value, path, out);
}

bool takeApplyResult(Checker& c, const json& value, const std::string& path, ApplyResult& out) {
  if (!takeObject(c, value, path) || !takeHexId(c, value, path, "converter", out.converter) ||
      !takeText(c, value, path, "link", false, out.link) || !takeText(c, value, path, "status", true, out.status) ||
      !takeText(c, value, path, "step", false, out.step) || !takeText(c, value, path, "reason", false, out.reason))
    return false;
  // A verify report has no "verified": a converter read back without differences is.
  const json* differences = member(value, "differences");
  out.verified = out.status == "done" && differences != nullptr && differences->is_array() && differences->empty();
  if (!takeBool(c, value, path, "verified", out.verified)) return false;
  const json* written = member(value, "written");
  if (written == nullptr || written->is_null()) return true;
  if (!written->is_array()) return c.fail(at(path, "written"), "expected a list");
  for (size_t i = 0; i < written->size(); ++i) {
    if (!(*written)[i].is_string()) return c.fail(at(at(path, "written"), i), "expected a string");
    out.written.push_back((*written)[i].get<std::string>());
  }
  return true;
}

// Parses the list under "converters", refusing a converter listed twice.
template <class Entry, class Take>
bool takeConverters(Checker& c, const json& root, std::vector<Entry>& out, Take take) {
  const json* list = takeArray(c, root, "", "converters");
  if (list == nullptr) return false;
  std::set<std::string> ids;
  for (size_t i = 0; i < list->size(); ++i) {
    Entry entry;
    const std::string path = at(std::string("converters"), i);
    if (!take(c, (*list)[i], path, entry)) return false;
    if (!ids.insert(entry.converter).second) return c.fail(at(path, "converter"), entry.converter + " listed twice");
    out.push_back(entry);
  }
  return true;
}

template <class Record, class Parse>
bool readFile(const std::string& path, size_t limit, const char* kind, Record& record, std::string& error,
              Parse parse) {
  std::string text;
  if (!readBoundedTextFile(path, limit, kind, text, error)) return false;
  std::string reason;
  if (parse(text, record, reason)) return true;
  error = printableText(path.c_str()) + ": " + reason;
  return false;
}

}  // namespace

bool parseApplyReportText(const std::string& text, ApplyReport& report, std::string& error) {
  report = ApplyReport{};
  Checker c{error};
  json root;
  return readJsonObject(text, "site apply report", root, error) &&
         takeBool(c, root, "", "complete", report.complete) &&
         takeText(c, root, "", "stickLost", false, report.stickLost) &&
         takeConverters(c, root, report.converters, takeApplyResult);
}

bool parseSiteSurveyText(const std::string& text, SiteSurvey& survey, std::string& error) {
  survey = SiteSurvey{};
  Checker c{error};
  json root;
  return readJsonObject(text, "site survey", root, error) &&
         takeConverters(c, root, survey.converters, takeSurveyConverter);
}

bool readApplyReportFile(const std::string& path, ApplyReport& report, std::string& error) {
  return readFile(path, applyReportByteLimit, "site apply report", report, error, parseApplyReportText);
}

bool readSiteSurveyFile(const std::string& path, SiteSurvey& survey, std::string& error) {
  return readFile(path, siteSurveyByteLimit, "site survey", survey, error, parseSiteSurveyText);
}
