// quarn-cli's JSON on standard output, through the one JSON printer.
#pragma once
#include <nlohmann/json.hpp>

// The document as jsonDocumentText writes it: any byte of a device text, file name or argument
// is shown, and printing never throws.
void printJson(const nlohmann::ordered_json& out);
