// "quarn-cli site report": reads the plan, the apply report and the survey, and writes the HTML
// report in one piece; nothing is sent.
#include "cli/site_report_command.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/cli_commands.h"
#include "jobs/job_link.h"
#include "jobs/site_report.h"
#include "settings/settings_file.h"
#include "text/printable_text.h"

namespace {

int refuse(const std::string& message) {
  std::fprintf(stderr, "quarn-cli: %s\n", printableText(message.c_str()).c_str());
  return exitUsage;
}

// Whether two paths name one existing file: the report must never replace what it is made from.
bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

std::string utcNow() {
  const std::time_t now = std::time(nullptr);
  // One thread: gmtime's shared result is read at once.
  const std::tm* parts = std::gmtime(&now);
  char text[32] = "";
  if (parts != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", parts);
  return text;
}

// The one place the report meets the file writer (atomic, refusing links, FIFOs and devices).
bool writeReportFile(const std::string& path, const std::string& html, std::string& error) {
  return writePrivateTextFile(path, html, error);
}

}  // namespace

int runSiteReport(const CliOptions& options) {
  const std::string& planPath = options.args[2];
  if (options.htmlFile.empty()) return refuse("site report needs --html OUT.html");
  if (options.json) return refuse("site report writes HTML; --json is not for it");
  const std::string inputs[] = {planPath, options.applyReportFile, options.surveyFile};
  for (const std::string& input : inputs)
    if (!input.empty() && sameFile(options.htmlFile, input))
      return refuse("--html " + options.htmlFile + ": is " + input + ", which the report is made from; not replaced");

  std::unique_ptr<SitePlan> plan(new SitePlan());
  readSitePlanFile(planPath, *plan);
  if (!plan->problems.empty()) {
    for (const SitePlanProblem& p : plan->problems)
      std::fprintf(stderr, "quarn-cli: %s: %s\n", printableText(planPath.c_str()).c_str(),
                   printableText(sitePlanProblemText(p).c_str()).c_str());
    return refuse("site plan refused; no report written");
  }
  SiteReportInputs in;
  in.plan = plan.get();
  in.planName = planPath;
  in.madeAt = utcNow();
  in.version = QUARN_VERSION;
  std::string error;
  ApplyReport apply;
  if (!options.applyReportFile.empty()) {
    if (!readApplyReportFile(options.applyReportFile, apply, error)) return refuse("--apply-report: " + error);
    in.apply = &apply;
    in.applyName = options.applyReportFile;
  }
  SiteSurvey survey;
  if (!options.surveyFile.empty()) {
    if (!readSiteSurveyFile(options.surveyFile, survey, error)) return refuse("--survey: " + error);
    in.survey = &survey;
    in.surveyName = options.surveyFile;
  }
  const SiteAssessment assessment = assessSite(in);
  if (!writeReportFile(options.htmlFile, siteReportHtml(in, assessment), error)) {
    std::fprintf(stderr, "quarn-cli: --html: %s\n", printableText(error.c_str()).c_str());
    return exitFailed;
  }
  std::printf("%s: %zu converters (%zu done, %zu pending), %zu planned meters (%zu heard, %zu with a working key)\n",
              printableText(options.htmlFile.c_str()).c_str(), assessment.converters.size(), assessment.done,
              assessment.converters.size() - assessment.done, assessment.meters, assessment.heard,
              assessment.keysWorking);
  return exitDone;
}
