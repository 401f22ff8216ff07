// What a site report is made from besides the plan: a site apply report and a site survey, read
// into plain records with every field checked and a refusal naming the field.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Far above a report of the largest plan; larger files are refused unread.
constexpr size_t applyReportByteLimit = 16 * 1024 * 1024;
constexpr size_t siteSurveyByteLimit = 16 * 1024 * 1024;
// A converter hears at most this many meters (the stick's heard table), and a survey keeps at
// most this many RSSI samples a meter (an hour, one scan every second).
constexpr size_t surveyMeterLimit = 250;
constexpr size_t surveySampleLimit = 3600;
// A key is shown only by its check value: three bytes, never more.
constexpr size_t keyCheckValueDigits = 6;

// One converter's entry of "site apply --report".
struct ApplyResult {
  std::string converter;  // 8 hex digits, upper case
  std::string link;
  std::string status;     // "done", "failed", "not heard", "in progress", "not started"
  bool verified = false;  // written and every write read back
  std::string step;       // where it failed or stopped
  std::string reason;
  std::vector<std::string> written;  // "slot 1", ..., "option bits"
};

struct ApplyReport {
  bool complete = true;   // false: the run was cut short (stick lost)
  std::string stickLost;
  std::vector<ApplyResult> converters;
};

struct RssiSample {
  double seconds = 0;  // from the survey's start
  double dbm = 0;
};

// One meter a converter heard, as the survey lists it.
struct SurveyMeter {
  std::string id;  // 8 hex digits, upper case
  std::string manufacturer, version, type, security;
  long long frames = 0;
  long long scans = 0;
  bool rssiKnown = false;  // false: no Scan reported it
  double rssiMin = 0, rssiMean = 0, rssiMax = 0;
  std::string verdict;   // "right", "wrong", "reversed", "other-entry", "no-key", "plain", "unsupported"
  std::string keyEntry;  // the entry whose key worked, when not the meter's own
  std::string kcv;       // key check value, up to 6 hex digits; empty: none
  std::vector<RssiSample> samples;  // in time order; empty: only the three figures
};

struct SurveyConverter {
  std::string converter;  // 8 hex digits, upper case
  std::vector<SurveyMeter> meters;
};

struct SiteSurvey {
  std::vector<SurveyConverter> converters;
};

// The files, as read (other fields are left alone, so either may carry more):
// apply report (site apply --report, or site verify's):
//   {"complete": bool, "stickLost": "...", "converters": [{"converter": "HEX8", "status": "done",
//    "verified": bool, "written": ["slot 1", ...], "step": "...", "reason": "..."}, ...]}
//   (without "verified", a "done" entry with an empty "differences" list counts as verified)
// site survey (site survey --out):
//   {"converters": [{"converter": "HEX8", "meters": [{"id": "HEX8", "manufacturer", "version",
//    "type": text or null, "frames": n, "scans": n, "rssiMinDbm", "rssiMeanDbm", "rssiMaxDbm":
//    numbers or all null, "security": text, number or null, "verdict": "right", "keyEntry": text
//    or null, "kcv": up to 6 hex digits or null}, ...],
//    "rssiSamples": {"HEX8": [[seconds, dBm], ...], ...}}, ...]}   (rssiSamples optional)
// Required: each "converter", "status", and each meter's "id", "frames" and "verdict".

// Parse the file texts. On failure return false with error "<field path>: <reason>", such as
// "converters[1].meters[0].kcv: expected at most 6 hex digits", or the reason for the text as a whole.
bool parseApplyReportText(const std::string& text, ApplyReport& report, std::string& error);
bool parseSiteSurveyText(const std::string& text, SiteSurvey& survey, std::string& error);

// Read and parse files; errors begin with the path.
bool readApplyReportFile(const std::string& path, ApplyReport& report, std::string& error);
bool readSiteSurveyFile(const std::string& path, SiteSurvey& survey, std::string& error);
