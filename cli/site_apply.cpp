// The site run: each planned converter taken in turn (over the air as it is heard, by wire port by
// port), its outcome recorded in a report written after every converter, so a run cut short can
// be resumed.
#include "cli/site_apply.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/converter_apply.h"
#include "codec/answer_wait.h"
#include "converter/key_find.h"
#include "settings/site_check.h"
#include "settings/view_settings.h"
#include "text/printable_text.h"

using nlohmann::ordered_json;

namespace {

// Converters send about once a second: a run listening this long without hearing another
// planned one stops and reports the rest as not heard.
constexpr int defaultHearMs = 10000;
// A report holds a few kB a converter; far above the largest plan's.
constexpr size_t reportByteLimit = 16 * 1024 * 1024;
const std::string noKeyText(32, '0');

enum class Outcome { notStarted, inProgress, done, failed, notHeard };

const char* outcomeName(Outcome o) {
  switch (o) {
    case Outcome::inProgress: return "in progress";
    case Outcome::done: return "done";
    case Outcome::failed: return "failed";
    case Outcome::notHeard: return "not heard";
    case Outcome::notStarted: break;
  }
  return "not started";
}

struct ConverterResult {
  const SitePlanRow* row = nullptr;
  Outcome outcome = Outcome::notStarted;
  ordered_json resumed;          // the earlier report's entry, when skipped on --resume
  ApplyProgress progress;        // the failed or current step, and what was written
  SettingsFile planned;          // the plan's row filled from the template
  std::vector<FieldDifference> differences;  // verify: where the converter differs
  std::string found[1 + sitePlanSlotCount];  // export: wiredAddress, slot1..slot4 as held
};

struct SiteRun {
  SiteAction action;
  const CliOptions& options;
  const std::string& planPath;
  const SitePlan& plan;
  const SiteCheckInputs& inputs;
  std::vector<ConverterResult> results;  // one per plan row, in plan order
  size_t finished = 0;
  bool terminal = false;
  std::string stickLost;    // why the over-the-air part ended early
  std::string reportError;  // the last report write that failed
  CliLog log;
};

const char* actionName(SiteAction action) {
  return action == SiteAction::apply ? "apply" : action == SiteAction::verify ? "verify" : "export";
}

bool sameId(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// The plan's row over the template: plan slot n takes the template's slot n, else its first
// slot; a planned meter makes the slot active with its keys from meterKeys/, an empty cell an
// inactive slot without keys; wired addresses run on from the row's, one a slot.
SettingsFile plannedSettings(const SitePlanRow& row, const SiteCheckInputs& inputs) {
  static const SettingsFile none;
  const SettingsFile& t = inputs.settingsTemplate != nullptr ? *inputs.settingsTemplate : none;
  SettingsFile out;
  out.wiredPresent = t.wiredPresent;
  out.wired = t.wired;
  out.optionsPresent = t.optionsPresent;
  for (int i = 0; i < optionCount; ++i) out.options[i] = t.options[i];
  int first = -1;
  for (int s = slotCount - 1; s >= 0; --s)
    if (t.slotPresent[s]) first = s;
  for (int s = 0; s < slotCount; ++s) {
    SlotFields f = t.slotPresent[s] ? t.slots[s] : first >= 0 ? t.slots[first] : SlotFields();
    f.active = row.slots[s][0] != '\0';
    f.deviceId = f.active ? row.slots[s] : "00000000";
    f.masterKey = noKeyText;
    f.kek = noKeyText;
    if (f.active && inputs.meterKeys != nullptr) findDeviceKeys(f.deviceId, *inputs.meterKeys, f.masterKey, f.kek);
    if (row.wiredAddress >= 0) f.wiredAddress = std::to_string(row.wiredAddress + s);
    out.slots[s] = f;
    out.slotPresent[s] = first >= 0 || inputs.settingsTemplate == nullptr;
  }
  return out;
}

std::string resultText(const SiteRun& run, const ConverterResult& r) {
  const ApplyProgress& p = r.progress;
  switch (r.outcome) {
    case Outcome::done:
      if (!r.resumed.is_null()) return "done, verified (earlier run)";
      if (run.action == SiteAction::apply) return "done, verified";
      if (run.action == SiteAction::exportPlan) return "read";
      if (r.differences.empty()) return "as planned";
      {
        std::string text = "differs: ";
        for (size_t i = 0; i < r.differences.size(); ++i)
          text += (i ? ", " : "") + r.differences[i].field + " planned " + r.differences[i].wanted + ", found " +
                  r.differences[i].found;
        return text;
      }
    case Outcome::failed: return "failed at " + p.step + ": " + p.reason;
    case Outcome::inProgress: return "in progress at " + (p.step.empty() ? std::string("start") : p.step) +
                                     (p.reason.empty() ? "" : ": " + p.reason);
    case Outcome::notHeard: return "not heard";
    case Outcome::notStarted: break;
  }
  return "not started";
}

ordered_json resultJson(const SiteRun& run, const ConverterResult& r) {
  if (!r.resumed.is_null()) return r.resumed;
  const SitePlanRow& row = *r.row;
  ordered_json out = {{"row", row.row}, {"converter", row.converter},
                      {"link", row.link[0] != '\0' ? row.link : "wireless"}, {"status", outcomeName(r.outcome)}};
  if (run.action == SiteAction::apply) out["verified"] = r.outcome == Outcome::done;
  if (r.outcome == Outcome::failed || r.outcome == Outcome::inProgress) {
    out["step"] = r.progress.step;
    out["reason"] = r.progress.reason;
  }
  if (run.action == SiteAction::apply) {
    out["written"] = r.progress.written;
    out["planned"] = ordered_json::parse(settingsText(r.planned));
  }
  if (run.action == SiteAction::verify && r.outcome == Outcome::done) {
    ordered_json list = ordered_json::array();
    for (const FieldDifference& d : r.differences)
      list.push_back({{"field", d.field}, {"planned", d.wanted}, {"found", d.found}});
    out["differences"] = list;
  }
  if (run.action == SiteAction::exportPlan && r.outcome == Outcome::done) {
    out["found"]["wiredAddress"] = r.found[0];
    for (int s = 0; s < sitePlanSlotCount; ++s) out["found"][sitePlanColumnNames[columnSlot1 + s]] = r.found[1 + s];
  }
  return out;
}

int exitCodeOf(const SiteRun& run) {
  if (!run.stickLost.empty()) return exitPort;
  bool difference = false;
  for (const ConverterResult& r : run.results) {
    if (r.outcome != Outcome::done) return exitNoAnswer;
    difference = difference || !r.differences.empty();
  }
  return difference ? exitMismatch : exitDone;
}

ordered_json reportJson(const SiteRun& run) {
  ordered_json list = ordered_json::array();
  for (const ConverterResult& r : run.results) list.push_back(resultJson(run, r));
  ordered_json out = {{"command", std::string("site ") + actionName(run.action)}, {"plan", run.planPath},
                      {"complete", run.stickLost.empty()}};
  if (!run.stickLost.empty()) out["stickLost"] = run.stickLost;
  out["exitCode"] = exitCodeOf(run);
  out["converters"] = list;
  return out;
}

std::string jsonText(const ordered_json& value) {
  return value.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

// After every change: a run cut short (stick pulled, process killed) leaves its report.
void writeReport(SiteRun& run) {
  if (run.options.reportFile.empty()) return;
  std::string error;
  if (!writePrivateTextFile(run.options.reportFile, jsonText(reportJson(run)), error)) run.reportError = error;
}

void clearWorkingLine(const SiteRun& run) {
  if (run.terminal) std::fputs("\r\033[K", stderr);
}

void startConverter(SiteRun& run, ConverterResult& r) {
  r.outcome = Outcome::inProgress;
  writeReport(run);
  if (!run.terminal) return;
  clearWorkingLine(run);
  std::fprintf(stderr, "[%zu/%zu] %s working...", run.finished + 1, run.plan.count, r.row->converter);
  std::fflush(stderr);
}

void finishConverter(SiteRun& run, ConverterResult& r) {
  ++run.finished;
  clearWorkingLine(run);
  std::fprintf(stderr, "[%zu/%zu] %s %s\n", run.finished, run.plan.count, r.row->converter,
               printableText(resultText(run, r).c_str()).c_str());
  writeReport(run);
}

// Ends a converter's turn from its progress: done, or failed at its step.
void settle(SiteRun& run, ConverterResult& r, bool ok) {
  r.outcome = ok ? Outcome::done : Outcome::failed;
  finishConverter(run, r);
}

bool readAll(ConverterResult& r, CliSession& session, int timeoutMs) {
  for (int s = 0; s < slotCount; ++s) {
    const WaitEnd end = session.getSlot(s, timeoutMs);
    if (end != WaitEnd::answered) return waitFailed(r.progress, session, end, "Get Data of slot " + std::to_string(s + 1));
  }
  return true;
}

bool verifyConverter(SiteRun& run, ConverterResult& r, CliSession& session) {
  const int timeoutMs = run.options.timeoutMs;
  if (!readAll(r, session, timeoutMs)) return false;
  const bool whole = run.inputs.settingsTemplate != nullptr;
  std::vector<FieldDifference> all;
  for (int s = 0; s < slotCount; ++s)
    if (r.planned.slotPresent[s])
      slotDifferences("slot" + std::to_string(s + 1) + ".", r.planned.slots[s], session.view().slots[s], all);
  if (whole && r.planned.wiredPresent) wiredDifferences(r.planned.wired, session.view().wired, all);
  if (whole && r.planned.optionsPresent) {
    const WaitEnd end = session.readOptions(timeoutMs);
    if (end != WaitEnd::answered) return waitFailed(r.progress, session, end, "read option bits");
    bool read[optionCount];
    optionBitsOf(session.records().options, read);
    optionDifferences(r.planned.options, read, all);
  }
  // Without a template only the plan's own columns are planned.
  for (const FieldDifference& d : all) {
    const std::string name = d.field.substr(d.field.find('.') + 1);
    const bool planColumn = name == "active" || name == "deviceId" || name == "masterKey" ||
                            name == "keyEncryptionKey" || (name == "wiredAddress" && r.row->wiredAddress >= 0);
    if (whole || planColumn) r.differences.push_back(d);
  }
  return true;
}

bool exportConverter(SiteRun& run, ConverterResult& r, CliSession& session) {
  if (!readAll(r, session, run.options.timeoutMs)) return false;
  const SlotFields* slots = session.view().slots;
  r.found[0] = std::to_string(std::atoi(slots[0].wiredAddress.c_str()));
  for (int s = 0; s < sitePlanSlotCount; ++s) r.found[1 + s] = slots[s].active ? slots[s].deviceId : "";
  return true;
}

bool actOn(SiteRun& run, ConverterResult& r, CliSession& session) {
  switch (run.action) {
    case SiteAction::apply: return applySettings(r.progress, session, r.planned, run.options.timeoutMs);
    case SiteAction::verify: return verifyConverter(run, r, session);
    case SiteAction::exportPlan: break;
  }
  return exportConverter(run, r, session);
}

std::string converterKey(const SiteRun& run, const SitePlanRow& row) {
  std::string key;
  siteConverterKey(row, run.inputs, key);
  return key;
}

bool waiting(const ConverterResult& r, bool wireless) {
  return r.outcome == Outcome::notStarted && (r.row->link[0] == '\0') == wireless;
}

// Over the air: one stick, each planned converter taken as it is heard; run.stickLost says why
// when the stick was lost or never found.
void runWireless(SiteRun& run) {
  size_t left = 0;
  for (const ConverterResult& r : run.results) left += waiting(r, true);
  if (left == 0) return;
  std::unique_ptr<CliView> view(new CliView());
  std::unique_ptr<CliSession> session(new CliSession(*view, run.log));
  session->loadHome(run.options.home);
  session->stick = run.options.stick;
  std::string error;
  if (session->openStick(error) != exitDone) {
    run.stickLost = error;
    return;
  }
  const int hearMs = run.options.timeoutMs > 0 ? run.options.timeoutMs : defaultHearMs;
  long long hearUntil = answerClockMs() + hearMs;
  const HeardConverterList& heard = session->records().heard;
  while (left > 0) {
    int heardIndex = -1;
    size_t rowIndex = 0;
    // The first converter heard (in the order heard) that the plan still waits for.
    auto pick = [&] {
      for (int h = 0; h < heard.count; ++h) {
        char label[9];
        partnerLabel(heard.entries[h], label);
        for (size_t i = 0; i < run.results.size(); ++i)
          if (waiting(run.results[i], true) && sameId(label, run.results[i].row->converter)) {
            heardIndex = h;
            rowIndex = i;
            return true;
          }
      }
      return false;
    };
    const WaitEnd end = session->listen(pick, hearUntil);
    if (end == WaitEnd::lost) {
      run.stickLost = session->lostText();
      return;
    }
    if (end != WaitEnd::answered) break;
    ConverterResult& r = run.results[rowIndex];
    startConverter(run, r);
    session->forceKey(converterKey(run, *r.row));
    bool ok;
    if (session->partnerWith(heardIndex, error) != exitDone) {
      r.progress.step = "partner";
      r.progress.reason = error;
      ok = false;
    } else {
      ok = actOn(run, r, *session);
    }
    if (!session->lostText().empty()) {
      // Left in progress: the report tells at which step the stick went.
      run.stickLost = session->lostText();
      writeReport(run);
      return;
    }
    settle(run, r, ok);
    --left;
    hearUntil = answerClockMs() + hearMs;
  }
  for (ConverterResult& r : run.results)
    if (waiting(r, true)) {
      r.outcome = Outcome::notHeard;
      finishConverter(run, r);
    }
}

// By wire: each row's port opened in turn with a session of its own.
void runWired(SiteRun& run) {
  for (ConverterResult& r : run.results) {
    if (!waiting(r, false)) continue;
    startConverter(run, r);
    std::unique_ptr<CliView> view(new CliView());
    std::unique_ptr<CliSession> session(new CliSession(*view, run.log));
    session->forceKey(converterKey(run, *r.row));
    std::string error;
    const int code = session->connectWired(r.row->link, true, run.options.timeoutMs, error);
    if (code != exitDone) {
      r.progress.code = code;
      r.progress.step = "connect";
      r.progress.reason = error;
      settle(run, r, false);
      continue;
    }
    // A port holds whichever converter is plugged in: never set up another than the row's.
    const std::string& id = view->idText;
    const size_t at = id.find("SN: ");
    const std::string serial = at == std::string::npos ? "" : id.substr(at + 4, id.find(' ', at + 4) - at - 4);
    if (!sameId(serial.c_str(), r.row->converter)) {
      r.progress.code = exitFailed;
      r.progress.step = "identify";
      r.progress.reason = "the converter on " + std::string(r.row->link) + " is " + serial + ", not " + r.row->converter;
      settle(run, r, false);
      continue;
    }
    settle(run, r, actOn(run, r, *session));
  }
}

// Converters an earlier report shows done and verified, by ID, with their entries.
bool readResume(const std::string& path, SiteRun& run, std::string& error) {
  std::string text;
  if (!readBoundedTextFile(path, reportByteLimit, "report", text, error)) return false;
  const ordered_json report = ordered_json::parse(text, nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report.contains("converters") ||
      !report["converters"].is_array()) {
    error = path + ": not a site apply report";
    return false;
  }
  for (const ordered_json& entry : report["converters"]) {
    if (!entry.is_object() || entry.value("status", "") != "done" || entry.value("verified", false) != true) continue;
    const std::string id = entry.value("converter", "");
    for (ConverterResult& r : run.results)
      if (sameId(id.c_str(), r.row->converter) && r.resumed.is_null()) {
        r.resumed = entry;
        r.outcome = Outcome::done;
      }
  }
  return true;
}

void printTable(const SiteRun& run, FILE* out) {
  std::fprintf(out, "%-5s %-9s %-16s %s\n", "row", "converter", "link", "result");
  size_t counts[5] = {};
  for (const ConverterResult& r : run.results) {
    ++counts[int(r.outcome)];
    std::string link = r.row->link[0] != '\0' ? r.row->link : "wireless";
    std::string text = resultText(run, r);
    if (run.action == SiteAction::apply && r.outcome == Outcome::done && r.resumed.is_null()) {
      std::string list;
      for (const std::string& step : r.progress.written) list += (list.empty() ? "" : ", ") + step;
      text += ": " + list;
    }
    std::fprintf(out, "%-5d %-9s %-16s %s\n", r.row->row, r.row->converter, printableText(link.c_str()).c_str(),
                 printableText(text.c_str()).c_str());
  }
  std::fprintf(out, "%zu done, %zu failed, %zu not heard", counts[int(Outcome::done)], counts[int(Outcome::failed)],
               counts[int(Outcome::notHeard)]);
  if (!run.stickLost.empty())
    std::fprintf(out, ", %zu in progress, %zu not started; over the air stopped: %s", counts[int(Outcome::inProgress)],
                 counts[int(Outcome::notStarted)], printableText(run.stickLost.c_str()).c_str());
  std::fputs("\n", out);
}

// The plan the converters hold, in the plan's columns; those not read are left out.
void printPlan(const SiteRun& run) {
  for (int c = 0; c < sitePlanColumnCount; ++c) std::printf("%s%s", c ? "," : "", sitePlanColumnNames[c]);
  std::printf("\n");
  for (const ConverterResult& r : run.results) {
    if (r.outcome != Outcome::done) continue;
    std::printf("%s,%s,%s,%s", r.row->converter, r.row->link[0] != '\0' ? r.row->link : "wireless", r.row->key,
                r.found[0].c_str());
    for (int s = 0; s < sitePlanSlotCount; ++s) std::printf(",%s", r.found[1 + s].c_str());
    std::printf("\n");
  }
}

}  // namespace

int runSitePlan(SiteAction action, const CliOptions& options, const std::string& planPath, const SitePlan& plan,
                const SiteCheckInputs& inputs) {
  std::unique_ptr<SiteRun> run(new SiteRun{action, options, planPath, plan, inputs, {}, 0, false, {}, {}, {}});
  run->terminal = isatty(fileno(stderr)) != 0;
  run->log.verbose = options.verbose;
  if (!options.logFile.empty() && options.logSink != nullptr) {
    std::string error;
    if (!options.logSink->open(options.logFile, error)) {
      std::fprintf(stderr, "quarn-cli: %s\n", error.c_str());
      return exitFailed;
    }
    run->log.file = options.logSink;
  }
  run->results.resize(plan.count);
  for (size_t i = 0; i < plan.count; ++i) {
    run->results[i].row = &plan.rows[i];
    run->results[i].planned = plannedSettings(plan.rows[i], inputs);
  }
  if (!options.resumeFile.empty()) {
    std::string error;
    if (!readResume(options.resumeFile, *run, error)) {
      std::fprintf(stderr, "quarn-cli: --resume: %s\n", printableText(error.c_str()).c_str());
      return exitUsage;
    }
    for (ConverterResult& r : run->results)
      if (r.outcome == Outcome::done) finishConverter(*run, r);
  }
  runWireless(*run);
  runWired(*run);
  int code = exitCodeOf(*run);
  if (!run->stickLost.empty())
    std::fprintf(stderr, "quarn-cli: over the air stopped: %s\n", printableText(run->stickLost.c_str()).c_str());
  // The log closed and the report's fate known before the result is told, so that the JSON's exit
  // code is the process's.
  if (run->log.file != nullptr && !run->log.file->finish()) {
    std::fprintf(stderr, "quarn-cli: %s; %s\n", run->log.file->failureText().c_str(), outcomeText(code).c_str());
    if (code == exitDone) code = exitFailed;
  }
  if (!run->reportError.empty()) {
    std::fprintf(stderr, "quarn-cli: report not written: %s\n", printableText(run->reportError.c_str()).c_str());
    if (code == exitDone) code = exitFailed;
  }
  if (action == SiteAction::exportPlan) {
    printPlan(*run);
    printTable(*run, stderr);
  } else if (options.json) {
    ordered_json out = reportJson(*run);
    out["exitCode"] = code;
    std::fputs(jsonText(out).c_str(), stdout);
  } else {
    printTable(*run, stdout);
  }
  return code;
}
