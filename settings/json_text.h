// JSON text read with nlohmann-json, with one wording for text it refuses.
#pragma once
#include <string>

#include <nlohmann/json.hpp>

// Parses text into root. On failure returns false with why in error: "not valid JSON (byte N): "
// and the library's reason, or "not valid JSON: " and the reason where the library names no
// position (a number too large for any type). A NUL byte is refused with its position: the
// library stops at it as at the end, and what follows would go unread.
bool parseJsonText(const std::string& text, nlohmann::json& root, std::string& error);
