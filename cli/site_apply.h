// "quarn-cli site apply / verify / export": the site jobs run with progress, the report kept as a
// journal, and the result printed.
#pragma once
#include <string>

#include "jobs/site_jobs.h"

struct CliOptions;

// Runs the action on every converter of a plan that site check accepted. Progress goes to standard
// error, the report to --report FILE (written as each step is acknowledged), the table (or with
// --json the report, or for export the plan the converters hold) to standard output. A survey
// listens to and scans each converter over the air in turn (wired rows fail) and keeps its meters
// in the report (--out FILE or --report FILE). Returns the exit code.
int runSitePlan(SiteAction action, const CliOptions& options, const std::string& planPath, const SitePlan& plan,
                const SiteCheckInputs& inputs);
