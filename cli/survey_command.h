// "quarn-cli survey": listens through the stick and scans the partner for a while, then one row
// per meter with its frames, RSSI and key verdict.
#pragma once
#include <string>

#include "cli/cli_commands.h"

class CliSession;

constexpr int surveyDefaultSeconds = 30;
constexpr int surveyDefaultScanEverySeconds = 10;

struct SurveyRows;

// How listening and scanning went: code and error as a command's, and the scans.
struct SurveyListening {
  int code = 0;
  std::string error;
  unsigned scansSent = 0;
  unsigned scansAnswered = 0;
};

// On a connected wireless session with its partner chosen: empties the heard-meter table and the
// nearby list, listens for --seconds and scans every --scan-every seconds, then builds the rows.
// code is 0 when at least one scan was answered (rows filled), else 4 (none answered) or 3 (the
// stick was lost).
SurveyListening surveyPartner(CliSession& session, const CliOptions& options, SurveyRows& rows);

// "survey": the above, and its rows on standard output. Returns the exit code; why in error when
// it failed.
int runSurvey(CliSession& session, const CliOptions& options, std::string& error);
