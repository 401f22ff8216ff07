// The one line that says how a converter command ended, for the window's status line and quarn-cli.
#pragma once
#include <string>

#include "link/converter_link.h"

// command names what was sent ("Get Data of slot 1"). Answered: "<command> answered."; no
// answer: "No answer to <command>: <causes>."; not sent: "<command> not sent: <why>."; lost:
// "<command> lost: <notice>.".
std::string outcomeText(const std::string& command, const CommandOutcome& outcome);

// Key find, which sends nothing: "Keys of meter <id> filled in from meterKeys/." or
// "No key for meter <id> in meterKeys/".
std::string keyFindText(bool found, const std::string& deviceId);
