// Manufacturer key lists: the forms accepted, each refusal with its line, the written key-list
// text read back by the key-list loader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "codec/key_list.h"
#include "settings/key_import.h"
#include "tests/support/temp_folder.h"

namespace {

const std::string keyA = "000102030405060708090A0B0C0D0E0F";
const std::string keyB = "F0E1D2C3B4A5968778695A4B3C2D1E0F";

TEST(KeyImport, ReadsCsvAndSemicolonListsWithHeaderSpacesAndQuotes) {
  const std::string text = "Meter ID,Key,KEK\r\n"
                           "12345678," + keyA + "\r\n"
                           "\"87654321\" ; 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ; " + keyB + "\n"
                           "# a comment\n\n"
                           "12345678," + keyA + ",\n"
                           "ABCDEF01\t" + keyB;
  const KeyImport import = readKeyImport(text);
  ASSERT_TRUE(import.problems.empty()) << import.problems[0].reason;
  EXPECT_TRUE(import.headerSkipped);
  ASSERT_EQ(import.entries.size(), 3u);
  EXPECT_EQ(import.entries[1].line, 3u);
  EXPECT_TRUE(import.entries[1].hasSecond);
  EXPECT_EQ(import.entries[1].firstKey[10], 0x0A);
  EXPECT_EQ(import.repeatedLines, std::vector<uint32_t>{6});

  // What is written loads back through the key-list loader with the same bytes.
  TempFolder folder("quarn-key-import");
  ASSERT_FALSE(folder.path().empty());
  std::ofstream((folder.path() / "keys.txt").string()) << keyImportText(import);
  std::unique_ptr<MeterKeyList> list(new MeterKeyList());
  list->count = 0;
  loadKeyList(folder.path().string().c_str(), *list);
  ASSERT_EQ(list->count, 3u);
  const uint8_t id[4] = {0x87, 0x65, 0x43, 0x21};
  const MeterKeyEntry* entry = findMeterKeys(*list, id);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->firstKey[15], 0x0F);
  EXPECT_EQ(entry->secondKey[0], 0xF0);
}

struct RefusalCase {
  const char* name;
  std::string text;
  uint32_t line;
  const char* reason;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

const RefusalCase refusalCases[] = {
    {"BadHex", "12345678;" + keyA.substr(0, 31) + "G\n", 1, "first key: not hex"},
    {"ShortKey", "12345678;" + keyA.substr(0, 30) + "\n", 1, "first key: 30 hex digits, expected 32"},
    {"ThirdKey", "12345678;" + keyA + ";" + keyB + ";" + keyA + "\n", 1,
     "a third key (or more fields): a meter has at most two"},
    {"ShortId", "id;key\n1234567;" + keyA + "\n", 2, "ID: 7 hex digits, expected 8"},
    {"BadFirstRowIsNoHeader", "1234567;" + keyA + "\n", 1, "ID: 7 hex digits, expected 8"},
    {"IdOnly", "12345678;" + keyA + "\n87654321\n", 2, "expected an ID and one or two keys"},
    {"DuplicateWithOtherKeys", "12345678;" + keyA + "\n12345678;" + keyB + "\n", 2,
     "ID given on line 1 with other keys"},
    {"Bom", "\xEF\xBB\xBF" "12345678;" + keyA + "\n", 0,
     "begins with a UTF-8 byte order mark: save it as plain text without one"},
    {"Utf16", std::string("\xFF\xFE" "1\0" "2\0", 6), 0, "UTF-16 text: save it as plain ASCII or UTF-8 text"},
    {"Nul", std::string("12345678;\0", 10) + keyA, 0, "holds NUL bytes (UTF-16 or not text): save it as plain text"},
    {"Empty", "# nothing\n", 0, "no key in it"},
};

class KeyImportRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(KeyImportRefusals, SaysWhichLineAndWhy) {
  const KeyImport import = readKeyImport(GetParam().text);
  ASSERT_EQ(import.problems.size(), 1u);
  EXPECT_EQ(import.problems[0].line, GetParam().line);
  EXPECT_EQ(import.problems[0].reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Table, KeyImportRefusals, ::testing::ValuesIn(refusalCases),
                         [](const ::testing::TestParamInfo<RefusalCase>& param) { return std::string(param.param.name); });

TEST(KeyImport, ListedIdsWithTheSameKeysAreLeftOutAndOtherKeysConflict) {
  KeyImport import = readKeyImport("12345678;" + keyA + "\n87654321;" + keyA + "\n11111111;" + keyB + "\n");
  std::unique_ptr<MeterKeyList> listed(new MeterKeyList());
  listed->count = 2;
  const uint8_t same[4] = {0x12, 0x34, 0x56, 0x78};
  const uint8_t other[4] = {0x87, 0x65, 0x43, 0x21};
  listed->entries[0] = MeterKeyEntry{};
  listed->entries[1] = MeterKeyEntry{};
  std::memcpy(listed->entries[0].id, same, 4);
  for (int i = 0; i < 16; ++i) listed->entries[0].firstKey[i] = uint8_t(i);
  std::memcpy(listed->entries[1].id, other, 4);
  std::vector<KeyImportConflict> conflicts;
  std::vector<ImportedKey> alreadyListed;
  compareKeyImport(import, *listed, conflicts, alreadyListed);
  ASSERT_EQ(alreadyListed.size(), 1u);
  EXPECT_EQ(alreadyListed[0].line, 1u);
  ASSERT_EQ(conflicts.size(), 1u);
  EXPECT_EQ(conflicts[0].line, 2u);
  ASSERT_EQ(import.entries.size(), 1u);
  EXPECT_EQ(import.entries[0].line, 3u);
}

TEST(KeyImport, IntoNamesStayInTheFolder) {
  std::string error;
  EXPECT_TRUE(keyImportNameAllowed("vendor-2026.txt", error));
  for (const char* bad : {"", ".hidden", "../x", "a/b", "a b", "a\\b"}) {
    EXPECT_FALSE(keyImportNameAllowed(bad, error)) << bad;
  }
}

}  // namespace
