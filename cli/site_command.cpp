// "quarn-cli site check": reads the plan, loads keys and ports as the other commands do, and
// lists every problem at once.
#include "cli/site_command.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/cli_records.h"
#include "jobs/job_link.h"
#include "cli/site_apply.h"
#include "cli/site_report_command.h"
#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "settings/site_check.h"
#include "text/key_source.h"
#include "text/printable_text.h"

using nlohmann::ordered_json;

namespace {

int usageError(const CliOptions& options, const std::string& message) {
  std::fprintf(stderr, "quarn-cli: %s\n", printableText(message).c_str());
  if (options.json) {
    const ordered_json out = {{"ok", false}, {"exitCode", int(exitUsage)}, {"error", message}};
    std::fputs(jsonDocumentText(out).c_str(), stdout);
  }
  return exitUsage;
}

int refused(const CliOptions& options, const std::string& path, const SitePlan& plan) {
  ordered_json problems = ordered_json::array();
  for (const SitePlanProblem& p : plan.problems) {
    std::fprintf(stderr, "quarn-cli: %s: %s\n", printableText(path).c_str(), printableText(sitePlanProblemText(p)).c_str());
    problems.push_back({{"row", p.row}, {"column", p.column}, {"reason", p.reason}});
  }
  const size_t total = plan.problems.size() + plan.problemsDropped;
  std::string message = "site plan refused: " + std::to_string(total) + (total == 1 ? " problem" : " problems");
  if (plan.problemsDropped > 0) message += " (" + std::to_string(plan.problemsDropped) + " not listed)";
  message += "; nothing was sent";
  std::fprintf(stderr, "quarn-cli: %s\n", message.c_str());
  if (options.json) {
    const ordered_json out = {{"ok", false}, {"exitCode", int(exitUsage)}, {"error", message},
                              {"problems", problems}, {"written", ordered_json::array()}};
    std::fputs(jsonDocumentText(out).c_str(), stdout);
  }
  return exitUsage;
}

constexpr const char* rowFormat = "%-5s %-9s %-16s %-16s%s\n";

int listPlan(const CliOptions& options, const std::string& path, const SitePlan& plan, const SiteCheckInputs& inputs) {
  ordered_json rows = ordered_json::array();
  std::string text;
  int meters = 0;
  for (size_t i = 0; i < plan.count; ++i) {
    const SitePlanRow& row = plan.rows[i];
    std::string key;
    const char* source = siteKeySourceName(siteConverterKey(row, inputs, key));
    ordered_json slots = ordered_json::array();
    std::string slotText;
    for (int s = 0; s < sitePlanSlotCount; ++s) {
      slots.push_back(row.slots[s]);
      meters += row.slots[s][0] != '\0';
      slotText += std::string("  ") + (row.slots[s][0] != '\0' ? row.slots[s] : "--------");
    }
    const std::string link = row.link[0] != '\0' ? row.link : "wireless";
    rows.push_back({{"row", row.row}, {"converter", row.converter}, {"link", link}, {"keySource", source},
                    {"wiredAddress", row.wiredAddress >= 0 ? ordered_json(row.wiredAddress) : ordered_json()},
                    {"slots", slots}});
    char line[512];
    std::snprintf(line, sizeof line, rowFormat, std::to_string(row.row).c_str(), row.converter, source,
                  printableText(link).c_str(),
                  slotText.c_str());
    text += line;
  }
  if (options.json) {
    const ordered_json out = {{"ok", true}, {"plan", path}, {"converters", rows}, {"meters", meters},
                              {"templateChecked", !options.templateFile.empty()}};
    std::fputs(jsonDocumentText(out).c_str(), stdout);
    return exitDone;
  }
  std::printf(rowFormat, "row", "converter", "key from", "link", "  slot1     slot2     slot3     slot4");
  std::fputs(text.c_str(), stdout);
  std::printf("%zu converters, %d meters: IDs, keys and ports found%s\n", plan.count, meters,
              options.templateFile.empty() ? " (no --template given, so not checked)" : ", template fits");
  return exitDone;
}

}  // namespace

int runSiteCommand(const CliOptions& options) {
  const std::vector<std::string>& args = options.args;
  static const char* const actions[] = {"check", "apply", "verify", "export", "report", "survey"};
  const auto known = std::find(std::begin(actions), std::end(actions), args.size() == 3 ? args[1] : "");
  if (known == std::end(actions)) return usageError(options, "site check|apply|verify|export|report|survey PLAN");
  if (!options.outFile.empty() && args[1] != "survey") return usageError(options, "--out is for site survey");
  const std::string& action = args[1];
  const bool reportOptions = !options.htmlFile.empty() || !options.applyReportFile.empty() || !options.surveyFile.empty();
  if (action == "report") return runSiteReport(options);
  if (reportOptions) return usageError(options, "--html, --apply-report and --survey are for site report");
  if (action == "apply" && options.templateFile.empty())
    return usageError(options, "site apply needs --template FILE for what the plan's columns leave out");
  if (!options.resumeFile.empty() && action != "apply") return usageError(options, "--resume is for site apply");
  if (action == "export" && options.json)
    return usageError(options, "site export prints a CSV plan; --report FILE gives the JSON report");
  // The same key sources and warnings as every other command.
  std::string key, error;
  if (!commandLineKey(options.key, options.keyFile, stdin, key, error)) return usageError(options, error);
  for (const std::string& warning : exposedKeyFileWarnings(options.home, options.keyFile))
    std::fprintf(stderr, "quarn-cli: %s\n", warning.c_str());
  const std::string& path = args[2];
  std::unique_ptr<SitePlan> plan(new SitePlan());
  SettingsFile settingsTemplate;
  SiteCheckInputs inputs;
  // The key lists and Quarnconfig.txt as every other command loads them; no port is opened.
  CliLog log;
  PortWaiter waiter;
  std::unique_ptr<OwnLink> own(new OwnLink(log, waiter));
  loadHome(own->link, options.home);
  inputs.converterKeys = &own->link.records().converterKeys;
  inputs.meterKeys = &own->link.records().meterKeys;
  inputs.configKey = own->view->keyText;
  inputs.forcedKey = key;
  siteCheckJob(path, options.templateFile, *plan, settingsTemplate, inputs);
  if (!plan->problems.empty()) return refused(options, path, *plan);
  if (action == "check") return listPlan(options, path, *plan, inputs);
  const SiteAction run = action == "apply"    ? SiteAction::apply
                         : action == "verify" ? SiteAction::verify
                         : action == "survey" ? SiteAction::survey
                                              : SiteAction::exportPlan;
  return runSitePlan(run, options, path, *plan, inputs);
}
