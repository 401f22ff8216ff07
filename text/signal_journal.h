// A journal's last words: what a file written as a run goes should hold when SIGINT, SIGTERM or
// SIGHUP ends the process, left there by the signal handler itself.
#pragma once
#include <string>

// The signals a journal records, in the order of the texts below.
constexpr int journalSignalCount = 3;
const char* journalSignalName(int index);  // "SIGINT", "SIGTERM", "SIGHUP"

// Keeps, for each journal signal, the whole text path is to hold when that signal ends the
// process; the first call installs the handlers, in front of those installed before (which run
// after it, so ports are still let go). The handler writes a temporary file beside path and
// renames it over path with async-signal-safe calls only. Where signals cannot be caught this
// way (Windows) it keeps nothing and returns false.
bool setSignalJournal(const std::string& path, const std::string texts[journalSignalCount]);

// Nothing is written any more on a signal (the run has ended and written its last journal).
void clearSignalJournal();
