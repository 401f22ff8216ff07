// The site report below the command line: HTML escaping, the apply report and survey readers,
// and what the report judges done, pending, heard and not heard.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "jobs/site_report.h"
#include "text/html_text.h"

namespace {

TEST(HtmlText, HostileTextIsShownNotObeyed) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
      {"a\"b&c", "a&quot;b&amp;c"},
      {"\xFF\xFEok", "\\xFF\\xFEok"},       // not UTF-8
      {std::string("a\0b", 3), "a\\x00b"},  // a NUL does not cut the text short
      {"\x1B[31mred", "\\x1B[31mred"},
      {"Z\xC3\xA4hler", "Z\xC3\xA4hler"},  // UTF-8 stays
  };
  for (const auto& c : cases) EXPECT_EQ(htmlText(c.in), c.out) << c.in;
}

// A plan of three converters: one done, one whose apply failed, one with a hostile link.
const char planText[] =
    "converter,link,slot1,slot2\n"
    "11111111,wireless,AAAA0001,AAAA0002\n"
    "22222222,wireless,BBBB0001,\n"
    "33333333,\"<script>alert('x')</script>\"\" \xFF\",CCCC0001,\n";

const char applyText[] = R"({"command":"site apply","complete":true,"converters":[
  {"row":2,"converter":"11111111","link":"wireless","status":"done","verified":true,"written":["slot 1","slot 2"]},
  {"row":3,"converter":"22222222","link":"wireless","status":"failed","verified":false,
   "step":"Set Data of slot 2","reason":"no answer","written":["slot 1"]},
  {"row":4,"converter":"33333333","status":"done","verified":true,"written":["slot 1"]}]})";

const char surveyText[] = R"({"converters":[
  {"converter":"11111111","meters":[
    {"id":"AAAA0001","manufacturer":"KAM","frames":12,"scans":3,"rssiMinDbm":-88,"rssiMeanDbm":-70.5,
     "rssiMaxDbm":-62,"security":5,"verdict":"right","kcv":"a1b2c3"},
    {"id":"aaaa0002","frames":4,"scans":2,"rssiMinDbm":-95,"rssiMeanDbm":-90,"rssiMaxDbm":-85,
     "security":"mode 7","verdict":"plain","kcv":null},
    {"id":"DDDD0001","frames":1,"scans":0,"verdict":"no-key"}],
   "rssiSamples":{"AAAA0002":[[0,-95],[10,-88],[20,-85]]}},
  {"converter":"22222222","meters":[]},
  {"converter":"33333333","meters":[
    {"id":"CCCC0001","manufacturer":"<b>","frames":2,"scans":1,"rssiMinDbm":-70,"rssiMeanDbm":-70,"rssiMaxDbm":-70,
     "verdict":"other-entry","keyEntry":"<img src=x onerror=alert(1)>","kcv":"00FF00"}]}]})";

struct Site {
  std::unique_ptr<SitePlan> plan{new SitePlan()};
  ApplyReport apply;
  SiteSurvey survey;
  SiteReportInputs in;
  Site() {
    parseSitePlanText(planText, *plan);
    std::string error;
    EXPECT_TRUE(parseApplyReportText(applyText, apply, error)) << error;
    EXPECT_TRUE(parseSiteSurveyText(surveyText, survey, error)) << error;
    in.plan = plan.get();
    in.planName = "flats<1>.csv";
    in.apply = &apply;
    in.survey = &survey;
    in.madeAt = "2026-12-08 09:00 UTC";
    in.version = "1.3.0";
  }
};

TEST(SiteReport, PlanWithHostileLinkIsRead) {
  Site site;
  ASSERT_TRUE(site.plan->problems.empty()) << site.plan->problems[0].reason;
  ASSERT_EQ(site.plan->count, 3u);
  EXPECT_EQ(std::string(site.plan->rows[2].link), "<script>alert('x')</script>\" \xFF");
}

TEST(SiteReport, DoneNeedsVerifiedSettingsAndEveryMeterHeardWithAWorkingKey) {
  Site site;
  const SiteAssessment a = assessSite(site.in);
  ASSERT_EQ(a.converters.size(), 3u);
  EXPECT_EQ(a.done, 1u);
  EXPECT_TRUE(a.converters[0].left.empty());
  ASSERT_EQ(a.converters[0].meters.size(), 2u);
  EXPECT_EQ(a.converters[0].meters[1].survey->samples.size(), 3u);  // a lower-case ID matched
  ASSERT_EQ(a.converters[0].others.size(), 1u);
  EXPECT_EQ(a.converters[0].others[0]->id, "DDDD0001");
  // The failed apply and the meter never heard both keep it pending.
  const ConverterLine& failed = a.converters[1];
  ASSERT_EQ(failed.meters.size(), 1u);
  EXPECT_EQ(failed.meters[0].heard, MeterHeard::notHeard);
  EXPECT_EQ(failed.meters[0].state, SlotState::written);
  ASSERT_EQ(failed.left.size(), 2u);
  EXPECT_EQ(failed.left[0], "settings: failed at Set Data of slot 2: no answer");
  EXPECT_EQ(failed.left[1], "meter BBBB0001 not heard");
  EXPECT_EQ(a.converters[2].left, std::vector<std::string>{"meter CCCC0001 key other-entry"});
  EXPECT_EQ(a.meters, 4u);
  EXPECT_EQ(a.heard, 3u);
  EXPECT_EQ(a.keysWorking, 2u);
}

// site verify's report has no "verified" and writes nothing: read back without differences is.
TEST(SiteReport, VerifyReportCountsAsVerified) {
  Site site;
  std::string error;
  ASSERT_TRUE(parseApplyReportText(R"({"command":"site verify","converters":[
    {"converter":"11111111","status":"done","differences":[]},
    {"converter":"22222222","status":"done","differences":[{"field":"slot1.deviceId"}]}]})",
                                   site.apply, error))
      << error;
  const SiteAssessment a = assessSite(site.in);
  EXPECT_EQ(a.converters[0].meters[0].state, SlotState::verified);
  EXPECT_TRUE(a.converters[0].left.empty());
  EXPECT_EQ(a.converters[1].meters[0].state, SlotState::notWritten);
  EXPECT_EQ(a.converters[1].left[0], "settings: differ from the plan");
}

TEST(SiteReport, WithoutApplyReportOrSurveyNothingIsDone) {
  Site site;
  site.in.apply = nullptr;
  site.in.survey = nullptr;
  const SiteAssessment a = assessSite(site.in);
  EXPECT_EQ(a.done, 0u);
  EXPECT_EQ(a.converters[0].left, (std::vector<std::string>{"settings: no apply report", "meters: no survey"}));
  EXPECT_EQ(a.converters[0].meters[0].heard, MeterHeard::noSurvey);
  EXPECT_EQ(a.converters[0].meters[0].state, SlotState::noReport);
}

TEST(SiteReport, PageEscapesEveryValueAndDrawsCharts) {
  Site site;
  const std::string html = siteReportHtml(site.in, assessSite(site.in));
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_EQ(html.find("flats<1>"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&quot; \\xFF"), std::string::npos);
  EXPECT_NE(html.find("other-entry (&lt;img src=x onerror=alert(1)&gt;)"), std::string::npos);
  EXPECT_NE(html.find("flats&lt;1&gt;.csv"), std::string::npos);
  // Not UTF-8 nowhere: the page declares UTF-8.
  EXPECT_EQ(html.find('\xFF'), std::string::npos);
  EXPECT_NE(html.find("@page { size: A4"), std::string::npos);
  // A chart for each heard meter with figures: a bar for those with figures only, a line over
  // time for the one with samples.
  auto count = [&html](const std::string& what) {
    size_t n = 0;
    for (size_t at = html.find(what); at != std::string::npos; at = html.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<svg"), 3u);
  EXPECT_EQ(count("<rect x=\"56.6\" y=\"6\" width=\"33.8\" height=\"10\" fill=\"#1F77B4\"/>"), 1u);  // -88 to -62
  EXPECT_EQ(count("fill=\"#1F77B4\""), 2u);
  EXPECT_EQ(count("<polyline"), 1u);
  EXPECT_NE(html.find("-88 / -70.5 / -62"), std::string::npos);
  EXPECT_NE(html.find("A1B2C3"), std::string::npos);
  EXPECT_NE(html.find("Quarn 1.3.0"), std::string::npos);
  // Pending before done in the summary.
  EXPECT_LT(html.find("<td class=\"mono\">22222222</td>"), html.find("<td class=\"mono\">11111111</td>"));
}

TEST(ReportInputs, BadFieldsAreNamed) {
  const struct {
    bool survey;
    std::string text, error;
  } cases[] = {
      {false, "[]", "expected an object (a site apply report)"},
      {false, "{}", "converters: missing"},
      {false, R"({"converters":[{"converter":"1111111"}]})", "converters[0].converter: expected 8 hex digits"},
      {false, R"({"converters":[{"converter":"11111111"}]})", "converters[0].status: missing"},
      {false, R"({"converters":[{"converter":"11111111","status":"done","verified":"yes"}]})",
       "converters[0].verified: expected true or false"},
      {false, R"({"converters":[{"converter":"11111111","status":"done"},{"converter":"11111111","status":"done"}]})",
       "converters[1].converter: 11111111 listed twice"},
      {true, R"({"meters":[]})", "converters: missing"},
      {true, R"({"converters":[{"converter":"11111111","meters":[{"id":"AAAA0001","verdict":"right"}]}]})",
       "converters[0].meters[0].frames: missing"},
      // A key in place of its check value is refused, never shown.
      {true, R"({"converters":[{"converter":"11111111","meters":[{"id":"AAAA0001","frames":1,"verdict":"right",
        "kcv":"000102030405060708090A0B0C0D0E0F"}]}]})",
       "converters[0].meters[0].kcv: expected at most 6 hex digits"},
      {true, R"({"converters":[{"converter":"11111111","meters":[{"id":"AAAA0001","frames":1,"verdict":"right",
        "rssiMinDbm":-80}]}]})",
       "converters[0].meters[0]: rssiMinDbm, rssiMeanDbm and rssiMaxDbm: give all three or none"},
      {true, R"({"converters":[{"converter":"11111111","meters":[{"id":"AAAA0001","frames":1,"verdict":"right"}],
        "rssiSamples":{"AAAA0001":[[5,-80],[4,-81]]}}]})",
       "converters[0].rssiSamples.AAAA0001[1]: earlier than the sample before it"},
      {true, R"({"converters":[{"converter":"11111111","meters":[],"rssiSamples":{"AAAA0001":[]}}]})",
       "converters[0].rssiSamples.AAAA0001: no such meter in meters"},
  };
  for (const auto& c : cases) {
    std::string error;
    ApplyReport report;
    SiteSurvey survey;
    const bool ok = c.survey ? parseSiteSurveyText(c.text, survey, error) : parseApplyReportText(c.text, report, error);
    EXPECT_FALSE(ok) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

}  // namespace
