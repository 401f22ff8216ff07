// The site report: a plan, the apply run's outcome and the survey's meters judged converter by
// converter, and the one self-contained HTML page a customer keeps.
#pragma once
#include <string>
#include <vector>

#include "settings/report_inputs.h"
#include "settings/site_plan.h"

// What the report is made from; apply and survey are null when not given.
struct SiteReportInputs {
  const SitePlan* plan = nullptr;
  std::string planName;  // as the user named the file
  const ApplyReport* apply = nullptr;
  std::string applyName;
  const SiteSurvey* survey = nullptr;
  std::string surveyName;
  std::string madeAt;   // "2026-12-08 09:14 UTC"
  std::string version;  // Quarn's
};

enum class MeterHeard { noSurvey, converterMissing, notHeard, heard };
enum class SlotState { noReport, notWritten, written, verified };

// One planned meter: where it is planned and what the survey says of it.
struct MeterLine {
  int slot = 0;  // 1..4
  std::string id;
  MeterHeard heard = MeterHeard::noSurvey;
  SlotState state = SlotState::noReport;
  const SurveyMeter* survey = nullptr;  // its survey entry, when heard
  bool keyWorks = false;                // heard and decrypted (or sent plain)
};

struct ConverterLine {
  const SitePlanRow* row = nullptr;
  const ApplyResult* apply = nullptr;       // its entry in the apply report
  const SurveyConverter* survey = nullptr;  // its entry in the survey
  std::vector<MeterLine> meters;            // in slot order
  std::vector<const SurveyMeter*> others;   // heard by it, planned in none of its slots
  std::vector<std::string> left;            // what keeps it pending; empty: done
};

struct SiteAssessment {
  std::vector<ConverterLine> converters;  // in plan order
  size_t done = 0;
  size_t meters = 0, heard = 0, keysWorking = 0;
  std::vector<std::string> unplanned;  // converters the apply report or survey lists and the plan does not
};

// A converter is done when the apply report shows it written and read back and the survey shows
// every planned meter heard with a key that works (or sending plain); what is missing is pending.
SiteAssessment assessSite(const SiteReportInputs& inputs);

// The page: A4 print styles, the summary first, one section a converter, inline SVG charts; every
// value from the inputs passes through htmlText.
std::string siteReportHtml(const SiteReportInputs& inputs, const SiteAssessment& assessment);
