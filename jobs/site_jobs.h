// The site jobs: apply, verify and export run over every converter of a checked site plan, over
// the air through one stick (each converter as it is heard) and by wire port by port, with the
// run kept as records a face shows and journals as it goes.
#pragma once
#include <string>
#include <vector>

#include <memory>

#include "jobs/converter_jobs.h"
#include "jobs/survey_job.h"
#include "link/survey_rows.h"
#include "settings/site_check.h"
#include "settings/site_plan.h"

enum class SiteAction { apply, verify, exportPlan, survey };
enum class SiteOutcome { notStarted, inProgress, done, failed, notHeard };

const char* siteActionName(SiteAction action);    // "apply", "verify", "export", "survey"
const char* siteOutcomeName(SiteOutcome outcome);  // "not started", "in progress", "done", ...

struct SiteConverterResult {
  const SitePlanRow* row = nullptr;
  SiteOutcome outcome = SiteOutcome::notStarted;
  bool resumed = false;          // skipped: an earlier report shows these very settings done and verified
  std::string resumedEntry;      // that report's entry (JSON), carried into this run's report as it was
  JobOutcome progress;           // the failed or current step; what was acknowledged and read back
  SettingsFile planned;          // the plan's row over the template
  std::vector<FieldDifference> differences;  // verify: where the converter differs
  std::string found[1 + sitePlanSlotCount];  // export: wiredAddress, slot1..slot4 as held
  std::shared_ptr<SurveyRows> meters;  // survey: the converter's meters (the table is large)
  SurveyListening listened;            // survey: its scans
};

// The run as records: what a report and a progress line are made from.
struct SiteRunRecord {
  SiteAction action = SiteAction::apply;
  std::string planPath;
  std::vector<SiteConverterResult> results;  // one per plan row, in plan order
  size_t finished = 0;
  bool ended = false;        // the run came to its end (not cut short by a signal)
  std::string stickLost;     // why the over-the-air part ended early or never began
};

// What a face does as the run goes: a progress line, the journal written. Each may be left as is.
class SiteObserver {
public:
  virtual ~SiteObserver() = default;
  // The stick opened for the over-the-air part: "ZJ000042 on ttyACM0".
  virtual void stickOpened(const std::string&) {}
  virtual void converterStarted(const SiteRunRecord&, const SiteConverterResult&) {}
  // A step acknowledged or read back, a converter begun or ended: the journal is due.
  virtual void changed(const SiteRunRecord&) {}
  virtual void converterFinished(const SiteRunRecord&, const SiteConverterResult&) {}
};

struct SiteJobSettings {
  int timeoutMs = 0;        // each answer's bound and how long to listen; 0: the link's own
  bool traceVerbose = false;  // the stick search's trace lines on standard error
  std::string stick;          // the stick to use (serial, port name or path); empty for the only one
  int surveySeconds = surveyDefaultSeconds;            // survey: how long each converter is listened to
  int scanEverySeconds = surveyDefaultScanEverySeconds;  // survey: between its scans
};

// site check: reads the plan and the template (templatePath empty: none) and checks them against
// the inputs, whose settingsTemplate is pointed at settingsTemplate when it was read; every
// problem lands in plan.problems. The port names are looked up when a row names a port.
void siteCheckJob(const std::string& planPath, const std::string& templatePath, SitePlan& plan,
                  SettingsFile& settingsTemplate, SiteCheckInputs& inputs);

// The plan's row over the template: plan slot n takes the template's slot n, else its first
// slot; a planned meter makes the slot active with its keys from meterKeys/, an empty cell an
// inactive slot without keys; wired addresses run on from the row's, one a slot.
SettingsFile sitePlannedSettings(const SitePlanRow& row, const SiteCheckInputs& inputs);

// Fills run.results from the plan (planned settings included), nothing started.
void prepareSiteRun(SiteRunRecord& run, SiteAction action, const std::string& planPath, const SitePlan& plan,
                    const SiteCheckInputs& inputs);

// Runs the action on every converter not yet done, each with links of its own opened through
// waiter, the byte log to log. One converter failing never stops the others; a lost stick ends
// the over-the-air part. run.ended is set at the end.
void runSiteJob(SiteRunRecord& run, const SiteCheckInputs& inputs, const SiteJobSettings& settings, JobWaiter& waiter,
                Log& log, SiteObserver& observer);

// The run's exit code: 3 the stick lost or missing, else 4 any converter not done, else 5 a
// difference found, else 0.
int siteExitCode(const SiteRunRecord& run);

// The text of a converter's result: "done, verified", "failed at <step>: <reason>", ...
std::string siteResultText(const SiteRunRecord& run, const SiteConverterResult& r);

// The progress line of a converter that finished: "[2/30] 1234ABCD done, verified".
std::string siteProgressLine(const SiteRunRecord& run, const SiteConverterResult& r);
// The run's summary: "28 done, 1 failed, 1 not heard" (and, when over the air stopped, how many
// were left and why).
std::string siteSummaryLine(const SiteRunRecord& run);
