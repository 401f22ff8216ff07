// JSON text read with nlohmann-json, with one wording for text it refuses.
#include "settings/json_text.h"

namespace {

// The library's text without its "[json.exception.parse_error.101] " prefix.
std::string reasonOf(const nlohmann::json::exception& e) {
  const std::string what = e.what();
  const size_t cut = what.find("] ");
  return cut == std::string::npos ? what : what.substr(cut + 2);
}

}  // namespace

bool parseJsonText(const std::string& text, nlohmann::json& root, std::string& error) {
  try {
    root = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    // Byte positions are what the user can look up; the library's own text says the rest.
    error = "not valid JSON (byte " + std::to_string(e.byte) + "): " + reasonOf(e);
    return false;
  } catch (const nlohmann::json::exception& e) {
    error = "not valid JSON: " + reasonOf(e);
    return false;
  }
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    error = "not valid JSON (byte " + std::to_string(nul + 1) + "): a NUL byte, then " +
            std::to_string(text.size() - nul - 1) + " more bytes";
    return false;
  }
  return true;
}
