// "quarn-cli survey": the survey job's rows printed as keys check prints them.
#include "cli/survey_command.h"

#include <cstdio>
#include <memory>

#include "cli/keys_command.h"
#include "jobs/survey_job.h"
#include "link/survey_rows.h"

int runSurvey(JobLink& link, const CliOptions& options, std::string& error) {
  std::unique_ptr<SurveyRows> rows(new SurveyRows());
  const SurveyListening listened =
      surveyJob(link, options.surveySeconds, options.scanEverySeconds, options.timeoutMs, link.records().meterKeys, *rows,
                [](unsigned scan) {
        std::fprintf(stderr, "quarn-cli: scan %u of the survey was not answered\n", scan);
      });
  if (listened.code != exitDone) {
    error = listened.error;
    return listened.code;
  }
  printSurveyRows(*rows, options.json,
                  {{"seconds", options.surveySeconds}, {"scansSent", listened.scansSent},
                   {"scansAnswered", listened.scansAnswered},
                   {"framesNotListed", link.records().meters.framesNotListed}});
  return surveyAllRight(*rows) ? exitDone : exitFailed;
}
