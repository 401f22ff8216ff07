// "quarn-cli site report PLAN [--apply-report R] [--survey S] --html OUT.html".
#pragma once

struct CliOptions;

// Writes the site report; 2 when the plan, the apply report or the survey is refused (the field
// named), 1 when the file cannot be written, else 0.
int runSiteReport(const CliOptions& options);
