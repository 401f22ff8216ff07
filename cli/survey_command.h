// "quarn-cli survey": listens through the stick and scans the partner for a while, then one row
// per meter with its frames, RSSI and key verdict.
#pragma once
#include <string>

#include "cli/cli_commands.h"

class CliSession;

constexpr int surveyDefaultSeconds = 30;
constexpr int surveyDefaultScanEverySeconds = 10;

// On a connected wireless session: the survey itself and its rows on standard output. Returns
// the exit code; why in error when it failed.
int runSurvey(CliSession& session, const CliOptions& options, std::string& error);
