// The site report as JSON: written after each step as a journal, read back to resume a run.
#include "jobs/site_report.h"

#include <cctype>

#include <nlohmann/json.hpp>

#include "settings/settings_file.h"
#include "text/signal_journal.h"

using nlohmann::ordered_json;

namespace {

// A report holds a few kB a converter; far above the largest plan's.
constexpr size_t reportByteLimit = 16 * 1024 * 1024;

bool sameId(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

ordered_json plannedJson(const SettingsFile& planned) {
  return ordered_json::parse(settingsText(planned), nullptr, false);
}

ordered_json resultJson(const SiteRunRecord& run, const SiteConverterResult& r) {
  if (r.resumed) return ordered_json::parse(r.resumedEntry, nullptr, false);
  const SitePlanRow& row = *r.row;
  ordered_json out = {{"row", row.row}, {"converter", row.converter},
                      {"link", row.link[0] != '\0' ? row.link : "wireless"}, {"status", siteOutcomeName(r.outcome)}};
  if (run.action == SiteAction::apply) out["verified"] = r.outcome == SiteOutcome::done;
  if (r.outcome == SiteOutcome::failed || r.outcome == SiteOutcome::inProgress) {
    out["step"] = r.progress.step;
    out["reason"] = r.progress.reason;
  }
  if (run.action == SiteAction::apply) {
    out["written"] = r.progress.written;
    out["readBack"] = r.progress.readBack;
    out["planned"] = plannedJson(r.planned);
  }
  if (run.action == SiteAction::verify && r.outcome == SiteOutcome::done) {
    ordered_json list = ordered_json::array();
    for (const FieldDifference& d : r.differences)
      list.push_back({{"field", d.field}, {"planned", d.wanted}, {"found", d.found}});
    out["differences"] = list;
  }
  if (run.action == SiteAction::exportPlan && r.outcome == SiteOutcome::done) {
    out["found"]["wiredAddress"] = r.found[0];
    for (int s = 0; s < sitePlanSlotCount; ++s) out["found"][sitePlanColumnNames[columnSlot1 + s]] = r.found[1 + s];
  }
  return out;
}

std::string text(const ordered_json& value) {
  return value.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string siteReportText(const SiteRunRecord& run, const char* endedBy) {
  ordered_json list = ordered_json::array();
  for (const SiteConverterResult& r : run.results) list.push_back(resultJson(run, r));
  ordered_json out = {{"command", std::string("site ") + siteActionName(run.action)}, {"plan", run.planPath},
                      {"complete", run.ended && endedBy == nullptr && run.stickLost.empty()}};
  if (endedBy != nullptr) out["endedBy"] = endedBy;
  if (!run.stickLost.empty()) out["stickLost"] = run.stickLost;
  out["exitCode"] = siteExitCode(run);
  out["converters"] = list;
  return text(out);
}

bool writeSiteJournal(const std::string& path, const SiteRunRecord& run, std::string& error) {
  if (run.ended) {
    clearSignalJournal();
  } else {
    std::string last[journalSignalCount];
    for (int i = 0; i < journalSignalCount; ++i) last[i] = siteReportText(run, journalSignalName(i));
    setSignalJournal(path, last);
  }
  return writePrivateTextFile(path, siteReportText(run), error);
}

bool readSiteResume(const std::string& path, SiteRunRecord& run, std::string& error) {
  std::string content;
  if (!readBoundedTextFile(path, reportByteLimit, "report", content, error)) return false;
  const ordered_json report = ordered_json::parse(content, nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report.contains("converters") ||
      !report["converters"].is_array()) {
    error = path + ": not a site apply report";
    return false;
  }
  for (const ordered_json& entry : report["converters"]) {
    if (!entry.is_object()) continue;
    const auto field = [&entry](const char* name) { return entry.contains(name) ? entry[name] : ordered_json(); };
    const ordered_json status = field("status"), verified = field("verified"), id = field("converter");
    if (!status.is_string() || status.get<std::string>() != "done" || !verified.is_boolean() ||
        !verified.get<bool>() || !id.is_string())
      continue;
    const ordered_json planned = field("planned");
    for (SiteConverterResult& r : run.results) {
      if (r.resumed || !sameId(id.get<std::string>(), r.row->converter)) continue;
      // Only what was planned then and is planned now, field for field, stays done.
      if (planned != plannedJson(r.planned)) continue;
      r.resumed = true;
      r.resumedEntry = entry.dump();
      r.outcome = SiteOutcome::done;
    }
  }
  return true;
}
