// The one JSON reader and the one JSON printer.
#include "settings/json_text.h"

#include <cctype>
#include <set>
#include <vector>

#include "text/printable_text.h"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// The library's text without its "[json.exception.parse_error.101] " prefix.
std::string reasonOf(const json::exception& e) {
  const std::string what = e.what();
  const size_t cut = what.find("] ");
  return cut == std::string::npos ? what : what.substr(cut + 2);
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Finds a key given twice in one object (a second "slots" list included), naming its path.
class DuplicateKeys : public nlohmann::json_sax<json> {
public:
  explicit DuplicateKeys(JsonKeys keys) : ignoreCase_(keys == JsonKeys::ignoringCase) {}
  std::string found;
  bool null() override { return element(); }
  bool boolean(bool) override { return element(); }
  bool number_integer(number_integer_t) override { return element(); }
  bool number_unsigned(number_unsigned_t) override { return element(); }
  bool number_float(number_float_t, const string_t&) override { return element(); }
  bool string(string_t&) override { return element(); }
  bool binary(binary_t&) override { return element(); }
  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& name) override {
    Level& level = levels_.back();
    level.current = name;
    if (level.keys.insert(ignoreCase_ ? lowerCase(name) : name).second) return true;
    found = path();
    return false;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
  struct Level {
    bool object;
    std::set<std::string> keys;
    std::string current;
    size_t elements = 0;
  };
  bool element() {
    if (!levels_.empty() && !levels_.back().object) ++levels_.back().elements;
    return true;
  }
  bool open(bool object) {
    element();
    levels_.push_back(Level{object, {}, {}, 0});
    return true;
  }
  bool close() {
    levels_.pop_back();
    return true;
  }
  // Slots and plan rows counted from 1, as the window and the plan's problems name them.
  std::string path() const {
    std::string out;
    for (size_t i = 0; i < levels_.size(); ++i) {
      const Level& level = levels_[i];
      if (level.object) out += (out.empty() ? "" : ".") + level.current;
      else if (i == 0) out = "row " + std::to_string(level.elements);
      else if (out == "slots") out = "slot " + std::to_string(level.elements);
      else out += "[" + std::to_string(level.elements - 1) + "]";
    }
    return out;
  }
  bool ignoreCase_;
  std::vector<Level> levels_;
};

template <typename Json>
bool parseAny(const std::string& text, Json& root, std::string& error, JsonKeys keys) {
  try {
    root = Json::parse(text);
  } catch (const json::parse_error& e) {
    // Byte positions are what the user can look up; the library's own text says the rest.
    error = "not valid JSON (byte " + std::to_string(e.byte) + "): " + reasonOf(e);
    return false;
  } catch (const json::exception& e) {
    error = "not valid JSON: " + reasonOf(e);
    return false;
  }
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    error = "not valid JSON (byte " + std::to_string(nul + 1) + "): a NUL byte, then " +
            std::to_string(text.size() - nul - 1) + " more bytes";
    return false;
  }
  DuplicateKeys duplicates(keys);
  if (!json::sax_parse(text, &duplicates) && !duplicates.found.empty()) {
    error = duplicates.found + ": given twice";
    return false;
  }
  return true;
}

// A copy whose every string and key is printable text, so that the library cannot refuse it.
ordered_json printable(const ordered_json& value) {
  if (value.is_string()) return printableText(value.get_ref<const std::string&>());
  if (value.is_array()) {
    ordered_json out = ordered_json::array();
    for (const ordered_json& item : value) out.push_back(printable(item));
    return out;
  }
  if (value.is_object()) {
    ordered_json out = ordered_json::object();
    for (const auto& item : value.items()) out[printableText(item.key())] = printable(item.value());
    return out;
  }
  return value;
}

}  // namespace

bool parseJsonText(const std::string& text, json& root, std::string& error, JsonKeys keys) {
  return parseAny(text, root, error, keys);
}

bool parseJsonText(const std::string& text, ordered_json& root, std::string& error, JsonKeys keys) {
  return parseAny(text, root, error, keys);
}

std::string jsonDocumentText(const ordered_json& value) {
  // Every string is valid UTF-8 by now; the handler is only a guard that can never abort.
  return printable(value).dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}
