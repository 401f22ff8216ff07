// "quarn-cli site apply / verify / export": a checked site plan run converter by converter, over
// the air through one stick and by wire port by port, with progress and a report.
#pragma once
#include <string>

struct CliOptions;
struct SitePlan;
struct SiteCheckInputs;

enum class SiteAction { apply, verify, exportPlan, survey };

// Runs the action on every converter of a plan that site check accepted. One converter failing
// never stops the others; a lost stick ends the over-the-air part. Progress goes to standard
// error, the report to --report FILE, the table (or with --json the report, or for export the
// plan the converters hold) to standard output. A survey listens to and scans each converter over
// the air in turn (wired rows fail) and keeps its meters in the report (--out FILE or --report
// FILE). Returns the exit code.
int runSitePlan(SiteAction action, const CliOptions& options, const std::string& planPath, const SitePlan& plan,
                const SiteCheckInputs& inputs);
