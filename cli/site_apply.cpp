// quarn-cli's face of the site jobs: a progress line per converter on standard error, the report
// kept as a journal, and the table, the JSON report or the plan printed at the end.
#include "cli/site_apply.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/cli_records.h"
#include "jobs/site_jobs.h"
#include "jobs/site_journal.h"
#include "settings/json_text.h"
#include "text/output_file.h"
#include "text/printable_text.h"

namespace {

// A survey's report goes to --out (or --report), every other run's to --report.
const std::string& siteReportPath(const CliOptions& options) {
  return options.outFile.empty() ? options.reportFile : options.outFile;
}

// Progress on standard error and the journal after every change.
class CliSiteObserver : public SiteObserver {
public:
  CliSiteObserver(const CliOptions& options, size_t total, const ReadFiles& reads)
      : options_(options), total_(total), reads_(reads) {
    terminal_ = isatty(fileno(stderr)) != 0;
  }

  void stickOpened(const std::string& stick) override {
    std::fprintf(stderr, "quarn-cli: stick %s\n", printableText(stick).c_str());
  }

  void converterStarted(const SiteRunRecord& run, const SiteConverterResult& r) override {
    if (!terminal_) return;
    clearLine();
    std::fprintf(stderr, "[%zu/%zu] %s working...", run.finished + 1, total_, r.row->converter);
    std::fflush(stderr);
  }

  void changed(const SiteRunRecord& run) override {
    const std::string& path = siteReportPath(options_);
    if (path.empty()) return;
    std::string error;
    if (!writeSiteJournal(path, run, &reads_, error)) reportError = error;
  }

  void converterFinished(const SiteRunRecord& run, const SiteConverterResult& r) override {
    clearLine();
    std::fprintf(stderr, "%s\n", printableText(siteProgressLine(run, r)).c_str());
  }

  std::string reportError;  // the last report write that failed

private:
  void clearLine() const {
    if (terminal_) std::fputs("\r\033[K", stderr);
  }
  const CliOptions& options_;
  size_t total_;
  const ReadFiles& reads_;
  bool terminal_ = false;
};

void printTable(const SiteRunRecord& run, FILE* out) {
  std::fprintf(out, "%-5s %-9s %-16s %s\n", "row", "converter", "link", "result");
  for (const SiteConverterResult& r : run.results) {
    std::string link = r.row->link[0] != '\0' ? r.row->link : "wireless";
    std::string text = siteResultText(run, r);
    if (run.action == SiteAction::apply && r.outcome == SiteOutcome::done && !r.resumed) {
      std::string list;
      for (const std::string& step : r.progress.written) list += (list.empty() ? "" : ", ") + step;
      text += ": " + list;
    }
    std::fprintf(out, "%-5d %-9s %-16s %s\n", r.row->row, r.row->converter, printableText(link).c_str(),
                 printableText(text).c_str());
  }
  std::fprintf(out, "%s\n", printableText(siteSummaryLine(run)).c_str());
}

// The plan the converters hold, in the plan's columns; those not read are left out.
void printPlan(const SiteRunRecord& run) {
  std::fputs(sitePlanCsvLine(std::vector<std::string>(sitePlanColumnNames, sitePlanColumnNames + sitePlanColumnCount)).c_str(),
             stdout);
  for (const SiteConverterResult& r : run.results) {
    if (r.outcome != SiteOutcome::done) continue;
    std::vector<std::string> values = {r.row->converter, r.row->link[0] != '\0' ? r.row->link : "wireless", r.row->key};
    values.insert(values.end(), r.found, r.found + 1 + sitePlanSlotCount);
    std::fputs(sitePlanCsvLine(values).c_str(), stdout);
  }
}

}  // namespace

int runSitePlan(SiteAction action, const CliOptions& options, const std::string& planPath, const SitePlan& plan,
                const SiteCheckInputs& inputs) {
  CliLog log;
  log.verbose = options.verbose;
  const ReadFiles reads = runInputFiles(options);  // what the report and the log never replace
  char reason[96];
  // Like the log: a report that cannot be written is refused before any converter is touched.
  const std::string& reportPath = siteReportPath(options);
  if (!reportPath.empty() && !checkOutputFile(reportPath.c_str(), &reads, reason, sizeof reason)) {
    std::fprintf(stderr, "quarn-cli: %s %s: %s; nothing was sent\n", options.outFile.empty() ? "--report" : "--out",
                 printableText(reportPath).c_str(), reason);
    return exitFailed;
  }
  if (!options.logFile.empty() && options.logSink != nullptr) {
    std::string error;
    if (!options.logSink->open(options.logFile, &reads, error)) {
      std::fprintf(stderr, "quarn-cli: %s\n", error.c_str());
      return exitFailed;
    }
    log.file = options.logSink;
  }
  std::unique_ptr<SiteRunRecord> run(new SiteRunRecord());
  prepareSiteRun(*run, action, planPath, plan, inputs);
  CliSiteObserver observer(options, plan.count, reads);
  if (!options.resumeFile.empty()) {
    std::string error;
    if (!readSiteResume(options.resumeFile, *run, error)) {
      std::fprintf(stderr, "quarn-cli: --resume: %s\n", printableText(error).c_str());
      return exitUsage;
    }
    for (SiteConverterResult& r : run->results)
      if (r.resumed) {
        ++run->finished;
        observer.converterFinished(*run, r);
      }
  }
  SiteJobSettings settings;
  settings.timeoutMs = options.timeoutMs;
  settings.traceVerbose = options.verbose;
  settings.stick = options.stick;
  settings.surveySeconds = options.surveySeconds;
  settings.scanEverySeconds = options.scanEverySeconds;
  PortWaiter waiter;
  runSiteJob(*run, inputs, settings, waiter, log, observer);
  int code = siteExitCode(*run);
  if (!run->stickLost.empty())
    std::fprintf(stderr, "quarn-cli: over the air stopped: %s\n", printableText(run->stickLost).c_str());
  // The log closed and the report's fate known before the result is told, so that the JSON's exit
  // code is the process's.
  if (log.file != nullptr && !log.file->finish()) {
    std::fprintf(stderr, "quarn-cli: %s; %s\n", log.file->failureText().c_str(), outcomeText(code).c_str());
    if (code == exitDone) code = exitFailed;
  }
  if (!observer.reportError.empty()) {
    std::fprintf(stderr, "quarn-cli: report not written: %s\n", printableText(observer.reportError).c_str());
    if (code == exitDone) code = exitFailed;
  }
  if (action == SiteAction::exportPlan) {
    printPlan(*run);
    printTable(*run, stderr);
  } else if (options.json) {
    nlohmann::ordered_json out = siteReportJson(*run);
    out["exitCode"] = code;
    std::fputs(jsonDocumentText(out).c_str(), stdout);
  } else {
    printTable(*run, stdout);
  }
  return code;
}
