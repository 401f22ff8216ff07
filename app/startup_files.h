// The files start-up reads before any window exists: the configuration file and both key lists.
#pragma once
#include "app/quarn_state.h"
#include "link/converter_link.h"
#include "text/log.h"

constexpr const char* converterKeyDirectory = "dongleKeys";
constexpr const char* meterKeyDirectory = "meterKeys";

// Reads "Quarnconfig.txt" below the working directory; the window is built from it.
void loadStartupConfig(QuarnState& state);
// Empties both key lists and loads them from "dongleKeys" and "meterKeys" below the working
// directory. Missing files leave defaults; nothing fails.
void loadStartupKeys(LinkRecords& records);

// One warning line on standard output and in the log for each of "Quarnconfig.txt",
// "dongleKeys" and "meterKeys" that other users can read or change: they hold keys.
void reportExposedFiles(Log& log);
