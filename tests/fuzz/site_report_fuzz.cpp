// Apply reports and site surveys of any content, and the page made from them: a refusal always
// says why, a check value is never longer than three bytes, and no text of the file reaches
// the page as markup.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "jobs/site_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<SitePlan> plan;
  if (!plan) {
    plan.reset(new SitePlan());
    parseSitePlanText("converter,slot1,slot2\n11111111,AAAA0001,AAAA0002\n22222222,BBBB0001,\n", *plan);
  }
  if (size == 0) return 0;
  // The first byte chooses the reader; the rest is the file.
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  ApplyReport apply;
  SiteSurvey survey;
  SiteReportInputs in;
  in.plan = plan.get();
  std::string error;
  if (data[0] & 1) {
    if (!parseSiteSurveyText(text, survey, error)) {
      FUZZ_CHECK(!error.empty());
      return 0;
    }
    for (const SurveyConverter& c : survey.converters) {
      FUZZ_CHECK(c.meters.size() <= surveyMeterLimit);
      for (const SurveyMeter& m : c.meters) {
        FUZZ_CHECK(m.kcv.size() <= keyCheckValueDigits);
        FUZZ_CHECK(m.samples.size() <= surveySampleLimit);
        FUZZ_CHECK(!m.rssiKnown || (m.rssiMin <= m.rssiMean && m.rssiMean <= m.rssiMax));
      }
    }
    in.survey = &survey;
  } else {
    if (!parseApplyReportText(text, apply, error)) {
      FUZZ_CHECK(!error.empty());
      return 0;
    }
    in.apply = &apply;
  }
  const std::string html = siteReportHtml(in, assessSite(in));
  // The file's texts are all escaped: none opens a tag the page does not write itself.
  FUZZ_CHECK(html.find("<script") == std::string::npos);
  FUZZ_CHECK(std::memchr(html.data(), '\0', html.size()) == nullptr);
  return 0;
}
