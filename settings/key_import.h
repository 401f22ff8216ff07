// A manufacturer's meter key list (CSV or ";" lists of ID and one or two keys) read for
// meterKeys/: every line checked, nothing half-taken.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/key_list.h"

struct ImportedKey {
  uint32_t line = 0;
  uint8_t id[4] = {};  // as printed, most significant first
  uint8_t firstKey[16] = {};
  uint8_t secondKey[16] = {};
  bool hasSecond = false;
};

struct KeyImportProblem {
  uint32_t line = 0;  // 0: the file as a whole
  std::string reason;
};

struct KeyImport {
  std::vector<ImportedKey> entries;
  std::vector<KeyImportProblem> problems;  // any one refuses the whole import
  std::vector<uint32_t> repeatedLines;     // the same ID and keys again: taken once
  bool headerSkipped = false;
};

// Lines of ID, key and optional second key separated by ";", "," or tabs (quotes and spaces
// around fields ignored, hex with or without spaces inside, either case); blank lines and "#"
// comments skipped; a first line that is no such row is taken as a header. Refused: a byte order
// mark, UTF-16 or NUL bytes (the whole file), and per line bad hex, a wrong digit count, a third
// key, and an ID given again with other keys.
KeyImport readKeyImport(const std::string& text);

// Against the meter keys already listed: an ID listed with the same keys is left out of the
// import (its line goes to alreadyListed); one listed with other keys is a conflict.
struct KeyImportConflict {
  uint32_t line = 0;
  ImportedKey imported;
  MeterKeyEntry listed;
};

void compareKeyImport(KeyImport& import, const MeterKeyList& listed, std::vector<KeyImportConflict>& conflicts,
                      std::vector<ImportedKey>& alreadyListed);

// The key-list lines of the import in meterKeys/ format: a comment, then "import-LINE;ID;KEY[;KEY]".
std::string keyImportText(const KeyImport& import);

// Whether name is a plain file name for meterKeys/ (no folder, not hidden, printable ASCII).
bool keyImportNameAllowed(const std::string& name, std::string& error);
