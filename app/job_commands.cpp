// QuarnWindow's jobs: "Apply settings file…", "Verify against settings file…" and "Site plan…"
// run the jobs quarn-cli runs, with the same outcomes and texts. A job waits by running the
// event loop until its link was woken, so the window stays live (log, status line, redraws)
// while the converter answers; other converter commands wait until the job has ended.
#include <memory>
#include <string>

#include "app/file_dialogs.h"
#include "app/quarn_window.h"
#include "app/site_plan_dialog.h"
#include "jobs/converter_jobs.h"
#include "jobs/site_jobs.h"
#include "serial/link_wait.h"
#include "jobs/site_journal.h"
#include "settings/settings_file.h"
#include "text/printable_text.h"

namespace {

// The window's waiter: the event loop run until the link was woken.
class WindowWaiter : public JobWaiter {
public:
  explicit WindowWaiter(QuarnWindow& window) : window_(window) {}
  bool waitOnce(ConverterLink& link, long long untilMs) override { return window_.waitForJob(link, untilMs); }

private:
  QuarnWindow& window_;
};

// The job's flag for the other commands, set for as long as it runs.
class JobFlag {
public:
  explicit JobFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~JobFlag() { flag_ = false; }

private:
  bool& flag_;
};

// The site run's progress in the log and the status line, and its journal.
class WindowSiteObserver : public SiteObserver {
public:
  WindowSiteObserver(Log& log, const std::string& report, const ReadFiles& reads,
                     std::function<void(const std::string&)> status)
      : log_(log), report_(report), reads_(reads), status_(std::move(status)) {}
  void converterStarted(const SiteRunRecord& run, const SiteConverterResult& r) override {
    status_("[" + std::to_string(run.finished + 1) + "/" + std::to_string(run.results.size()) + "] " +
            r.row->converter + " working...");
  }
  void changed(const SiteRunRecord& run) override {
    if (report_.empty()) return;
    std::string error;
    if (!writeSiteJournal(report_, run, &reads_, error)) reportError = error;
  }
  void converterFinished(const SiteRunRecord& run, const SiteConverterResult& r) override {
    const std::string line = printableText(siteProgressLine(run, r));
    logOwnLine(log_, line + "\n", logStylePlain);
    status_(line);
  }
  std::string reportError;

private:
  Log& log_;
  const std::string& report_;
  const ReadFiles& reads_;
  std::function<void(const std::string&)> status_;
};

}  // namespace

bool QuarnWindow::waitForJob(ConverterLink& link, long long untilMs) {
  const long long now = answerClockMs();
  if (link.portDescriptor() < 0) return false;
  jobWoken_ = 0;
  jobLink_ = &link;
  // link_ wakes through the window's own watches; another link is watched for the job alone, as
  // the port layer arms its wait (a descriptor, or a Windows event).
  long long due = -1;
  if (&link != &link_) {
    const LinkWait wait = linkWait(link.descriptor(now), link.deadline());
    watchedJob_ = wait.handle;
    if (watchedJob_ >= 0) getApp()->addInput(asInputHandle(watchedJob_), INPUT_READ, this, ID_JOB_INPUT);
    due = wait.dueMs;
  } else {
    followLinks();
  }
  if (due < 0 || due > untilMs) due = untilMs;
  const long long left = due - now;
  getApp()->addTimeout(this, ID_JOB_TIMER, left > 0 ? static_cast<FXuint>(left) : 1u);
  getApp()->runUntil(jobWoken_);
  getApp()->removeTimeout(this, ID_JOB_TIMER);
  if (watchedJob_ >= 0) getApp()->removeInput(asInputHandle(watchedJob_), INPUT_READ);
  watchedJob_ = -1;
  jobLink_ = nullptr;
  return true;
}

long QuarnWindow::onJobWake(FXObject*, FXSelector, void*) {
  if (jobLink_ != nullptr && jobLink_ != &link_) {
    LogBatch batch(communicationLog);
    jobLink_->wake();
  }
  jobWoken_ = 1;
  return 1;
}

bool QuarnWindow::readyForJob() {
  if (jobRunning_) {
    showStatus("A job is still running.");
    return false;
  }
  if (link_.portDescriptor() < 0 || (!link_.wireless() && !link_.identity().known)) {
    showStatus("Not connected: connect to a converter first.");
    return false;
  }
  return true;
}

bool QuarnWindow::chooseJobFile(const char* chooserTitle, std::string& path, SettingsFile& file) {
  path = askOpenPath(this, chooserTitle, settingsFilePatterns, fileFolder);
  if (path.empty()) return false;
  std::string error;
  if (readSettingsFile(path, file, error)) return true;
  reportFile(false, "", "Settings file refused; nothing sent", error);
  return false;
}

long QuarnWindow::onCmdApplyFile(FXObject*, FXSelector, void*) {
  if (!readyForJob()) return 1;
  std::string path;
  std::unique_ptr<SettingsFile> file(new SettingsFile());
  if (!chooseJobFile("Apply settings file", path, *file)) return 1;
  JobFlag running(jobRunning_);
  WindowWaiter waiter(*this);
  JobLink link(link_, *this, waiter);
  const JobOutcome outcome = applyJob(link, *file, 0);
  followLinks();
  const std::string text = printableText(applyResultText(outcome));
  logOwnLine(*this, text + "\n", logStylePlain);
  showStatus(text);
  return 1;
}

long QuarnWindow::onCmdVerifyFile(FXObject*, FXSelector, void*) {
  if (!readyForJob()) return 1;
  std::string path;
  std::unique_ptr<SettingsFile> file(new SettingsFile());
  if (!chooseJobFile("Verify against settings file", path, *file)) return 1;
  JobFlag running(jobRunning_);
  WindowWaiter waiter(*this);
  JobLink link(link_, *this, waiter);
  std::vector<FieldDifference> differences;
  const JobOutcome outcome = verifyJob(link, *file, 0, differences);
  followLinks();
  std::string text;
  if (outcome.code == exitMismatch) {
    for (const FieldDifference& d : differences) {
      const std::string line = differenceLines({d});
      logOwnLine(*this, printableText(line.substr(0, line.size() - 1)) + "\n", logStylePlain);
    }
    text = printableText((path + ": " + outcome.reason));
  } else {
    text = outcome.ok() ? "as the file says" : printableText(outcome.message);
  }
  logOwnLine(*this, text + "\n", logStylePlain);
  showStatus(text);
  return 1;
}

long QuarnWindow::onCmdSitePlan(FXObject*, FXSelector, void*) {
  if (jobRunning_) {
    showStatus("A job is still running.");
    return 1;
  }
  SitePlanRequest earlier{sitePlanFields_.plan, sitePlanFields_.settingsTemplate, sitePlanFields_.report,
                       sitePlanFields_.action};
  const std::optional<SitePlanRequest> request = runSitePlanDialog(this, earlier);
  if (!request) return 1;
  sitePlanFields_ = {request->plan, request->settingsTemplate, request->report, request->action};
  runSitePlanRequest(request->plan, request->settingsTemplate, request->report, request->action);
  return 1;
}

void QuarnWindow::runSitePlanRequest(const std::string& planPath, const std::string& templatePath,
                                     const std::string& report, int action) {
  std::unique_ptr<SitePlan> plan(new SitePlan());
  std::unique_ptr<SettingsFile> settingsTemplate(new SettingsFile());
  SiteCheckInputs inputs;
  inputs.converterKeys = &link_.records().converterKeys;
  inputs.meterKeys = &link_.records().meterKeys;
  if (state != nullptr && state->config.configLoaded) inputs.configKey = state->config.configLine2;
  if (action == siteApply && templatePath.empty()) {
    showStatus("site apply needs a template settings file for what the plan's columns leave out");
    return;
  }
  siteCheckJob(planPath, templatePath, *plan, *settingsTemplate, inputs);
  if (!plan->problems.empty()) {
    for (const SitePlanProblem& p : plan->problems)
      logOwnLine(*this, printableText((planPath + ": " + sitePlanProblemText(p))) + "\n", logStylePlain);
    const size_t total = plan->problems.size() + plan->problemsDropped;
    showStatus("site plan refused: " + std::to_string(total) + (total == 1 ? " problem" : " problems") +
               "; nothing was sent");
    return;
  }
  if (action == siteCheck) {
    int meters = 0;
    for (size_t i = 0; i < plan->count; ++i)
      for (int s = 0; s < sitePlanSlotCount; ++s) meters += plan->rows[i].slots[s][0] != '\0';
    const std::string text = std::to_string(plan->count) + " converters, " + std::to_string(meters) +
                             " meters: IDs, keys and ports found" +
                             (templatePath.empty() ? " (no template given, so not checked)" : ", template fits");
    logOwnLine(*this, text + "\n", logStylePlain);
    showStatus(text);
    return;
  }
  ReadFiles reads;
  addReadFile(reads, planPath.c_str());
  if (!templatePath.empty()) addReadFile(reads, templatePath.c_str());
  char reason[96];
  // A report that cannot be written is refused before any converter is touched.
  if (!report.empty() && !checkOutputFile(report.c_str(), &reads, reason, sizeof reason)) {
    showStatus("Report " + printableText(report) + ": " + reason + "; nothing was sent");
    return;
  }
  JobFlag running(jobRunning_);
  // The run opens the stick and the ports itself: the window's own link lets go of its port
  // meanwhile and takes it up again afterwards.
  const bool wireless = link_.wireless();
  const bool wasOpen = link_.portDescriptor() >= 0;
  link_.close();
  followLinks();
  std::unique_ptr<SiteRunRecord> run(new SiteRunRecord());
  prepareSiteRun(*run, action == siteApply ? SiteAction::apply : SiteAction::verify, planPath, *plan, inputs);
  WindowSiteObserver observer(*this, report, reads, [this](const std::string& text) { showStatus(text); });
  WindowWaiter waiter(*this);
  runSiteJob(*run, inputs, SiteJobSettings(), waiter, *this, observer);
  if (wasOpen && wireless) link_.reopenStick();
  else if (wasOpen) connectWired(link_.wiredPortName(), link_.wiredDevicePath());
  followLinks();
  std::string summary = printableText(siteSummaryLine(*run));
  if (!observer.reportError.empty()) summary += "; report not written: " + printableText(observer.reportError);
  else if (!report.empty()) summary += "; report written to " + printableText(report);
  logOwnLine(*this, summary + "\n", logStylePlain);
  showStatus(summary);
}
