// Site plans, good and bad, read and checked against the shipped example key folders and ports
// made here (a link to a listed port, links that point nowhere or to what is no port).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec/key_list.h"
#include "settings/settings_file.h"
#include "settings/site_check.h"
#include "settings/site_plan.h"

namespace {

const char* const header = "converter,link,key,wiredAddress,slot1,slot2,slot3,slot4\n";
const char* const ownKey = "00112233445566778899AABBCCDDEEFF";

struct Folder {
  std::string path;
  Folder() {
    char tmpl[] = "/tmp/quarn-site-plan-XXXXXX";
    path = mkdtemp(tmpl);
    // The port search's listing is the judge of what a port is: here it lists one path.
    close(open((path + "/ttyLISTED").c_str(), O_WRONLY | O_CREAT, 0600));
    close(open((path + "/plain-file").c_str(), O_WRONLY | O_CREAT, 0600));
    EXPECT_EQ(symlink((path + "/ttyLISTED").c_str(), (path + "/usb-present").c_str()), 0);
    EXPECT_EQ(symlink((path + "/unplugged").c_str(), (path + "/usb-gone").c_str()), 0);
  }
  ~Folder() { std::system(("rm -rf " + path).c_str()); }
};

// The shipped example key folders, loaded as quarn-cli loads them.
struct ExampleKeys {
  std::unique_ptr<ConverterKeyList> converterKeys = std::make_unique<ConverterKeyList>();
  std::unique_ptr<MeterKeyList> meterKeys = std::make_unique<MeterKeyList>();
  SiteCheckInputs inputs;
  ExampleKeys() {
    converterKeys->count = meterKeys->count = 0;
    loadKeyList(QUARN_SOURCE_DIR "/dongleKeys", *converterKeys);
    loadKeyList(QUARN_SOURCE_DIR "/meterKeys", *meterKeys);
    inputs.converterKeys = converterKeys.get();
    inputs.meterKeys = meterKeys.get();
  }
};

struct PlanCase {
  const char* name;
  std::string text;  // "$DIR" stands for the folder with the port links
  size_t rows;
  std::vector<std::string> problems;  // each problem's text begins with its entry, in order
  const char* templateText = nullptr;
};

// Test names, not bytes, in gtest's messages.
void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

std::string rows(int count) {
  std::string text = header;
  for (int i = 0; i < count; ++i) {
    char line[96];
    // No key: past the bound the rows are not checked, so no row says its key is missing.
    std::snprintf(line, sizeof line, "%08X,,,,,,,\n", 0x10000000u + unsigned(i));
    text += line;
  }
  return text;
}

const std::vector<PlanCase>& planCases() {
  static const std::vector<PlanCase> cases = {
      {"bomCrLfQuotesBlankLinesAndTrailingEmptyColumns",
       "\xEF\xBB\xBF" "converter,link,key,slot1,slot2,,\r\n\r\n\"12345678\",\"wireless\",,\"87654321\",,,\r\n"
       ",,,,,,\r\n2a00b017 , $DIR/usb-present ," + std::string(ownKey) + ",12345678\r\n",
       2, {}},
      {"semicolonsAndColumnsInAnyOrder",
       "slot2;Converter;wiredAddress;key\n87654321;\"12345678\";\"10\";\n", 1, {}},
      {"jsonList",
       R"([{"converter": "12345678", "slot1": "87654321", "wiredAddress": 7},
           {"converter": "2A00B017", "key": ")" + std::string(ownKey) + R"(", "link": null}])",
       2, {}},
      {"unknownAndRepeatedColumnsRowsStillChecked",
       "converter,colour,slot1,SLOT1\n1234567,red,87654321,\n", 1,
       {"row 1, colour (column B): unknown column", "row 1, SLOT1 (column D): column given twice",
        "row 2, converter (column A): expected 8 hex digits, got 7"}},
      {"valuesPastTheNamedColumnsAndAfterQuotes",
       std::string(header) + "12345678,,,,,,,,stray\n2A00B017,\"wireless\"x\n", 1,
       {"row 2, column I: value in a column without a name", "row 3, column B: text after a closing quote"}},
      {"quoteInsideAValueAndOneNeverClosed",
       "converter,slot1\n12\"345678,\n12345678,\"87654321\n", 0,
       {"row 2, column A: quote inside an unquoted value", "row 3, column B: quote opened here is never closed"}},
      {"sevenAndNineDigitIdsAndBadCells",
       std::string(header) + "123456789,serial,12,251,8765432G,,,\n", 1,
       {"row 2, converter (column A): expected 8 hex digits, got 9", "row 2, key (column C): expected 32 hex digits",
        "row 2, wiredAddress (column D): expected a whole number 0 to 250",
        "row 2, slot1 (column E): not a hex digit: 'G'", "row 2, link (column B): port serial not found"}},
      {"duplicateConvertersAndMetersInTwoSlots",
       std::string(header) + "12345678,,,,87654321,87654321,,\n12345678,,,,,,,87654321\n", 2,
       {"row 2, slot2 (column F): meter 87654321 already planned in this row's slot1",
        "row 3, converter (column A): converter 12345678 already planned in row 2",
        "row 3, slot4 (column H): meter 87654321 already planned in row 2, slot1 (converter 12345678)"}},
      {"missingKeysAndPorts",
       std::string(header) + "99999999,$DIR/usb-gone,,,11111111,,,\n2A00B017,ttyNOWHERE," + ownKey +
           ",,,,,\n2A00B018,$DIR/no-such-link," + ownKey + ",,,,,\n",
       3,
       {"row 2, key (column C): no converter key for 99999999",
        "row 2, slot1 (column E): no meter key for 11111111 in meterKeys/",
        "row 2, link (column B): $DIR/usb-gone: points nowhere ($DIR/unplugged is missing",
        "row 3, link (column B): port ttyNOWHERE not found", "row 4, link (column B): $DIR/no-such-link: no such port"}},
      {"linksToWhatIsNoSerialPort",
       "converter,key,link\n12345678,,/dev/null\n2A00B017," + std::string(ownKey) + ",/dev/tty\n2A00B018," + ownKey +
           ",$DIR/plain-file\n",
       3,
       {"row 2, link (column C): /dev/null: not a serial port", "row 3, link (column C): /dev/tty: not a serial port",
        "row 4, link (column C): $DIR/plain-file: not a serial port"}},
      {"keyColumnMissingNamesNoLetter", "converter\n99999999\n", 1, {"row 2, key: no converter key for 99999999"}},
      {"leadingApostropheKeepsAValueText", "converter,slot1\n'12345678,'87654321\n", 1, {}},
      {"jsonKeyTwice", R"([{"converter": "2A00B017", "converter": "12345678"}])", 0, {"row 1.converter: given twice"}},
      {"jsonKeyTwiceInAnotherCase", R"([{"converter": "2A00B017", "KEY": "", "key": ""}])", 0, {"row 1.key: given twice"}},
      {"jsonNulAndTrailingBytes", std::string("[{\"converter\": \"2A00B017\"}]\0x", 30), 0, {"not valid JSON (byte 28): a NUL byte, then 2 more bytes"}},
      {"wiredAddressesRunPast250AndATemplateWithoutWired",
       std::string(header) + "12345678,,,249,,,87654321,\n", 1,
       {"template: no wired settings", "template: no slot to take",
        "row 2, wiredAddress (column D): slot3 would get wired address 251"},
       R"({"format": "quarn-settings", "formatVersion": 1})"},
      {"noHeaderRow", "12345678,wireless,,,87654321\n", 0, {"row 1: no header row"}},
      {"noConverterColumnAndNoRows", "slot1,link\n\n", 0, {"row 1: no converter column"}},
      {"headerOnly", header, 0, {"no converters in the plan"}},
      {"utf16", std::string("\xFF\xFE" "c\0o\0", 6), 0, {"UTF-16 text"}},
      {"jsonOfTheWrongShape", R"([{"converter": 12345678, "slot5": "1"}, 3])", 2,
       {"row 1, converter: expected a string", "row 1, slot5: unknown field", "row 2: expected an object"}},
      {"brokenJsonSaysWhere", R"([{"converter": "12345678",])", 0, {"not valid JSON (byte 27): parse error at line 1, column 27"}},
      {"moreRowsThanTheBound", rows(int(sitePlanRowLimit) + 1), sitePlanRowLimit, {"more than 1000 converters"}},
  };
  return cases;
}

std::string replaced(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir);
  return text;
}

class SitePlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(SitePlanTable, ReadAndChecked) {
  const PlanCase& c = GetParam();
  Folder ports;
  ExampleKeys keys;
  SiteCheckInputs& inputs = keys.inputs;
  inputs.portPaths = {ports.path + "/ttyLISTED"};
  SettingsFile settingsTemplate;
  std::string error;
  if (c.templateText != nullptr) {
    ASSERT_TRUE(parseSettingsText(c.templateText, settingsTemplate, error)) << error;
    inputs.settingsTemplate = &settingsTemplate;
  }
  auto plan = std::make_unique<SitePlan>();
  parseSitePlanText(replaced(c.text, ports.path), *plan);
  checkSitePlan(*plan, inputs);
  EXPECT_EQ(plan->count, c.rows);
  std::string all;
  for (const SitePlanProblem& p : plan->problems) all += sitePlanProblemText(p) + "\n";
  ASSERT_EQ(plan->problems.size(), c.problems.size()) << all;
  for (size_t i = 0; i < c.problems.size(); ++i)
    EXPECT_EQ(sitePlanProblemText(plan->problems[i]).rfind(replaced(c.problems[i], ports.path), 0), 0u) << all;
}

INSTANTIATE_TEST_SUITE_P(Plans, SitePlanTable, ::testing::ValuesIn(planCases()),
                         [](const ::testing::TestParamInfo<PlanCase>& param) { return std::string(param.param.name); });

TEST(SitePlan, GoodRowsHoldWhatTheCellsSaid) {
  auto plan = std::make_unique<SitePlan>();
  parseSitePlanText(planCases()[0].text, *plan);
  ASSERT_EQ(plan->count, 2u);
  const SitePlanRow& first = plan->rows[0];
  EXPECT_EQ(first.row, 3);  // the header is line 1, a blank line 2
  EXPECT_STREQ(first.converter, "12345678");
  EXPECT_STREQ(first.link, "");  // "wireless"
  EXPECT_STREQ(first.slots[0], "87654321");
  EXPECT_EQ(first.wiredAddress, -1);
  const SitePlanRow& second = plan->rows[1];
  EXPECT_EQ(second.row, 5);
  EXPECT_STREQ(second.converter, "2A00B017");
  EXPECT_STREQ(second.link, "$DIR/usb-present");
  EXPECT_STREQ(second.key, ownKey);
  EXPECT_STREQ(second.slots[1], "");
}

TEST(SitePlan, KeysComeFromTheRowThenKeyThenListsThenConfig) {
  ExampleKeys keys;
  SiteCheckInputs& inputs = keys.inputs;
  SitePlanRow row;
  std::snprintf(row.converter, sizeof row.converter, "12345678");
  std::string key;
  EXPECT_EQ(siteConverterKey(row, inputs, key), SiteKeySource::dongleKeys);
  EXPECT_EQ(key, "000102030405060708090A0B0C0D0E0F");
  inputs.forcedKey = "ffeeddccbbaa99887766554433221100";
  EXPECT_EQ(siteConverterKey(row, inputs, key), SiteKeySource::commandLine);
  EXPECT_EQ(key, "FFEEDDCCBBAA99887766554433221100");
  std::snprintf(row.key, sizeof row.key, "%s", ownKey);
  EXPECT_EQ(siteConverterKey(row, inputs, key), SiteKeySource::plan);
  SitePlanRow other;
  std::snprintf(other.converter, sizeof other.converter, "99999999");
  inputs.forcedKey.clear();
  inputs.configKey = "not a key";
  EXPECT_EQ(siteConverterKey(other, inputs, key), SiteKeySource::none);
  inputs.configKey = ownKey;
  EXPECT_EQ(siteConverterKey(other, inputs, key), SiteKeySource::configFile);
}

TEST(SitePlan, HugeFilesAndTenThousandRowsAreRefusedAtTheBound) {
  Folder dir;
  const std::string path = dir.path + "/huge.csv";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 100 * 1000 * 1000), 0);  // sparse: nothing is written
  close(fd);
  auto plan = std::make_unique<SitePlan>();
  readSitePlanFile(path, *plan);
  ASSERT_EQ(plan->problems.size(), 1u);
  EXPECT_EQ(sitePlanProblemText(plan->problems[0]), "too large (100000000 bytes; a site plan is at most 1048576)");
  parseSitePlanText(rows(10000), *plan);
  EXPECT_EQ(plan->count, sitePlanRowLimit);
  ASSERT_EQ(plan->problems.size(), 1u);
}

// What site export writes reads back as the same values, and no cell starts a formula.
TEST(SitePlan, ExportedLinesReadBackAsTheyWereAndRunNothing) {
  const std::vector<std::string> links = {"/dev/serial/a,=1+2", "=HYPERLINK(\"http://x\")", "+1", "-2", "@SUM(A1)",
                                          "'quoted", "semi;colon", "two \"quotes\"", "ttyUSB0"};
  std::string text = sitePlanCsvLine({"converter", "link", "key", "wiredAddress", "slot1", "slot2", "slot3", "slot4"});
  for (size_t i = 0; i < links.size(); ++i)
    text += sitePlanCsvLine({"1234567" + std::to_string(i), links[i], "", "5", "87654321", "", "", ""});
  auto plan = std::make_unique<SitePlan>();
  parseSitePlanText(text, *plan);
  ASSERT_TRUE(plan->problems.empty()) << sitePlanProblemText(plan->problems[0]) << "\n" << text;
  ASSERT_EQ(plan->count, links.size());
  for (size_t i = 0; i < links.size(); ++i) EXPECT_EQ(plan->rows[i].link, links[i]);
  // No cell starts with what a spreadsheet runs; a comma inside quotes is text, not a new cell.
  EXPECT_EQ(sitePlanCsvLine({"+1", "-2", "@SUM(A1)", "'x", "a,=1+2"}), "'+1,'-2,'@SUM(A1),''x,\"a,=1+2\"\n");
  EXPECT_EQ(sitePlanCsvLine({"=HYPERLINK(\"x\")"}), "\"'=HYPERLINK(\"\"x\"\")\"\n");
  EXPECT_EQ(sitePlanCsvLine({"\tcmd", "\rcmd", "a\nb"}), "'\tcmd,\"'\rcmd\",\"a\nb\"\n");
}

TEST(SitePlan, ShippedExampleChecksCleanAgainstTheExampleKeys) {
  ExampleKeys keys;
  auto plan = std::make_unique<SitePlan>();
  readSitePlanFile(QUARN_SOURCE_DIR "/examples/site-plan.csv", *plan);
  checkSitePlan(*plan, keys.inputs);
  EXPECT_EQ(plan->count, 2u);
  EXPECT_TRUE(plan->problems.empty()) << sitePlanProblemText(plan->problems[0]);
}

}  // namespace
