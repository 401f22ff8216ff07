// A site run's report, kept as a journal: the journal written as the run goes (what each converter acknowledged,
// the settings planned for it), and the earlier report a resumed run skips converters by.
#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "jobs/site_jobs.h"
#include "text/output_file.h"

// The report as JSON text. "complete" is true only once the run has ended with nothing cut
// short (no signal, the stick neither lost nor missing); endedBy names the signal that ended it
// (nullptr: none).
nlohmann::ordered_json siteReportJson(const SiteRunRecord& run, const char* endedBy = nullptr);
std::string siteReportText(const SiteRunRecord& run, const char* endedBy = nullptr);

// Writes the report to path now (never over one of reads), and leaves the texts a signal handler
// writes there if SIGINT, SIGTERM or SIGHUP ends the process before the next call. error says why
// a write failed.
bool writeSiteJournal(const std::string& path, const SiteRunRecord& run, const ReadFiles* reads, std::string& error);

// Marks the converters an earlier report shows done and verified with exactly the settings now
// planned for them (the converter's ID and every planned field the same) as done and resumed;
// every other converter is done again. False with the reason when the report cannot be read.
bool readSiteResume(const std::string& path, SiteRunRecord& run, std::string& error);
