// The one JSON reader and the one JSON printer: every file and every document the program reads
// or prints as JSON goes through these.
#pragma once
#include <string>

#include <nlohmann/json.hpp>

// Whether two keys that differ only in letter case are the same key (site plans match their
// column names so) or two keys (settings files, reports).
enum class JsonKeys { exact, ignoringCase };

// Parses text into root. On failure returns false with why in error: "not valid JSON (byte N): "
// and the library's reason, or "not valid JSON: " and the reason where the library names no
// position (a number too large for any type). Refused too: a NUL byte, with its position (the
// library stops at it as at the end, and what follows would go unread); bytes after the value;
// a key given twice in one object ("<path>: given twice", the path as "slots[1].deviceId", a
// list called slots counted "slot N" from 1 and a list at the top "row N" from 1), since the
// library would keep the last of the two and the file must mean one thing.
bool parseJsonText(const std::string& text, nlohmann::json& root, std::string& error,
                   JsonKeys keys = JsonKeys::exact);
bool parseJsonText(const std::string& text, nlohmann::ordered_json& root, std::string& error,
                   JsonKeys keys = JsonKeys::exact);

// The document as text, two-space indent and a final line end. Never throws: every string and
// key is first passed through printableText, so bytes that are not UTF-8 (and controls) appear as
// the text \xNN, as on the terminal.
std::string jsonDocumentText(const nlohmann::ordered_json& value);
