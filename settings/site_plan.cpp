// Site plans: the CSV and JSON readers and the check of every cell, all problems collected.
#include "settings/site_plan.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <nlohmann/json.hpp>

#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "text/hex_text.h"

using nlohmann::json;

const char* const sitePlanColumnNames[sitePlanColumnCount] = {
    "converter", "link", "key", "wiredAddress", "slot1", "slot2", "slot3", "slot4"};

namespace {

constexpr const char* wirelessLink = "wireless";

bool sameIgnoringCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int columnOf(const std::string& name) {
  for (int c = 0; c < sitePlanColumnCount; ++c)
    if (sameIgnoringCase(name, sitePlanColumnNames[c])) return c;
  return -1;
}

std::string columnList() {
  std::string list;
  for (const char* name : sitePlanColumnNames) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

std::string shown(const std::string& text) {
  return "\"" + (text.size() > 40 ? text.substr(0, 40) + "..." : text) + "\"";
}

// Checks hex text of exactly digits digits into dest (upper case, NUL-terminated).
bool takeHex(const std::string& value, size_t digits, char* dest, std::string& reason) {
  if (value.size() != digits) {
    reason = "expected " + std::to_string(digits) + " hex digits, got " + std::to_string(value.size()) +
             " characters " + shown(value);
    return false;
  }
  for (char c : value)
    if (!isHexDigit(c)) {
      reason = "not a hex digit: '" + std::string(1, c) + "' in " + shown(value);
      return false;
    }
  for (size_t i = 0; i < digits; ++i) dest[i] = char(std::toupper(static_cast<unsigned char>(value[i])));
  dest[digits] = '\0';
  return true;
}

bool takeLink(const std::string& value, char* dest, std::string& reason) {
  if (value.empty() || sameIgnoringCase(value, wirelessLink)) return true;
  if (value.size() >= sitePlanLinkCapacity) {
    reason = "longer than " + std::to_string(sitePlanLinkCapacity - 1) + " characters";
    return false;
  }
  for (char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      reason = "control character in the port " + shown(value);
      return false;
    }
  std::memcpy(dest, value.c_str(), value.size() + 1);
  return true;
}

bool takeWiredAddress(const std::string& value, int& dest, std::string& reason) {
  if (value.empty()) return true;
  if (value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(value) > sitePlanMaxWiredAddress) {
    reason = "expected a whole number 0 to " + std::to_string(sitePlanMaxWiredAddress) + ", got " + shown(value);
    return false;
  }
  dest = std::stoi(value);
  return true;
}

// One value into its field of the row; a refused value leaves the field empty.
void takeCell(SitePlan& plan, SitePlanRow& row, int column, int cell, const std::string& value) {
  std::string reason;
  bool ok = true;
  if (column == columnConverter) {
    if (value.empty()) reason = "missing: every row names its converter (8 hex digits)";
    ok = !value.empty() && takeHex(value, 8, row.converter, reason);
  } else if (column == columnLink) {
    ok = takeLink(value, row.link, reason);
  } else if (column == columnKey) {
    ok = value.empty() || takeHex(value, 32, row.key, reason);
  } else if (column == columnWiredAddress) {
    ok = takeWiredAddress(value, row.wiredAddress, reason);
  } else {
    ok = value.empty() || takeHex(value, 8, row.slots[column - columnSlot1], reason);
  }
  if (!ok) addSitePlanProblem(plan, row.row, sitePlanColumnNames[column], cell, reason);
}

// True when the row may take one more; otherwise the plan is refused as a whole.
bool roomForRow(SitePlan& plan) {
  if (plan.count < sitePlanRowLimit) return true;
  plan.overBound = true;
  addSitePlanProblem(plan, 0, "", -1,
                     "more than " + std::to_string(sitePlanRowLimit) + " converters; split the site into several plans");
  return false;
}

// ---- CSV ----

// Put before a value a spreadsheet would otherwise run as a formula.
constexpr char inertMark = '\'';

struct CsvRecord {
  int line = 0;
  std::vector<std::string> fields;
};

enum class CsvEnd { record, end, refused };

struct CsvReader {
  const std::string& text;
  size_t pos;
  int line;
  char delimiter;
};

bool atLineEnd(const CsvReader& r) {
  return r.pos >= r.text.size() || r.text[r.pos] == '\n' || r.text[r.pos] == '\r';
}

void skipBlanks(CsvReader& r) {
  while (r.pos < r.text.size() && (r.text[r.pos] == ' ' || r.text[r.pos] == '\t')) ++r.pos;
}

// Past the end of the current line.
void skipLine(CsvReader& r) {
  while (!atLineEnd(r)) ++r.pos;
  if (r.pos < r.text.size() && r.text[r.pos] == '\r') ++r.pos;
  if (r.pos < r.text.size() && r.text[r.pos] == '\n') ++r.pos;
  ++r.line;
}

// A quoted value from its opening quote on; "" stands for one quote, line ends are kept.
bool quotedValue(CsvReader& r, std::string& value) {
  ++r.pos;
  for (;;) {
    if (r.pos >= r.text.size()) return false;
    const char c = r.text[r.pos++];
    if (c == '"') {
      if (r.pos < r.text.size() && r.text[r.pos] == '"') {
        value += '"';
        ++r.pos;
        continue;
      }
      return true;
    }
    if (c == '\n') ++r.line;
    value += c;
  }
}

// The next record; a refused one is reported and skipped to its line end.
CsvEnd nextRecord(CsvReader& r, SitePlan& plan, CsvRecord& record) {
  record.fields.clear();
  record.line = r.line;
  if (r.pos >= r.text.size()) return CsvEnd::end;
  for (;;) {
    std::string value;
    skipBlanks(r);
    if (r.pos < r.text.size() && r.text[r.pos] == '"') {
      if (!quotedValue(r, value)) {
        addSitePlanProblem(plan, record.line, "", int(record.fields.size()), "quote opened here is never closed");
        r.pos = r.text.size();
        return CsvEnd::refused;
      }
      skipBlanks(r);
      if (!atLineEnd(r) && r.text[r.pos] != r.delimiter) {
        addSitePlanProblem(plan, record.line, "", int(record.fields.size()), "text after a closing quote");
        skipLine(r);
        return CsvEnd::refused;
      }
    } else {
      while (!atLineEnd(r) && r.text[r.pos] != r.delimiter) {
        if (r.text[r.pos] == '"') {
          addSitePlanProblem(plan, record.line, "", int(record.fields.size()),
                             "quote inside an unquoted value (quote the whole value)");
          skipLine(r);
          return CsvEnd::refused;
        }
        value += r.text[r.pos++];
      }
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    }
    record.fields.push_back(value);
    if (r.pos < r.text.size() && r.text[r.pos] == r.delimiter) {
      ++r.pos;
      continue;
    }
    skipLine(r);
    return CsvEnd::record;
  }
}

bool blankRecord(const CsvRecord& record) {
  for (const std::string& value : record.fields)
    if (!value.empty()) return false;
  return true;
}

// The header line decides: whichever of "," and ";" it uses more.
char detectDelimiter(const std::string& text, size_t from) {
  size_t commas = 0, semicolons = 0;
  for (size_t i = from; i < text.size() && text[i] != '\n'; ++i) {
    commas += text[i] == ',';
    semicolons += text[i] == ';';
  }
  return semicolons > commas ? ';' : ',';
}

constexpr int unnamedColumn = -1;
constexpr int refusedColumn = -2;  // unknown or repeated: reported once in the header

// Maps each CSV column to a plan column; false when no row can be read (no header row, or no
// converter column). Unknown and repeated columns are reported and their values left unread.
bool readHeader(const CsvRecord& header, SitePlan& plan, std::vector<int>& columns) {
  // A first line without a single column name is a row of data: say that, not each name.
  if (std::none_of(header.fields.begin(), header.fields.end(), [](const std::string& name) { return columnOf(name) >= 0; })) {
    addSitePlanProblem(plan, header.line, "", -1, "no header row: the first line names the columns (" + columnList() + ")");
    return false;
  }
  for (size_t i = 0; i < header.fields.size(); ++i) {
    const std::string& name = header.fields[i];
    int column = columnOf(name);
    if (name.empty()) {
      column = unnamedColumn;
    } else if (column < 0) {
      addSitePlanProblem(plan, header.line, name, int(i), "unknown column; the columns are " + columnList());
      column = refusedColumn;
    } else if (std::find(columns.begin(), columns.end(), column) != columns.end()) {
      addSitePlanProblem(plan, header.line, name, int(i), "column given twice");
      column = refusedColumn;
    }
    columns.push_back(column);
  }
  if (std::find(columns.begin(), columns.end(), int(columnConverter)) == columns.end()) {
    addSitePlanProblem(plan, header.line, "", -1, "no converter column");
    return false;
  }
  return true;
}

void parseCsv(const std::string& text, size_t from, SitePlan& plan) {
  CsvReader reader{text, from, 1, detectDelimiter(text, from)};
  CsvRecord record;
  CsvEnd end;
  // The header is the first line that is not blank.
  while ((end = nextRecord(reader, plan, record)) == CsvEnd::record && blankRecord(record)) {
  }
  if (end == CsvEnd::end) return addSitePlanProblem(plan, 0, "", -1, "empty plan: no header row");
  std::vector<int> columns;
  if (end == CsvEnd::refused || !readHeader(record, plan, columns)) return;
  while ((end = nextRecord(reader, plan, record)) != CsvEnd::end) {
    if (end == CsvEnd::refused || blankRecord(record)) continue;
    if (!roomForRow(plan)) return;
    SitePlanRow& row = plan.rows[plan.count++];
    row = SitePlanRow{};
    row.row = record.line;
    // Spreadsheets leave out empty values at a row's end: those count as empty.
    const size_t cells = std::max(record.fields.size(), columns.size());
    for (size_t i = 0; i < cells; ++i) {
      std::string value = i < record.fields.size() ? record.fields[i] : std::string();
      if (!value.empty() && value[0] == inertMark) value.erase(0, 1);
      const int column = i < columns.size() ? columns[i] : unnamedColumn;
      if (column >= 0) row.cells[column] = int(i);
      if (column >= 0) takeCell(plan, row, column, int(i), value);
      // Spreadsheets also export empty columns past the table; a value there is a mistake.
      else if (column == unnamedColumn && !value.empty())
        addSitePlanProblem(plan, row.row, "", int(i), "value in a column without a name");
    }
  }
}

// ---- JSON ----

void parseJson(const std::string& text, SitePlan& plan) {
  json root;
  std::string error;
  // Column names match without regard to case, so "KEY" and "key" are one column given twice.
  if (!parseJsonText(text, root, error, JsonKeys::ignoringCase)) return addSitePlanProblem(plan, 0, "", -1, error);
  if (!root.is_array()) return addSitePlanProblem(plan, 0, "", -1, "expected a list of converters");
  for (size_t i = 0; i < root.size(); ++i) {
    if (!roomForRow(plan)) return;
    const json& item = root[i];
    SitePlanRow& row = plan.rows[plan.count++];
    row = SitePlanRow{};
    row.row = int(i + 1);
    if (!item.is_object()) {
      addSitePlanProblem(plan, row.row, "", -1, std::string("expected an object, got ") + item.type_name());
      continue;
    }
    bool hadConverter = false;
    for (const auto& field : item.items()) {
      const int column = columnOf(field.key());
      hadConverter = hadConverter || column == columnConverter;
      if (column < 0) {
        addSitePlanProblem(plan, row.row, field.key(), -1, "unknown field; the fields are " + columnList());
        continue;
      }
      const json& value = field.value();
      if (value.is_string()) takeCell(plan, row, column, -1, value.get<std::string>());
      else if (value.is_null()) takeCell(plan, row, column, -1, "");
      else if (column == columnWiredAddress && value.is_number_unsigned()) takeCell(plan, row, column, -1, value.dump());
      else addSitePlanProblem(plan, row.row, field.key(), -1, std::string("expected a string, got ") + value.type_name());
    }
    if (!hadConverter) takeCell(plan, row, columnConverter, -1, "");
  }
}

}  // namespace

void addSitePlanProblem(SitePlan& plan, int row, const std::string& column, int cell, const std::string& reason) {
  if (plan.problems.size() >= sitePlanProblemLimit) {
    ++plan.problemsDropped;
    return;
  }
  plan.problems.push_back(SitePlanProblem{row, column, cell, reason});
}

void addSitePlanRowProblem(SitePlan& plan, const SitePlanRow& row, int column, const std::string& reason) {
  addSitePlanProblem(plan, row.row, sitePlanColumnNames[column], row.cells[column], reason);
}

void parseSitePlanText(const std::string& text, SitePlan& plan) {
  plan.count = 0;
  plan.overBound = false;
  plan.problems.clear();
  plan.problemsDropped = 0;
  if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0)
    return addSitePlanProblem(plan, 0, "", -1, "UTF-16 text; save the plan as UTF-8 (CSV UTF-8)");
  const size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const size_t first = text.find_first_not_of(" \t\r\n", bom);
  if (first != std::string::npos && text[first] == '[') return parseJson(text.substr(bom), plan);
  parseCsv(text, bom, plan);
}

void readSitePlanFile(const std::string& path, SitePlan& plan) {
  std::string text, error;
  if (!readBoundedTextFile(path, sitePlanByteLimit, "site plan", text, error)) {
    parseSitePlanText("", plan);
    plan.problems.clear();
    const std::string lead = path + ": ";
    return addSitePlanProblem(plan, 0, "", -1, error.compare(0, lead.size(), lead) == 0 ? error.substr(lead.size()) : error);
  }
  parseSitePlanText(text, plan);
}

std::string sitePlanCsvLine(const std::vector<std::string>& values) {
  std::string line;
  for (size_t i = 0; i < values.size(); ++i) {
    std::string value = values[i];
    if (!value.empty() && std::strchr("=+-@\t\r'", value[0]) != nullptr) value.insert(value.begin(), inertMark);
    if (value.find_first_of(",;\"\r\n") != std::string::npos) {
      std::string quoted = "\"";
      for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
      value = quoted + "\"";
    }
    line += (i ? "," : "") + value;
  }
  return line + "\n";
}

std::string sitePlanProblemText(const SitePlanProblem& problem) {
  std::string where;
  if (problem.row > 0) where = "row " + std::to_string(problem.row);
  if (!problem.column.empty()) where += (where.empty() ? "" : ", ") + problem.column;
  if (problem.cell >= 0) {
    // Spreadsheet column letters: A..Z, AA..
    std::string letters;
    for (int n = problem.cell + 1; n > 0; n = (n - 1) / 26) letters.insert(letters.begin(), char('A' + (n - 1) % 26));
    where += problem.column.empty() ? ", column " + letters : " (column " + letters + ")";
  }
  return where.empty() ? problem.reason : where + ": " + problem.reason;
}
