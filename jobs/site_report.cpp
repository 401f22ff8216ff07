// The site report: judging each planned converter and meter from the inputs, then writing the
// page with its styles and charts inline so that the one file is all the customer needs.
#include "jobs/site_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "text/html_text.h"

namespace {

// Verdicts under which the converter passes the meter's data on.
const char* const workingVerdicts[] = {"right", "plain"};

// The chart's scale: the converter reports -138 to -11 dBm; meters worth keeping lie well within.
constexpr double chartLowDbm = -130;
constexpr double chartHighDbm = -10;
constexpr double chartGridStepDb = 20;
constexpr int chartWidth = 160;
constexpr int chartHeight = 22;
constexpr int chartPad = 2;
// Colours the browser test looks for in the rendered page.
constexpr const char* chartColour = "#1F77B4";
constexpr const char* meanColour = "#D62728";
constexpr const char* gridColour = "#D0D0D0";
// Over time, the strength axis spans the meter's own range with this much room, in steps of this.
constexpr double timeChartMarginDb = 5;
constexpr double timeChartStepDb = 10;
constexpr int timeChartLabelWidth = 22;
constexpr int timeChartHeight = 32;
// The meter table's columns, fixed so that every converter's table lines up; the chart's column
// holds its 160 pixels on A4.
const char* const meterColumnWidths[] = {"5%", "10%", "10.5%", "9%", "7.5%", "12.5%", "25%", "11%", "9.5%"};

const char* const pageStyle = R"(
@page { size: A4; margin: 14mm 12mm; }
* { box-sizing: border-box; }
body { font-family: sans-serif; font-size: 9.5pt; color: #111; margin: 0; }
h1 { font-size: 16pt; margin: 0 0 2mm; }
h2 { font-size: 12pt; margin: 0 0 2mm; break-after: avoid; }
p { margin: 1mm 0; }
table { border-collapse: collapse; width: 100%; margin: 1mm 0 2mm; }
th, td { border: 0.6pt solid #999; padding: 1mm 1.5mm; text-align: left; vertical-align: middle; }
th { background: #EEE; font-size: 8.5pt; }
thead { display: table-header-group; }
tr { break-inside: avoid; }
table.facts th { width: 32mm; }
table.meters { table-layout: fixed; }
section { margin-top: 6mm; }
section.converter { break-inside: avoid-page; }
.good { color: #1A7F37; font-weight: bold; }
.bad { color: #B00020; font-weight: bold; }
.muted { color: #666; }
.mono { font-family: monospace; }
svg { display: block; }
html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
)";

bool working(const std::string& verdict) {
  return std::find(std::begin(workingVerdicts), std::end(workingVerdicts), verdict) != std::end(workingVerdicts);
}

bool heardAtAll(const SurveyMeter& m) { return m.frames > 0 || m.scans > 0; }

const ApplyResult* applyEntry(const ApplyReport* report, const std::string& id) {
  if (report == nullptr) return nullptr;
  for (const ApplyResult& r : report->converters)
    if (r.converter == id) return &r;
  return nullptr;
}

const SurveyConverter* surveyEntry(const SiteSurvey* survey, const std::string& id) {
  if (survey == nullptr) return nullptr;
  for (const SurveyConverter& c : survey->converters)
    if (c.converter == id) return &c;
  return nullptr;
}

bool inPlan(const SitePlan& plan, const std::string& id) {
  for (size_t i = 0; i < plan.count; ++i)
    if (id == plan.rows[i].converter) return true;
  return false;
}

SlotState slotState(const SiteReportInputs& inputs, const ApplyResult* apply, int slot) {
  if (inputs.apply == nullptr || apply == nullptr) return SlotState::noReport;
  // A verify report writes nothing and reads every slot back.
  if (apply->verified) return SlotState::verified;
  const std::string name = "slot " + std::to_string(slot);
  const bool written = std::find(apply->written.begin(), apply->written.end(), name) != apply->written.end();
  return written ? SlotState::written : SlotState::notWritten;
}

std::string settingsLeft(const SiteReportInputs& inputs, const ApplyResult* apply) {
  if (inputs.apply == nullptr) return "settings: no apply report";
  if (apply == nullptr) return "settings: not in the apply report";
  if (apply->status == "done") return apply->verified ? "" : "settings: differ from the plan";
  std::string text = "settings: " + apply->status;
  if (!apply->step.empty()) text += " at " + apply->step;
  if (!apply->reason.empty()) text += ": " + apply->reason;
  return text;
}

void judgeMeters(const SiteReportInputs& inputs, ConverterLine& line) {
  const SitePlanRow& row = *line.row;
  for (int s = 0; s < sitePlanSlotCount; ++s) {
    if (row.slots[s][0] == '\0') continue;
    MeterLine m;
    m.slot = s + 1;
    m.id = row.slots[s];
    m.state = slotState(inputs, line.apply, m.slot);
    if (inputs.survey == nullptr) {
      m.heard = MeterHeard::noSurvey;
    } else if (line.survey == nullptr) {
      m.heard = MeterHeard::converterMissing;
    } else {
      m.heard = MeterHeard::notHeard;
      for (const SurveyMeter& heard : line.survey->meters)
        if (heard.id == m.id && heardAtAll(heard)) {
          m.heard = MeterHeard::heard;
          m.survey = &heard;
          m.keyWorks = working(heard.verdict);
        }
      if (m.heard == MeterHeard::notHeard) line.left.push_back("meter " + m.id + " not heard");
      else if (!m.keyWorks) line.left.push_back("meter " + m.id + " key " + m.survey->verdict);
    }
    line.meters.push_back(m);
  }
  if (line.survey == nullptr) return;
  for (const SurveyMeter& heard : line.survey->meters) {
    bool planned = false;
    for (const MeterLine& m : line.meters) planned = planned || m.id == heard.id;
    if (!planned && heardAtAll(heard)) line.others.push_back(&heard);
  }
}

// --- writing the page ---

void put(std::string& out, const std::string& value) { out += htmlText(value); }

std::string number(double value) {
  char text[32];
  if (value == std::floor(value)) std::snprintf(text, sizeof text, "%.0f", value);
  else std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

double chartX(double dbm) {
  const double clamped = std::min(chartHighDbm, std::max(chartLowDbm, dbm));
  return chartPad + (clamped - chartLowDbm) / (chartHighDbm - chartLowDbm) * (chartWidth - 2 * chartPad);
}

void svgOpen(std::string& out, const SurveyMeter& m, int height, double low, double high) {
  char head[160];
  std::snprintf(head, sizeof head, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">",
                chartWidth, height, chartWidth, height);
  out += head;
  out += "<title>";
  put(out, "RSSI min " + number(m.rssiMin) + ", mean " + number(m.rssiMean) + ", max " + number(m.rssiMax) + " dBm" +
               (m.samples.empty() ? "" : " over time") + ", scale " + number(low) + " to " + number(high) + " dBm");
  out += "</title>";
}

// Grid lines every 20 dB across the strength axis.
void svgGrid(std::string& out) {
  char line[160];
  for (double dbm = chartLowDbm + chartGridStepDb; dbm < chartHighDbm; dbm += chartGridStepDb) {
    std::snprintf(line, sizeof line, "<line x1=\"%.1f\" y1=\"0\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" stroke-width=\"0.5\"/>",
                  chartX(dbm), chartX(dbm), chartHeight, gridColour);
    out += line;
  }
}

// A bar from min to max with the mean marked.
void rangeChart(std::string& out, const SurveyMeter& m) {
  svgOpen(out, m, chartHeight, chartLowDbm, chartHighDbm);
  svgGrid(out);
  char shape[200];
  const double left = chartX(m.rssiMin);
  const double width = std::max(2.0, chartX(m.rssiMax) - left);
  std::snprintf(shape, sizeof shape, "<rect x=\"%.1f\" y=\"6\" width=\"%.1f\" height=\"10\" fill=\"%s\"/>", left, width,
                chartColour);
  out += shape;
  std::snprintf(shape, sizeof shape, "<line x1=\"%.1f\" y1=\"2\" x2=\"%.1f\" y2=\"20\" stroke=\"%s\" stroke-width=\"2\"/>",
                chartX(m.rssiMean), chartX(m.rssiMean), meanColour);
  out += shape;
  out += "</svg>";
}

// The samples as a line over the survey's time on the meter's own range, labelled at both ends,
// the mean as a dashed line across.
void timeChart(std::string& out, const SurveyMeter& m) {
  const double low = std::floor((m.rssiMin - timeChartMarginDb) / timeChartStepDb) * timeChartStepDb;
  const double high = std::ceil((m.rssiMax + timeChartMarginDb) / timeChartStepDb) * timeChartStepDb;
  svgOpen(out, m, timeChartHeight, low, high);
  auto y = [&](double dbm) {
    return timeChartHeight - chartPad - (dbm - low) / (high - low) * (timeChartHeight - 2 * chartPad);
  };
  const double left = timeChartLabelWidth;
  const double width = chartWidth - chartPad - left;
  char shape[240];
  std::snprintf(shape, sizeof shape,
                "<text x=\"0\" y=\"8\" font-size=\"7\" fill=\"#555\">%.0f</text>"
                "<text x=\"0\" y=\"%d\" font-size=\"7\" fill=\"#555\">%.0f</text>"
                "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"none\" stroke=\"%s\" stroke-width=\"0.5\"/>",
                high, timeChartHeight - 1, low, left, chartPad, width, timeChartHeight - 2 * chartPad, gridColour);
  out += shape;
  const double first = m.samples.front().seconds;
  const double span = m.samples.back().seconds - first;
  if (m.samples.size() == 1) {
    std::snprintf(shape, sizeof shape, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\" fill=\"%s\"/>", left + width / 2,
                  y(m.samples[0].dbm), chartColour);
    out += shape;
  } else {
    out += "<polyline fill=\"none\" stroke=\"";
    out += chartColour;
    out += "\" stroke-width=\"1.5\" points=\"";
    for (const RssiSample& s : m.samples) {
      std::snprintf(shape, sizeof shape, "%.1f,%.1f ", left + (span > 0 ? (s.seconds - first) / span : 0.5) * width,
                    y(s.dbm));
      out += shape;
    }
    out += "\"/>";
  }
  std::snprintf(shape, sizeof shape,
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"1\" stroke-dasharray=\"3 2\"/>",
                left, y(m.rssiMean), left + width, y(m.rssiMean), meanColour);
  out += shape;
  out += "</svg>";
}

void cell(std::string& out, const std::string& value, const char* cls = nullptr) {
  out += cls != nullptr ? std::string("<td class=\"") + cls + "\">" : "<td>";
  put(out, value);
  out += "</td>";
}

const char* heardText(MeterHeard heard) {
  switch (heard) {
    case MeterHeard::heard: return "heard";
    case MeterHeard::notHeard: return "not heard";
    case MeterHeard::converterMissing: return "converter not surveyed";
    case MeterHeard::noSurvey: break;
  }
  return "no survey";
}

const char* slotStateText(SlotState state) {
  switch (state) {
    case SlotState::verified: return "verified";
    case SlotState::written: return "written, not verified";
    case SlotState::notWritten: return "not written";
    case SlotState::noReport: break;
  }
  return "no apply report";
}

std::string verdictText(const SurveyMeter& m) {
  return m.keyEntry.empty() ? m.verdict : m.verdict + " (" + m.keyEntry + ")";
}

void meterRow(std::string& out, const MeterLine& m) {
  out += "<tr>";
  cell(out, std::to_string(m.slot));
  cell(out, m.id, "mono");
  cell(out, slotStateText(m.state), m.state == SlotState::verified ? "good" : "bad");
  cell(out, heardText(m.heard), m.heard == MeterHeard::heard ? "good" : "bad");
  const SurveyMeter* s = m.survey;
  cell(out, s != nullptr ? std::to_string(s->frames) : "");
  cell(out, s != nullptr && s->rssiKnown ? number(s->rssiMin) + " / " + number(s->rssiMean) + " / " + number(s->rssiMax)
                                          : s != nullptr ? "not scanned" : "");
  out += "<td>";
  if (s != nullptr && s->rssiKnown) {
    if (s->samples.empty()) rangeChart(out, *s);
    else timeChart(out, *s);
  }
  out += "</td>";
  cell(out, s != nullptr ? verdictText(*s) : "", s == nullptr ? nullptr : m.keyWorks ? "good" : "bad");
  cell(out, s == nullptr ? "" : s->kcv.empty() ? "none" : s->kcv, "mono");
  out += "</tr>\n";
}

std::string slotList(const ConverterLine& line, bool verifiedOnly) {
  std::string list;
  for (const MeterLine& m : line.meters)
    if (!verifiedOnly || m.state == SlotState::verified)
      list += (list.empty() ? "" : ", ") + std::to_string(m.slot) + " (" + m.id + ")";
  return list.empty() ? "none" : list;
}

void fact(std::string& out, const char* name, const std::string& value, const char* cls = nullptr) {
  out += "<tr><th>";
  out += name;
  out += "</th>";
  cell(out, value, cls);
  out += "</tr>";
}

std::string settingsText(const SiteReportInputs& inputs, const ConverterLine& line) {
  const std::string left = settingsLeft(inputs, line.apply);
  if (!left.empty()) return left.substr(std::string("settings: ").size());
  std::string written;
  for (const std::string& w : line.apply->written) written += (written.empty() ? "" : ", ") + w;
  return written.empty() ? "read back as planned" : "written and read back: " + written;
}

void converterSection(std::string& out, const SiteReportInputs& inputs, const ConverterLine& line) {
  const SitePlanRow& row = *line.row;
  out += "<section class=\"converter\"><h2>Converter <span class=\"mono\">";
  put(out, row.converter);
  out += "</span> &mdash; ";
  out += line.left.empty() ? "<span class=\"good\">done</span>" : "<span class=\"bad\">pending</span>";
  out += "</h2>\n<table class=\"facts\">";
  fact(out, "Plan row", std::to_string(row.row));
  fact(out, "Link", row.link[0] != '\0' ? row.link : "wireless");
  fact(out, "Settings", settingsText(inputs, line), settingsLeft(inputs, line.apply).empty() ? "good" : "bad");
  fact(out, "Planned slots", slotList(line, false));
  fact(out, "Verified slots", slotList(line, true));
  if (!line.left.empty()) {
    std::string left;
    for (const std::string& l : line.left) left += (left.empty() ? "" : "; ") + l;
    fact(out, "Left to do", left, "bad");
  }
  out += "</table>\n";
  if (line.meters.empty()) {
    out += "<p class=\"muted\">No meters planned.</p>";
  } else {
    out += "<table class=\"meters\"><colgroup>";
    for (const char* width : meterColumnWidths) {
      out += "<col style=\"width:";
      out += width;
      out += "\">";
    }
    out += "</colgroup><thead><tr><th>Slot</th><th>Meter</th><th>Slot settings</th><th>Heard</th>"
           "<th>Frames</th><th>RSSI min / mean / max (dBm)</th><th>Signal (";
    put(out, number(chartLowDbm) + " to " + number(chartHighDbm) + " dBm");
    out += ")</th><th>Key</th><th>Check value</th></tr></thead><tbody>\n";
    for (const MeterLine& m : line.meters) meterRow(out, m);
    out += "</tbody></table>\n";
  }
  if (!line.others.empty()) {
    std::string list;
    for (const SurveyMeter* m : line.others)
      list += (list.empty() ? "" : ", ") + m->id + (m->rssiKnown ? " (" + number(m->rssiMean) + " dBm)" : "");
    out += "<p class=\"muted\">Also heard, not planned here: ";
    put(out, list);
    out += "</p>";
  }
  out += "</section>\n";
}

void summarySection(std::string& out, const SiteReportInputs& inputs, const SiteAssessment& a) {
  const size_t total = a.converters.size();
  out += "<section class=\"summary\"><h2>Summary</h2><p>";
  put(out, std::to_string(total) + (total == 1 ? " converter: " : " converters: ") + std::to_string(a.done) +
               " done, " + std::to_string(total - a.done) + " pending. " + std::to_string(a.meters) +
               " planned meters: " + std::to_string(a.heard) + " heard, " + std::to_string(a.keysWorking) +
               " with a working key.");
  out += "</p>";
  if (inputs.apply != nullptr && !inputs.apply->complete) {
    out += "<p class=\"bad\">";
    put(out, "The apply run was cut short" +
                 (inputs.apply->stickLost.empty() ? std::string(".") : ": " + inputs.apply->stickLost));
    out += "</p>";
  }
  if (!a.unplanned.empty()) {
    std::string list;
    for (const std::string& id : a.unplanned) list += (list.empty() ? "" : ", ") + id;
    out += "<p class=\"muted\">";
    put(out, "Reported but not in the plan: " + list);
    out += "</p>";
  }
  out += "<table><thead><tr><th>Converter</th><th>Link</th><th>State</th><th>Left to do</th></tr></thead><tbody>\n";
  // Pending first: the work left is what the reader looks for.
  for (int pass = 0; pass < 2; ++pass)
    for (const ConverterLine& line : a.converters) {
      if (line.left.empty() != (pass == 1)) continue;
      std::string left;
      for (const std::string& l : line.left) left += (left.empty() ? "" : "; ") + l;
      out += "<tr>";
      cell(out, line.row->converter, "mono");
      cell(out, line.row->link[0] != '\0' ? line.row->link : "wireless");
      cell(out, line.left.empty() ? "done" : "pending", line.left.empty() ? "good" : "bad");
      cell(out, left);
      out += "</tr>\n";
    }
  out += "</tbody></table></section>\n";
}

}  // namespace

SiteAssessment assessSite(const SiteReportInputs& inputs) {
  SiteAssessment a;
  const SitePlan& plan = *inputs.plan;
  for (size_t i = 0; i < plan.count; ++i) {
    ConverterLine line;
    line.row = &plan.rows[i];
    line.apply = applyEntry(inputs.apply, line.row->converter);
    line.survey = surveyEntry(inputs.survey, line.row->converter);
    const std::string settings = settingsLeft(inputs, line.apply);
    if (!settings.empty()) line.left.push_back(settings);
    if (inputs.survey == nullptr) line.left.push_back("meters: no survey");
    else if (line.survey == nullptr) line.left.push_back("meters: converter not in the survey");
    judgeMeters(inputs, line);
    a.done += line.left.empty();
    for (const MeterLine& m : line.meters) {
      ++a.meters;
      a.heard += m.heard == MeterHeard::heard;
      a.keysWorking += m.keyWorks;
    }
    a.converters.push_back(line);
  }
  auto note = [&](const std::string& id) {
    if (!inPlan(plan, id) && std::find(a.unplanned.begin(), a.unplanned.end(), id) == a.unplanned.end())
      a.unplanned.push_back(id);
  };
  if (inputs.apply != nullptr)
    for (const ApplyResult& r : inputs.apply->converters) note(r.converter);
  if (inputs.survey != nullptr)
    for (const SurveyConverter& c : inputs.survey->converters) note(c.converter);
  return a;
}

std::string siteReportHtml(const SiteReportInputs& inputs, const SiteAssessment& assessment) {
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>";
  put(out, "Site report: " + inputs.planName);
  out += "</title><style>";
  out += pageStyle;
  out += "</style></head><body>\n<h1>Site report</h1><p>";
  put(out, "Plan " + inputs.planName + " · made " + inputs.madeAt + " · Quarn " + inputs.version);
  out += "</p><p class=\"muted\">";
  put(out, "Apply report: " + (inputs.apply != nullptr ? inputs.applyName : std::string("none")) +
               ". Survey: " + (inputs.survey != nullptr ? inputs.surveyName : std::string("none")) +
               ". Keys are shown only by their check value.");
  out += "</p>\n";
  summarySection(out, inputs, assessment);
  for (const ConverterLine& line : assessment.converters) converterSection(out, inputs, line);
  out += "</body></html>\n";
  return out;
}
