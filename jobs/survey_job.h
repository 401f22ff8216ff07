// The survey job: listens through the stick to what the partner's meters send and scans the
// partner on a schedule, then one row per meter with its frames, RSSI and key verdict.
#pragma once
#include <functional>
#include <string>

#include "jobs/job_link.h"

constexpr int surveyDefaultSeconds = 30;
constexpr int surveyDefaultScanEverySeconds = 10;

struct SurveyRows;

// How listening and scanning went: an exit code and why, and the scans.
struct SurveyListening {
  int code = exitDone;
  std::string error;
  int seconds = 0;  // how long it was to listen
  unsigned scansSent = 0;
  unsigned scansAnswered = 0;
};

// On a connected wireless link with its partner chosen: empties the heard-meter table and the
// nearby list, listens for seconds and scans every scanEverySeconds, then builds the rows. code
// is exitDone when at least one scan was answered (rows filled), else exitNoAnswer (none
// answered) or exitPort (the stick was lost). Keys are checked against meterKeys; unanswered is
// told of each scan that got no answer.
SurveyListening surveyJob(JobLink& link, int seconds, int scanEverySeconds, int timeoutMs, const MeterKeyList& meterKeys,
                          SurveyRows& rows, const std::function<void(unsigned scan)>& unanswered = {});
