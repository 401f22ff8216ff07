// The site run: each planned converter taken in turn (over the air as it is heard, by wire port by
// port), every step told to the observer as it happens.
#include "jobs/site_jobs.h"

#include <cctype>
#include <cstdlib>
#include <memory>

#include "codec/answer_wait.h"
#include "converter/key_find.h"
#include "serial/com_port_list.h"
#include "settings/view_settings.h"

namespace {

// Converters send about once a second: a run listening this long without hearing another
// planned one stops and reports the rest as not heard.
constexpr int defaultHearMs = 10000;
const std::string noKeyText(32, '0');

bool sameId(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

struct SiteRunner {
  SiteRunRecord& run;
  const SiteCheckInputs& inputs;
  const SiteJobSettings& settings;
  JobWaiter& waiter;
  Log& log;
  SiteObserver& observer;

  void start(SiteConverterResult& r) {
    r.outcome = SiteOutcome::inProgress;
    observer.converterStarted(run, r);
    observer.changed(run);
  }

  void finish(SiteConverterResult& r) {
    ++run.finished;
    observer.converterFinished(run, r);
    observer.changed(run);
  }

  void settle(SiteConverterResult& r, bool ok) {
    r.outcome = ok ? SiteOutcome::done : SiteOutcome::failed;
    finish(r);
  }

  bool readAll(SiteConverterResult& r, JobLink& link) {
    for (int s = 0; s < slotCount; ++s) {
      const WaitEnd end = link.getSlot(s, settings.timeoutMs);
      if (end != WaitEnd::answered) return waitFailed(r.progress, link, end, "Get Data of slot " + std::to_string(s + 1));
    }
    return true;
  }

  bool verify(SiteConverterResult& r, JobLink& link) {
    if (!readAll(r, link)) return false;
    const bool whole = inputs.settingsTemplate != nullptr;
    std::vector<FieldDifference> all;
    for (int s = 0; s < slotCount; ++s)
      if (r.planned.slotPresent[s])
        slotDifferences("slot" + std::to_string(s + 1) + ".", r.planned.slots[s], link.link().slot(s), all);
    if (whole && r.planned.wiredPresent) wiredDifferences(r.planned.wired, link.link().wiredSettings(), all);
    if (whole && r.planned.optionsPresent) {
      const WaitEnd end = link.readOptions(settings.timeoutMs);
      if (end != WaitEnd::answered) return waitFailed(r.progress, link, end, "read option bits");
      bool read[optionCount];
      optionBitsOf(link.records().options, read);
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

  bool exportConverter(SiteConverterResult& r, JobLink& link) {
    if (!readAll(r, link)) return false;
    r.found[0] = std::to_string(std::atoi(link.link().slot(0).wiredAddress.c_str()));
    for (int s = 0; s < sitePlanSlotCount; ++s) {
      const SlotFields slot = link.link().slot(s);
      r.found[1 + s] = slot.active ? slot.deviceId : "";
    }
    return true;
  }

  // Over the air only: the stick hears the meters, the partner scans them.
  bool survey(SiteConverterResult& r, JobLink& link) {
    r.progress.step = "survey";
    if (!link.wireless()) {
      r.progress.code = exitUsage;
      r.progress.reason = "a survey listens through the stick; this row is wired";
      return false;
    }
    r.meters = std::make_shared<SurveyRows>();
    // The plan was checked against these keys; the run's own links load none.
    r.listened = surveyJob(link, settings.surveySeconds, settings.scanEverySeconds, settings.timeoutMs,
                           *inputs.meterKeys, *r.meters);
    if (r.listened.code != exitDone) {
      r.progress.code = r.listened.code;
      r.progress.reason = r.listened.error;
      return false;
    }
    return true;
  }

  bool actOn(SiteConverterResult& r, JobLink& link) {
    switch (run.action) {
      case SiteAction::apply:
        // Each acknowledged and each read-back step goes into the journal as it happens.
        r.progress = applyJob(link, r.planned, settings.timeoutMs, [this, &r](const JobOutcome& now) {
          r.progress = now;
          observer.changed(run);
        });
        return r.progress.ok();
      case SiteAction::verify: return verify(r, link);
      case SiteAction::survey: return survey(r, link);
      case SiteAction::exportPlan: break;
    }
    return exportConverter(r, link);
  }

  std::string converterKey(const SitePlanRow& row) const {
    std::string key;
    siteConverterKey(row, inputs, key);
    return key;
  }

  static bool waiting(const SiteConverterResult& r, bool wireless) {
    return r.outcome == SiteOutcome::notStarted && (r.row->link[0] == '\0') == wireless;
  }

  // Over the air: one stick, each planned converter taken as it is heard.
  void runWireless() {
    size_t left = 0;
    for (const SiteConverterResult& r : run.results) left += waiting(r, true);
    if (left == 0) return;
    std::unique_ptr<OwnLink> own(new OwnLink(log, waiter));
    JobLink& link = own->link;
    std::string error;
    link.stick = settings.stick;
    if (link.openStick(error, settings.traceVerbose) != exitDone) {
      run.stickLost = error;
      return;
    }
    observer.stickOpened(link.stickUsed);
    const int hearMs = settings.timeoutMs > 0 ? settings.timeoutMs : defaultHearMs;
    long long hearUntil = answerClockMs() + hearMs;
    const HeardConverterList& heard = link.records().heard;
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
      const WaitEnd end = link.listen(pick, hearUntil);
      if (end == WaitEnd::lost) {
        run.stickLost = link.lostText();
        return;
      }
      if (end != WaitEnd::answered) break;
      SiteConverterResult& r = run.results[rowIndex];
      start(r);
      link.forceKey(converterKey(*r.row));
      bool ok;
      if (link.partnerWith(heardIndex, error) != exitDone) {
        r.progress.step = "partner";
        r.progress.reason = error;
        ok = false;
      } else {
        ok = actOn(r, link);
      }
      if (!link.lostText().empty()) {
        // Left in progress: the report tells at which step the stick went.
        run.stickLost = link.lostText();
        observer.changed(run);
        return;
      }
      settle(r, ok);
      --left;
      hearUntil = answerClockMs() + hearMs;
    }
    for (SiteConverterResult& r : run.results)
      if (waiting(r, true)) {
        r.outcome = SiteOutcome::notHeard;
        finish(r);
      }
  }

  // By wire: each row's port opened in turn with a link of its own.
  void runWired() {
    for (SiteConverterResult& r : run.results) {
      if (!waiting(r, false)) continue;
      start(r);
      std::unique_ptr<OwnLink> own(new OwnLink(log, waiter));
      JobLink& link = own->link;
      link.forceKey(converterKey(*r.row));
      std::string error;
      const int code = link.connectWired(r.row->link, true, settings.timeoutMs, error);
      if (code != exitDone) {
        r.progress.code = code;
        r.progress.step = "connect";
        r.progress.reason = error;
        settle(r, false);
        continue;
      }
      // A port holds whichever converter is plugged in: never set up another than the row's.
      const ConverterIdentity identity = link.link().identity();
      const std::string serial = identity.known ? serialNumberText(identity) : "unknown";
      if (!sameId(serial.c_str(), r.row->converter)) {
        r.progress.code = exitFailed;
        r.progress.step = "identify";
        r.progress.reason = "the converter on " + std::string(r.row->link) + " is " + serial + ", not " + r.row->converter;
        settle(r, false);
        continue;
      }
      settle(r, actOn(r, link));
    }
  }
};

}  // namespace

void siteCheckJob(const std::string& planPath, const std::string& templatePath, SitePlan& plan,
                  SettingsFile& settingsTemplate, SiteCheckInputs& inputs) {
  readSitePlanFile(planPath, plan);
  std::string error;
  if (!templatePath.empty()) {
    if (readSettingsFile(templatePath, settingsTemplate, error)) inputs.settingsTemplate = &settingsTemplate;
    else addSitePlanProblem(plan, 0, "", -1, "template " + error);
  }
  bool wired = false;
  for (size_t i = 0; i < plan.count; ++i) wired = wired || plan.rows[i].link[0] != '\0';
  if (wired && inputs.portNames.empty()) {
    static ComPortList ports;
    listComPorts(ports);
    for (int i = 0; i < ports.count; ++i) {
      inputs.portNames.push_back(comPortName(ports, i));
      inputs.portPaths.push_back(comPortPath(ports, i));
    }
  }
  checkSitePlan(plan, inputs);
}

const char* siteActionName(SiteAction action) {
  switch (action) {
    case SiteAction::apply: return "apply";
    case SiteAction::verify: return "verify";
    case SiteAction::survey: return "survey";
    case SiteAction::exportPlan: break;
  }
  return "export";
}

const char* siteOutcomeName(SiteOutcome o) {
  switch (o) {
    case SiteOutcome::inProgress: return "in progress";
    case SiteOutcome::done: return "done";
    case SiteOutcome::failed: return "failed";
    case SiteOutcome::notHeard: return "not heard";
    case SiteOutcome::notStarted: break;
  }
  return "not started";
}

SettingsFile sitePlannedSettings(const SitePlanRow& row, const SiteCheckInputs& inputs) {
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

void prepareSiteRun(SiteRunRecord& run, SiteAction action, const std::string& planPath, const SitePlan& plan,
                    const SiteCheckInputs& inputs) {
  run.action = action;
  run.planPath = planPath;
  run.results.assign(plan.count, SiteConverterResult());
  for (size_t i = 0; i < plan.count; ++i) {
    run.results[i].row = &plan.rows[i];
    run.results[i].planned = sitePlannedSettings(plan.rows[i], inputs);
  }
}

void runSiteJob(SiteRunRecord& run, const SiteCheckInputs& inputs, const SiteJobSettings& settings, JobWaiter& waiter,
                Log& log, SiteObserver& observer) {
  SiteRunner runner{run, inputs, settings, waiter, log, observer};
  observer.changed(run);
  runner.runWireless();
  runner.runWired();
  run.ended = true;
  observer.changed(run);
}

int siteExitCode(const SiteRunRecord& run) {
  if (!run.stickLost.empty()) return exitPort;
  bool difference = false;
  for (const SiteConverterResult& r : run.results) {
    if (r.outcome != SiteOutcome::done) return exitNoAnswer;
    difference = difference || !r.differences.empty();
  }
  return difference ? exitMismatch : exitDone;
}

std::string siteResultText(const SiteRunRecord& run, const SiteConverterResult& r) {
  const JobOutcome& p = r.progress;
  switch (r.outcome) {
    case SiteOutcome::done:
      if (r.resumed) return "done, verified (earlier run)";
      if (run.action == SiteAction::apply) return "done, verified";
      if (run.action == SiteAction::exportPlan) return "read";
      if (run.action == SiteAction::survey)
        return std::to_string(r.meters ? r.meters->count : 0) + " meters, " + std::to_string(r.listened.scansAnswered) +
               " of " + std::to_string(r.listened.scansSent) + " scans answered";
      if (r.differences.empty()) return "as planned";
      {
        std::string text = "differs: ";
        for (size_t i = 0; i < r.differences.size(); ++i)
          text += (i ? ", " : "") + r.differences[i].field + " planned " + r.differences[i].wanted + ", found " +
                  r.differences[i].found;
        return text;
      }
    case SiteOutcome::failed: return "failed at " + p.step + ": " + p.reason;
    case SiteOutcome::inProgress: return "in progress at " + (p.step.empty() ? std::string("start") : p.step) +
                                         (p.reason.empty() ? "" : ": " + p.reason);
    case SiteOutcome::notHeard: return "not heard";
    case SiteOutcome::notStarted: break;
  }
  return "not started";
}

std::string siteProgressLine(const SiteRunRecord& run, const SiteConverterResult& r) {
  return "[" + std::to_string(run.finished) + "/" + std::to_string(run.results.size()) + "] " + r.row->converter + " " +
         siteResultText(run, r);
}

std::string siteSummaryLine(const SiteRunRecord& run) {
  size_t counts[5] = {};
  for (const SiteConverterResult& r : run.results) ++counts[int(r.outcome)];
  std::string line = std::to_string(counts[int(SiteOutcome::done)]) + " done, " +
                     std::to_string(counts[int(SiteOutcome::failed)]) + " failed, " +
                     std::to_string(counts[int(SiteOutcome::notHeard)]) + " not heard";
  if (!run.stickLost.empty())
    line += ", " + std::to_string(counts[int(SiteOutcome::inProgress)]) + " in progress, " +
            std::to_string(counts[int(SiteOutcome::notStarted)]) + " not started; over the air stopped: " + run.stickLost;
  return line;
}
