// Manufacturer key lists: the line format, the whole-file refusals, and the meterKeys/ text.
#include "settings/key_import.h"

#include <cstring>

#include "text/hex_text.h"

namespace {

constexpr size_t idDigits = 8;
constexpr size_t keyDigits = 32;
constexpr size_t maxFields = 3;

std::string trimmed(const std::string& text) {
  size_t from = 0, to = text.size();
  while (from < to && (text[from] == ' ' || text[from] == '\t' || text[from] == '"')) ++from;
  while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t' || text[to - 1] == '"' || text[to - 1] == '\r')) --to;
  return text.substr(from, to - from);
}

std::vector<std::string> fields(const std::string& line) {
  char separator = ',';
  if (line.find(';') != std::string::npos) separator = ';';
  else if (line.find(',') == std::string::npos) separator = '\t';
  std::vector<std::string> out;
  size_t from = 0;
  for (;;) {
    const size_t at = line.find(separator, from);
    out.push_back(trimmed(line.substr(from, at == std::string::npos ? std::string::npos : at - from)));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  while (!out.empty() && out.back().empty()) out.pop_back();  // trailing separators
  return out;
}

// Hex digits with spaces allowed between them; false with why for anything else or a wrong count.
bool hexField(const std::string& text, size_t digits, uint8_t* out, const char* what, std::string& why) {
  std::string compact;
  for (char c : text) {
    if (c == ' ') continue;
    if (!isHexDigit(c)) {
      why = std::string(what) + ": not hex";
      return false;
    }
    compact += c;
  }
  if (compact.size() != digits) {
    why = std::string(what) + ": " + std::to_string(compact.size()) + " hex digits, expected " + std::to_string(digits);
    return false;
  }
  hexTextToBytes(compact.c_str(), out, digits / 2);
  return true;
}

bool parseRow(const std::vector<std::string>& row, ImportedKey& key, std::string& why) {
  if (row.size() < 2) {
    why = "expected an ID and one or two keys";
    return false;
  }
  if (row.size() > maxFields) {
    why = "a third key (or more fields): a meter has at most two";
    return false;
  }
  if (!hexField(row[0], idDigits, key.id, "ID", why)) return false;
  if (!hexField(row[1], keyDigits, key.firstKey, "first key", why)) return false;
  key.hasSecond = row.size() == 3 && !row[2].empty();
  return !key.hasSecond || hexField(row[2], keyDigits, key.secondKey, "second key", why);
}

bool wordsOnlyHex(const std::string& text) {
  for (char c : text)
    if (c != ' ' && !isHexDigit(c)) return false;
  return true;
}

bool sameKeys(const ImportedKey& a, const uint8_t* first, const uint8_t* second) {
  return std::memcmp(a.firstKey, first, 16) == 0 && std::memcmp(a.secondKey, second, 16) == 0;
}

// Refusals of the file as a whole: encodings this reader would misread line by line.
bool wholeFileRefused(const std::string& text, KeyImport& out) {
  const auto starts = [&text](const char* mark) { return text.compare(0, std::strlen(mark), mark) == 0; };
  std::string reason;
  if (starts("\xEF\xBB\xBF")) reason = "begins with a UTF-8 byte order mark: save it as plain text without one";
  else if (starts("\xFF\xFE") || starts("\xFE\xFF")) reason = "UTF-16 text: save it as plain ASCII or UTF-8 text";
  else if (text.find('\0') != std::string::npos) reason = "holds NUL bytes (UTF-16 or not text): save it as plain text";
  if (reason.empty()) return false;
  out.problems.push_back({0, reason});
  return true;
}

}  // namespace

KeyImport readKeyImport(const std::string& text) {
  KeyImport out;
  if (wholeFileRefused(text, out)) return out;
  uint32_t lineNumber = 0;
  bool firstRow = true;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = trimmed(text.substr(from, end - from));
    from = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    ImportedKey key;
    key.line = lineNumber;
    std::string why;
    const std::vector<std::string> row = fields(line);
    const bool parsed = parseRow(row, key, why);
    // A header names its columns in words; a first row of digits that fails is a bad row.
    const bool header = firstRow && !parsed && !row.empty() && !wordsOnlyHex(row[0]);
    firstRow = false;
    if (header) {
      out.headerSkipped = true;
      continue;
    }
    if (!parsed) {
      out.problems.push_back({lineNumber, why});
      continue;
    }
    bool repeated = false;
    for (const ImportedKey& earlier : out.entries) {
      if (std::memcmp(earlier.id, key.id, 4) != 0) continue;
      repeated = true;
      if (sameKeys(earlier, key.firstKey, key.secondKey)) {
        out.repeatedLines.push_back(lineNumber);
      } else {
        out.problems.push_back({lineNumber, "ID given on line " + std::to_string(earlier.line) + " with other keys"});
      }
      break;
    }
    if (!repeated) out.entries.push_back(key);
  }
  if (out.entries.empty() && out.problems.empty()) out.problems.push_back({0, "no key in it"});
  return out;
}

void compareKeyImport(KeyImport& import, const MeterKeyList& listed, std::vector<KeyImportConflict>& conflicts,
                      std::vector<ImportedKey>& alreadyListed) {
  std::vector<ImportedKey> kept;
  for (const ImportedKey& key : import.entries) {
    const MeterKeyEntry* entry = findMeterKeys(listed, key.id);
    if (entry == nullptr) {
      kept.push_back(key);
    } else if (sameKeys(key, entry->firstKey, entry->secondKey)) {
      alreadyListed.push_back(key);
    } else {
      conflicts.push_back({key.line, key, *entry});
    }
  }
  import.entries = kept;
}

std::string keyImportText(const KeyImport& import) {
  std::string text = "# meter keys imported by quarn-cli keys import: label;ID;first key;second key\n";
  for (const ImportedKey& key : import.entries) {
    char id[9], first[33], second[33];
    bytesToHexText(key.id, 4, id);
    keyToHexText(key.firstKey, first);
    text += "import-" + std::to_string(key.line) + ";" + id + ";" + first;
    if (key.hasSecond) {
      keyToHexText(key.secondKey, second);
      text += std::string(";") + second;
    }
    text += "\n";
  }
  return text;
}

bool keyImportNameAllowed(const std::string& name, std::string& error) {
  if (name.empty() || name[0] == '.') {
    error = "--into: a file name that does not begin with \".\"";
    return false;
  }
  for (char c : name) {
    if (c == '/' || c == '\\' || c < 0x21 || c > 0x7E) {
      error = "--into: a plain file name (no folder, no spaces or control characters)";
      return false;
    }
  }
  return true;
}
