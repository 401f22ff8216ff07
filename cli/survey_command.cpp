// "quarn-cli survey": the listening and scanning schedule on a CliSession; the table, RSSI and
// verdicts come from link/ and codec/.
#include "cli/survey_command.h"

#include <cstdio>
#include <memory>

#include "cli/cli_session.h"
#include "cli/keys_command.h"
#include "codec/answer_wait.h"
#include "link/survey_rows.h"

SurveyListening surveyPartner(CliSession& session, const CliOptions& options, SurveyRows& rows) {
  SurveyListening out;
  LinkRecords& records = session.records();
  // Only what is heard and scanned during the survey counts.
  records.meters = HeardMeterTable{};
  records.nearby = NearbyDeviceList{};
  const long long start = answerClockMs();
  const long long end = start + static_cast<long long>(options.surveySeconds) * 1000;
  const long long every = static_cast<long long>(options.scanEverySeconds) * 1000;
  long long nextScan = start;
  for (long long now = start; now < end; now = answerClockMs()) {
    WaitEnd waited = WaitEnd::answered;
    if (now >= nextScan) {
      nextScan += every;
      ++out.scansSent;
      waited = session.scan(options.timeoutMs);
      if (waited == WaitEnd::answered) ++out.scansAnswered;
      else if (waited != WaitEnd::lost)
        std::fprintf(stderr, "quarn-cli: scan %u of the survey was not answered\n", out.scansSent);
    } else {
      waited = session.listen([] { return false; }, nextScan < end ? nextScan : end);
    }
    if (waited == WaitEnd::lost) {
      out.code = exitPort;
      out.error = session.lostText();
      return out;
    }
  }
  if (out.scansAnswered == 0) {
    out.code = exitNoAnswer;
    out.error = "no scan of the survey was answered (" + std::to_string(out.scansSent) + " sent)";
    return out;
  }
  buildSurveyRows(records.meters, &records.nearby, records.meterKeys, rows);
  return out;
}

int runSurvey(CliSession& session, const CliOptions& options, std::string& error) {
  std::unique_ptr<SurveyRows> rows(new SurveyRows());
  const SurveyListening listened = surveyPartner(session, options, *rows);
  if (listened.code != exitDone) {
    error = listened.error;
    return listened.code;
  }
  printSurveyRows(*rows, options.json,
                  {{"seconds", options.surveySeconds}, {"scansSent", listened.scansSent},
                   {"scansAnswered", listened.scansAnswered},
                   {"framesNotListed", session.records().meters.framesNotListed}});
  return surveyAllRight(*rows) ? exitDone : exitFailed;
}
