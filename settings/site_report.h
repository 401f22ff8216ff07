// Reading an earlier site report back (site apply --resume): every field's type checked, so a
// hand-edited report is refused with the field's path, never half understood.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A report holds a few kB a converter; far above the largest plan's.
constexpr size_t siteReportByteLimit = 16 * 1024 * 1024;

struct SiteReportEntry {
  std::string converter;  // as written in the report
  std::string status;     // "done", "failed", ...
  bool verified = false;
  nlohmann::ordered_json entry;  // the whole entry, to carry into a new report
};

// Parses a report read with the one JSON reader (duplicate keys, NUL and trailing bytes refused):
// an object whose "converters" is a list of objects. In each, converter and status are text,
// verified true or false; where given, row is a whole number, link, step and reason text, written a
// list of texts, planned and found objects, differences a list. Anything else is refused with the
// path of the field and what it held: "converters[2].status: expected text, got number".
bool parseSiteReportText(const std::string& text, std::vector<SiteReportEntry>& entries, std::string& error);

// The same from a file (regular, at most siteReportByteLimit bytes); errors begin with the path.
bool readSiteReportFile(const std::string& path, std::vector<SiteReportEntry>& entries, std::string& error);
