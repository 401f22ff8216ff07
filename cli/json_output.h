// quarn-cli's JSON on standard output: every string made printable first.
#pragma once
#include <nlohmann/json.hpp>

// Device texts, file names and arguments may hold any byte: strings are escaped as the terminal
// output escapes them, and the library never throws while printing.
void makePrintable(nlohmann::ordered_json& value);
void printJson(nlohmann::ordered_json& out);
