// Reading an earlier site report back, every field's type checked.
#include "settings/site_report.h"

#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "text/printable_text.h"

using nlohmann::ordered_json;

namespace {

enum class Kind { text, truth, whole, list, object };

struct FieldRule {
  const char* name;
  Kind kind;
  bool required;
};

constexpr FieldRule entryRules[] = {
    {"converter", Kind::text, true}, {"status", Kind::text, true},  {"verified", Kind::truth, false},
    {"row", Kind::whole, false},     {"link", Kind::text, false},   {"step", Kind::text, false},
    {"reason", Kind::text, false},   {"written", Kind::list, false}, {"planned", Kind::object, false},
    {"found", Kind::object, false},  {"differences", Kind::list, false}, {"readBack", Kind::list, false},
};

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::text: return "text";
    case Kind::truth: return "true or false";
    case Kind::whole: return "a whole number";
    case Kind::list: return "a list";
    case Kind::object: return "an object";
  }
  return "?";
}

bool isKind(const ordered_json& value, Kind kind) {
  switch (kind) {
    case Kind::text: return value.is_string();
    case Kind::truth: return value.is_boolean();
    case Kind::whole: return value.is_number_integer();
    case Kind::list: return value.is_array();
    case Kind::object: return value.is_object();
  }
  return false;
}

bool refuse(const std::string& path, const std::string& reason, std::string& error) {
  error = path + ": " + reason;
  return false;
}

bool checkEntry(const ordered_json& entry, const std::string& path, std::string& error) {
  if (!entry.is_object()) return refuse(path, std::string("expected an object, got ") + entry.type_name(), error);
  for (const FieldRule& rule : entryRules) {
    const std::string field = path + "." + rule.name;
    if (!entry.contains(rule.name)) {
      if (rule.required) return refuse(field, "missing", error);
      continue;
    }
    const ordered_json& value = entry.at(rule.name);
    if (!isKind(value, rule.kind))
      return refuse(field, std::string("expected ") + kindName(rule.kind) + ", got " + value.type_name(), error);
  }
  if (entry.contains("written"))
    for (const ordered_json& step : entry.at("written"))
      if (!step.is_string()) return refuse(path + ".written", "expected a list of texts", error);
  return true;
}

}  // namespace

bool parseSiteReportText(const std::string& text, std::vector<SiteReportEntry>& entries, std::string& error) {
  entries.clear();
  ordered_json report;
  if (!parseJsonText(text, report, error)) return false;
  if (!report.is_object()) return refuse("report", std::string("expected an object, got ") + report.type_name(), error);
  if (!report.contains("converters")) return refuse("converters", "missing: not a site report", error);
  const ordered_json& list = report.at("converters");
  if (!list.is_array()) return refuse("converters", std::string("expected a list, got ") + list.type_name(), error);
  for (size_t i = 0; i < list.size(); ++i) {
    const ordered_json& entry = list[i];
    if (!checkEntry(entry, "converters[" + std::to_string(i) + "]", error)) return false;
    SiteReportEntry out;
    out.converter = entry.at("converter").get<std::string>();
    out.status = entry.at("status").get<std::string>();
    out.verified = entry.contains("verified") && entry.at("verified").get<bool>();
    out.entry = entry;
    entries.push_back(out);
  }
  return true;
}

bool readSiteReportFile(const std::string& path, std::vector<SiteReportEntry>& entries, std::string& error) {
  std::string text;
  if (!readBoundedTextFile(path, siteReportByteLimit, "report", text, error)) return false;
  if (!parseSiteReportText(text, entries, error)) {
    error = printableText(path + ": " + error);
    return false;
  }
  return true;
}
