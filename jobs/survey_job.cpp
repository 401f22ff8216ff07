// The survey's listening and scanning schedule; the table, RSSI and verdicts come from link/ and
// codec/.
#include "jobs/survey_job.h"

#include "codec/answer_wait.h"
#include "link/survey_rows.h"

SurveyListening surveyJob(JobLink& link, int seconds, int scanEverySeconds, int timeoutMs, const MeterKeyList& meterKeys,
                          SurveyRows& rows, const std::function<void(unsigned scan)>& unanswered) {
  SurveyListening out;
  out.seconds = seconds;
  LinkRecords& records = link.records();
  // Only what is heard and scanned during the survey counts.
  records.meters = HeardMeterTable{};
  records.nearby = NearbyDeviceList{};
  const long long start = answerClockMs();
  const long long end = start + static_cast<long long>(seconds) * 1000;
  const long long every = static_cast<long long>(scanEverySeconds) * 1000;
  long long nextScan = start;
  for (long long now = start; now < end; now = answerClockMs()) {
    WaitEnd waited = WaitEnd::answered;
    if (now >= nextScan) {
      nextScan += every;
      ++out.scansSent;
      waited = link.scan(timeoutMs);
      if (waited == WaitEnd::answered) ++out.scansAnswered;
      else if (waited != WaitEnd::lost && unanswered) unanswered(out.scansSent);
    } else {
      waited = link.listen([] { return false; }, nextScan < end ? nextScan : end);
    }
    if (waited == WaitEnd::lost) {
      out.code = exitPort;
      out.error = link.lostText();
      return out;
    }
  }
  if (out.scansAnswered == 0) {
    out.code = exitNoAnswer;
    out.error = "no scan of the survey was answered (" + std::to_string(out.scansSent) + " sent)";
    return out;
  }
  buildSurveyRows(records.meters, &records.nearby, meterKeys, rows);
  return out;
}
