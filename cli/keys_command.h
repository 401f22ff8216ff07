// "quarn-cli keys": meter keys checked against telegrams offline, and key lists imported.
#pragma once
#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"

struct SurveyRows;

// "keys check FILE|-" and "keys import FILE [--into NAME]". Returns the exit code.
int runKeysCommand(const CliOptions& options);

// The rows of a survey or key check on standard output, as text or as {"meters":[...]}; with
// JSON, the members of beside follow the meters.
void printSurveyRows(const SurveyRows& rows, bool json,
                     const nlohmann::ordered_json& beside = nlohmann::ordered_json::object());
