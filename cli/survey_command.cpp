// "quarn-cli survey": the listening and scanning schedule on a CliSession; the table, RSSI and
// verdicts come from link/ and codec/.
#include "cli/survey_command.h"

#include <cstdio>
#include <memory>

#include "cli/cli_session.h"
#include "cli/keys_command.h"
#include "codec/answer_wait.h"
#include "link/survey_rows.h"

int runSurvey(CliSession& session, const CliOptions& options, std::string& error) {
  LinkRecords& records = session.records();
  // Only what is heard during the survey counts.
  records.meters = HeardMeterTable{};
  const long long start = answerClockMs();
  const long long end = start + static_cast<long long>(options.surveySeconds) * 1000;
  const long long every = static_cast<long long>(options.scanEverySeconds) * 1000;
  long long nextScan = start;
  unsigned scans = 0, answered = 0;
  for (long long now = start; now < end; now = answerClockMs()) {
    if (now >= nextScan) {
      nextScan += every;
      ++scans;
      const WaitEnd scanned = session.scan(options.timeoutMs);
      if (scanned == WaitEnd::lost) {
        error = session.lostText();
        return exitPort;
      }
      if (scanned == WaitEnd::answered) ++answered;
      else std::fprintf(stderr, "quarn-cli: scan %u of the survey was not answered\n", scans);
      continue;
    }
    const long long until = nextScan < end ? nextScan : end;
    if (session.listen([] { return false; }, until) == WaitEnd::lost) {
      error = session.lostText();
      return exitPort;
    }
  }
  if (answered == 0) {
    error = "no scan of the survey was answered (" + std::to_string(scans) + " sent)";
    return exitNoAnswer;
  }
  std::unique_ptr<SurveyRows> rows(new SurveyRows());
  buildSurveyRows(records.meters, &records.nearby, records.meterKeys, *rows);
  printSurveyRows(*rows, options.json,
                  {{"seconds", options.surveySeconds}, {"scansSent", scans}, {"scansAnswered", answered},
                   {"framesNotListed", records.meters.framesNotListed}});
  return surveyAllRight(*rows) ? exitDone : exitFailed;
}
