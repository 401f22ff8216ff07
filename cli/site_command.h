// "quarn-cli site": commands over a site plan of many converters.
#pragma once

struct CliOptions;

// "site check PLAN": the plan, the key lists and the ports checked before anything is sent.
// Prints the plan's converters, or every problem found; returns the exit code (2 when refused).
int runSiteCommand(const CliOptions& options);
