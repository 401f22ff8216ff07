// The files start-up reads before any window exists: the configuration file and both key lists.
#pragma once
#include "app/quarn_state.h"
#include "text/log.h"

constexpr const char* converterKeyDirectory = "dongleKeys";
constexpr const char* meterKeyDirectory = "meterKeys";

// Reads "Quarnconfig.txt", then empties both key lists and loads them from "dongleKeys" and
// "meterKeys", all below the working directory. Missing files leave defaults; nothing fails.
void loadStartupFiles(QuarnState& state);

// One warning line on standard output and in the log for each of "Quarnconfig.txt",
// "dongleKeys" and "meterKeys" that other users can read or change: they hold keys.
void reportExposedFiles(Log& log);
