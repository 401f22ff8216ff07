// The site report as JSON: written after each step as a journal, read back to resume a run.
#include "jobs/site_journal.h"

#include <cctype>

#include "jobs/survey_text.h"
#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "settings/site_report.h"
#include "text/signal_journal.h"

using nlohmann::ordered_json;

namespace {

bool sameId(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

ordered_json plannedJson(const SettingsFile& planned) {
  ordered_json value;
  std::string error;
  parseJsonText(settingsText(planned), value, error);
  return value;
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
  if (run.action == SiteAction::survey) {
    out["seconds"] = r.listened.seconds;
    out["scansSent"] = r.listened.scansSent;
    out["scansAnswered"] = r.listened.scansAnswered;
    // Every converter has its list, empty when it was not heard or failed.
    out["meters"] = r.outcome == SiteOutcome::done && r.meters ? surveyMetersJson(*r.meters) : ordered_json::array();
  }
  if (run.action == SiteAction::exportPlan && r.outcome == SiteOutcome::done) {
    out["found"]["wiredAddress"] = r.found[0];
    for (int s = 0; s < sitePlanSlotCount; ++s) out["found"][sitePlanColumnNames[columnSlot1 + s]] = r.found[1 + s];
  }
  return out;
}

}  // namespace

ordered_json siteReportJson(const SiteRunRecord& run, const char* endedBy) {
  ordered_json list = ordered_json::array();
  for (const SiteConverterResult& r : run.results) list.push_back(resultJson(run, r));
  ordered_json out = {{"command", std::string("site ") + siteActionName(run.action)}, {"plan", run.planPath},
                      {"complete", run.ended && endedBy == nullptr && run.stickLost.empty()}};
  if (endedBy != nullptr) out["endedBy"] = endedBy;
  if (!run.stickLost.empty()) out["stickLost"] = run.stickLost;
  out["exitCode"] = siteExitCode(run);
  out["converters"] = list;
  return out;
}

std::string siteReportText(const SiteRunRecord& run, const char* endedBy) {
  return jsonDocumentText(siteReportJson(run, endedBy));
}

bool writeSiteJournal(const std::string& path, const SiteRunRecord& run, const ReadFiles* reads, std::string& error) {
  if (run.ended) {
    clearSignalJournal();
  } else {
    std::string last[journalSignalCount];
    for (int i = 0; i < journalSignalCount; ++i) last[i] = siteReportText(run, journalSignalName(i));
    setSignalJournal(path, last);
  }
  return writePrivateTextFile(path, siteReportText(run), error, reads);
}

bool readSiteResume(const std::string& path, SiteRunRecord& run, std::string& error) {
  std::vector<SiteReportEntry> entries;
  if (!readSiteReportFile(path, entries, error)) return false;
  for (const SiteReportEntry& entry : entries) {
    if (entry.status != "done" || !entry.verified) continue;
    const ordered_json planned = entry.entry.contains("planned") ? entry.entry["planned"] : ordered_json();
    for (SiteConverterResult& r : run.results) {
      if (r.resumed || !sameId(entry.converter, r.row->converter)) continue;
      // Only what was planned then and is planned now, field for field, stays done (in whatever
      // order a tool that rewrote the report left the keys).
      if (nlohmann::json::parse(planned.dump()) != nlohmann::json::parse(plannedJson(r.planned).dump())) continue;
      r.resumed = true;
      r.resumedEntry = entry.entry.dump();
      r.outcome = SiteOutcome::done;
    }
  }
  return true;
}
