// Site plans: one row per converter (its ID, link, key, wired address and four meters) read from
// CSV or JSON, with every problem of the file found in one pass.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// A site is tens of converters, a large one a few hundred; these bounds are far above that and
// keep a wrong file (a whole export, a log) from being read: larger files are refused unread,
// and reading stops at the first row past the row bound.
constexpr size_t sitePlanByteLimit = 1024 * 1024;
constexpr size_t sitePlanRowLimit = 1000;
// Problems listed at most; the rest are counted.
constexpr size_t sitePlanProblemLimit = 200;
constexpr size_t sitePlanLinkCapacity = 256;  // 255 characters and a NUL
constexpr int sitePlanSlotCount = 4;
constexpr int sitePlanMaxWiredAddress = 250;

enum SitePlanColumn {
  columnConverter, columnLink, columnKey, columnWiredAddress, columnSlot1, columnSlot2, columnSlot3,
  columnSlot4, sitePlanColumnCount
};
// Header names in column order: "converter", "link", "key", "wiredAddress", "slot1" ... "slot4".
extern const char* const sitePlanColumnNames[sitePlanColumnCount];

struct SitePlanRow {
  int row = 0;                          // CSV: the file line it starts on; JSON: its place, from 1
  char converter[9] = {};               // 8 hex digits, upper case; empty when refused
  char link[sitePlanLinkCapacity] = {}; // port name or device path; empty: over the air
  char key[33] = {};                    // 32 hex digits, upper case; empty: from the key lists
  int wiredAddress = -1;                // 0..250; -1: the template's
  char slots[sitePlanSlotCount][9] = {};  // meter Device IDs; empty: slot left inactive
  int cells[sitePlanColumnCount] = {-1, -1, -1, -1, -1, -1, -1, -1};  // CSV column index of each column; -1: none
};

struct SitePlanProblem {
  int row = 0;         // 0: the file as a whole
  std::string column;  // header name, or empty
  int cell = -1;       // CSV column index from 0 (shown as A, B, ...); -1: none
  std::string reason;
};

// Large: keep it on the heap.
struct SitePlan {
  SitePlanRow rows[sitePlanRowLimit];
  size_t count = 0;
  bool overBound = false;  // more rows than the bound: refused as a whole, rows not checked
  std::vector<SitePlanProblem> problems;  // in the order found, at most sitePlanProblemLimit
  size_t problemsDropped = 0;
};

void addSitePlanProblem(SitePlan& plan, int row, const std::string& column, int cell, const std::string& reason);
// A problem of one of a row's columns, named by name and, in CSV, by its letter.
void addSitePlanRowProblem(SitePlan& plan, const SitePlanRow& row, int column, const std::string& reason);

// Parses a plan. JSON when the first character past a UTF-8 BOM and blanks is "[", else CSV.
// CSV: comma or semicolon (the one the header row uses), RFC 4180 quotes, LF or CR LF, blank
// lines and rows of empty values skipped, a header row naming the columns in any order. JSON: a
// list of objects with the same names, values as strings (wiredAddress also as a number). A CSV
// value's leading apostrophe is dropped: spreadsheets and site export use it to keep a value text.
// Problems go into plan.problems; rows with problems are kept with the refused fields empty.
void parseSitePlanText(const std::string& text, SitePlan& plan);

// Reads and parses a file; a file that cannot be read is one problem of row 0 (without the
// path, which the caller shows).
void readSitePlanFile(const std::string& path, SitePlan& plan);

// One CSV line of a plan (comma-separated, ending in a line end) that parseSitePlanText reads
// back as the same values: a value holding a comma, a semicolon, a quote or a line end is quoted
// (RFC 4180), and one that a spreadsheet would run as a formula (starting with =, +, -, @, a tab
// or a CR) or that starts with an apostrophe gets a leading apostrophe, which the reader drops.
std::string sitePlanCsvLine(const std::vector<std::string>& values);

// "row 5, slot2 (column F): reason", "row 5, slot2: reason" or just the reason for row 0.
std::string sitePlanProblemText(const SitePlanProblem& problem);
