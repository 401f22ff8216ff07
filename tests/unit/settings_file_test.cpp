// Settings files: what is accepted, what is refused with which field and reason, how they are written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codec/key_list.h"
#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "settings/site_plan.h"
#include "settings/site_report.h"
#ifndef _WIN32
#include "tests/support/file_kinds.h"
#endif
#include "tests/support/read_text.h"
#include "text/config_file.h"
#include "text/key_source.h"

namespace {

const std::string dataDir = std::string(QUARN_SOURCE_DIR) + "/tests/data/settings/";

TEST(SettingsFile, GoodFileReadsAndWritesBackTheSameText) {
  SettingsFile settings;
  std::string error;
  ASSERT_TRUE(readSettingsFile(dataDir + "good.json", settings, error)) << error;
  EXPECT_TRUE(settings.wiredPresent && settings.optionsPresent);
  EXPECT_EQ(settings.wired.protocol, 4);
  EXPECT_EQ(settings.wired.mode, 2);
  EXPECT_EQ(settings.slots[1].deviceId, "87654321");
  EXPECT_EQ(settings.slots[1].wirelessMode, 3);
  EXPECT_EQ(settings.slots[2].wirelessProtocol, 7);
  EXPECT_EQ(settings.slots[3].wiredAddress, "250");
  EXPECT_TRUE(settings.options[2]);
  EXPECT_FALSE(settings.options[1]);
  EXPECT_EQ(settingsText(settings), readText(dataDir + "good.json"));
}

struct BadFile {
  const char* name;
  const char* expected;  // a piece of the error: the field path and the reason
};

class BadSettingsFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadSettingsFile, IsRefusedNamingFileFieldAndReason) {
  SettingsFile settings;
  std::string error;
  const std::string path = dataDir + "bad/" + GetParam().name;
  EXPECT_FALSE(readSettingsFile(path, settings, error));
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  EXPECT_NE(error.find(GetParam().expected), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadSettingsFile,
    ::testing::Values(BadFile{"empty.json", "empty file"}, BadFile{"not-json.json", "not valid JSON (byte 1)"},
                      BadFile{"truncated.json", "not valid JSON"},
                      BadFile{"future-version.json", "formatVersion: 2 is newer than this program reads (1)"},
                      BadFile{"wrong-type.json", "slot 2.wiredAddress: expected a whole number 0 to 250, got string"},
                      BadFile{"out-of-range.json", "slot 2.wiredAddress: out of range: 251 (allowed 0 to 250)"},
                      BadFile{"bad-hex.json", "slot 2.deviceId: not a hex digit: 'G'"},
                      BadFile{"unknown-key.json", "slot 2.colour: unknown field"},
                      BadFile{"unknown-name.json", "slot 2.wirelessMode: unknown name \"DES MODE2\""},
                      BadFile{"number-overflow.json", "not valid JSON: number overflow"}),
    [](const ::testing::TestParamInfo<BadFile>& param) {
      std::string name = param.param.name;
      std::string out;
      for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return out;
    });

struct BadText {
  std::string text;
  const char* expected;
};

void PrintTo(const BadText& bad, std::ostream* out) { *out << bad.expected; }

class BadSettingsText : public ::testing::TestWithParam<BadText> {};

TEST_P(BadSettingsText, IsRefused) {
  SettingsFile settings;
  std::string error;
  EXPECT_FALSE(parseSettingsText(GetParam().text, settings, error));
  EXPECT_NE(error.find(GetParam().expected), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadSettingsText,
    ::testing::Values(
        BadText{"[]", "expected an object, got array"},
        BadText{R"({"formatVersion":1})", "format: missing"},
        BadText{R"({"format":"other","formatVersion":1})", "format: not a Quarn settings file"},
        BadText{R"({"format":"quarn-settings","formatVersion":"1"})", "formatVersion: expected a whole number"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"extra":0})", "extra: unknown field"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"wired":{"protocol":"OMS"}})", "wired.mode: missing"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"wired":{"protocol":"OMS","mode":"MODE 9"}})",
                "wired.mode: unknown name"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"options":{"option3":true}})",
                "options.unencryptedWiredConfig: missing"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"slots":{}})", "slots: expected a list"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"slots":[{"slot":1}]})", "slot 1.active: missing"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"slots":[]})" "x", "not valid JSON"},
        // One meaning only: a key twice, bytes after a NUL, a second list of slots.
        BadText{R"({"format":"quarn-settings","format":"quarn-settings","formatVersion":1})", "format: given twice"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"slots":[{},{"slot":2,"slot":3}]})",
                "slot 2.slot: given twice"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"slots":[],"slots":[]})", "slots: given twice"},
        BadText{R"({"format":"quarn-settings","formatVersion":1,"wired":{"mode":"MODE 1","mode":"MODE 2"}})",
                "wired.mode: given twice"},
        BadText{{"{\"format\":\"quarn-settings\",\"formatVersion\":1}\0{}", 48}, "(byte 46): a NUL byte, then 2 more"},
        // Numbers past 2^63 as written, never wrapped to -1.
        BadText{R"({"format":"quarn-settings","formatVersion":18446744073709551615})",
                "formatVersion: 18446744073709551615 is newer"},
        // Bytes from the file reach terminals and the log escaped.
        BadText{"{\"format\":\"quarn-settings\",\"formatVersion\":1,\"\xE9x\":0}", "last read: '\"\\xE9x'"}));

TEST(SettingsFile, SlotsWithoutWiredSettingsAreRefused) {
  std::string text = readText(dataDir + "good.json");
  const size_t from = text.find("  \"wired\"");
  const size_t to = text.find("  \"options\"");
  text.erase(from, to - from);
  SettingsFile settings;
  std::string error;
  EXPECT_FALSE(parseSettingsText(text, settings, error));
  EXPECT_EQ(error, "wired: missing (every slot write carries it)");
}

TEST(SettingsFile, NumbersPastTwoToTheSixtyThreeAreShownAsWritten) {
  std::string text = readText(dataDir + "good.json");
  const size_t at = text.find("\"wiredAddress\": ") + 16;
  text.replace(at, text.find_first_of(",\n", at) - at, "18446744073709551615");
  SettingsFile settings;
  std::string error;
  EXPECT_FALSE(parseSettingsText(text, settings, error));
  EXPECT_EQ(error, "slot 1.wiredAddress: out of range: 18446744073709551615 (allowed 0 to 250)");
}

TEST(SettingsFile, LowerCaseHexIsTakenAndWrittenUpper) {
  std::string text = readText(dataDir + "good.json");
  text.replace(text.find("B0B1B2B3"), 8, "b0b1b2b3");
  SettingsFile settings;
  std::string error;
  ASSERT_TRUE(parseSettingsText(text, settings, error)) << error;
  EXPECT_EQ(settings.slots[0].kek, "B0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF");
}

// File modes, umask and sparse files are POSIX matters.
#ifndef _WIN32
class TempFolder : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarn-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  std::string dir;
};

TEST_F(TempFolder, WrittenFileIsPrivateWhateverTheUmask) {
  SettingsFile settings;
  std::string error;
  ASSERT_TRUE(readSettingsFile(dataDir + "good.json", settings, error)) << error;
  const mode_t before = umask(0);
  const bool written = writeSettingsFile(dir + "/out.json", settings, error);
  umask(before);
  ASSERT_TRUE(written) << error;
  struct stat info {};
  ASSERT_EQ(stat((dir + "/out.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(readText(dir + "/out.json"), readText(dataDir + "good.json"));
}

// ---- every reader of a file the user names or keeps, against every kind of entry ----

const std::string someKey = "000102030405060708090A0B0C0D0E0F";

struct Reader {
  const char* name;
  std::string content;                    // what a good file holds
  bool (*taken)(const std::string& path);  // whether the reader took the entry at path
};

void PrintTo(const Reader& reader, std::ostream* out) { *out << reader.name; }

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// A key list entry beside a good file: the good one always loads, the entry only when regular.
template <typename List, typename Find>
bool keyListTakes(const std::string& path, Find find) {
  auto list = std::make_unique<List>();
  list->count = 0;
  loadKeyList(folderOf(path).c_str(), *list);
  const uint8_t good[4] = {0, 0, 0, 1}, odd[4] = {0, 0, 0, 2};
  EXPECT_NE(find(*list, good), nullptr);
  return find(*list, odd) != nullptr;
}

const Reader readers[] = {
    {"Quarnconfig_txt", "first\n" + someKey + "\n",
     [](const std::string& path) {
       ConfigFile config;
       readConfigFile(path.c_str(), config);
       return config.configLoaded && config.configLine2 == someKey;
     }},
    {"dongleKeys", "b;00000002;" + someKey + "\n",
     [](const std::string& path) {
       return keyListTakes<ConverterKeyList>(
           path, [](const ConverterKeyList& l, const uint8_t* id) { return findConverterKey(l, id); });
     }},
    {"meterKeys", "b;00000002;" + someKey + "\n",
     [](const std::string& path) {
       return keyListTakes<MeterKeyList>(path,
                                         [](const MeterKeyList& l, const uint8_t* id) { return findMeterKeys(l, id); });
     }},
    {"settings_file", readText(dataDir + "good.json"),
     [](const std::string& path) {
       SettingsFile settings;
       std::string error;
       return readSettingsFile(path, settings, error);
     }},
    {"site_plan", "converter\n12345678\n",
     [](const std::string& path) {
       auto plan = std::make_unique<SitePlan>();
       readSitePlanFile(path, *plan);
       return plan->problems.empty() && plan->count == 1;
     }},
    {"site_report", R"({"converters":[]})",
     [](const std::string& path) {
       std::vector<SiteReportEntry> entries;
       std::string error;
       return readSiteReportFile(path, entries, error);
     }},
    {"key_file", someKey + "\n",
     [](const std::string& path) {
       std::string key, error;
       return commandLineKey("", path, nullptr, key, error) && key == someKey;
     }},
};

class InputFileKinds : public ::testing::TestWithParam<Reader> {};

// Only a regular file is read; a FIFO, a device, a directory or a link to one is refused without
// waiting (a hang ends the test by SIGALRM).
TEST_P(InputFileKinds, OnlyRegularFilesAreTakenAndNoneHangs) {
  const Reader& reader = GetParam();
  for (const FileKind& kind : allFileKinds) {
    SCOPED_TRACE(kind.name);
    char pattern[] = "/tmp/quarn-reader-kind-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::ofstream(dir + "/good") << "a;00000001;" + someKey + "\n";
    const std::string path = dir + "/entry";
    ASSERT_TRUE(kind.make(path, reader.content));
    // A key file must be its owner's alone; chmod on a link would reach its target.
    if (std::string(kind.name) == "regular file") chmod(path.c_str(), 0600);
    {
      ReadDeadline deadline(10);
      EXPECT_EQ(reader.taken(path), kind.loads());
    }
    ASSERT_EQ(std::system(("chmod -R u+rwx '" + dir + "'; rm -rf '" + dir + "'").c_str()), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, InputFileKinds, ::testing::ValuesIn(readers),
                         [](const ::testing::TestParamInfo<Reader>& p) { return std::string(p.param.name); });

#endif

struct FieldCase {
  const char* name;
  const char* value;
  bool accepted;
  const char* expected;  // error piece, or the field's text after acceptance
};

class CommandLineField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CommandLineField, IsCheckedAsInAFile) {
  SlotFields slot;
  WiredSettings wired;
  std::string error;
  const FieldCase& c = GetParam();
  EXPECT_EQ(setSettingsField(c.name, c.value, slot, wired, error), c.accepted) << error;
  if (!c.accepted) {
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    return;
  }
  const std::string name = c.name;
  std::string got = name == "deviceId" ? slot.deviceId
                    : name == "wiredAddress" ? slot.wiredAddress
                    : name == "active" ? (slot.active ? "true" : "false")
                    : name == "wiredMode" ? std::to_string(wired.mode)
                    : name == "wirelessProtocol" ? std::to_string(slot.wirelessProtocol)
                                                 : slot.manufacturer;
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CommandLineField,
    ::testing::Values(FieldCase{"deviceId", "abcdef01", true, "ABCDEF01"},
                      FieldCase{"deviceId", "1234", false, "deviceId: expected 8 hex digits"},
                      FieldCase{"wiredAddress", "250", true, "250"},
                      FieldCase{"wiredAddress", "251", false, "wiredAddress: out of range: 251 (allowed 0 to 250)"},
                      FieldCase{"wiredAddress", "-1", false, "wiredAddress: expected a whole number 0 to 250"},
                      FieldCase{"active", "1", true, "true"},
                      FieldCase{"active", "yes", false, "active: expected true or false"},
                      FieldCase{"wiredMode", "DES MODE3", true, "9"},
                      FieldCase{"wirelessProtocol", "RAW WMBUS", true, "11"},
                      FieldCase{"manufacturer", "KAM", true, "KAM"},
                      FieldCase{"manufacturer", "kam", false, "manufacturer: expected three letters"},
                      FieldCase{"colour", "red", false, "colour: unknown field"},
                      FieldCase{"slot", "2", false, "slot: the slot is chosen on the command line"}));

TEST(OptionBits, DigitsAndNames) {
  bool bits[optionCount] = {true, true, true, true, true, true, true, true};
  std::string error;
  ASSERT_TRUE(parseOptionBits("10100000", bits, error));
  const bool digits[optionCount] = {true, false, true, false, false, false, false, false};
  for (int i = 0; i < optionCount; ++i) EXPECT_EQ(bits[i], digits[i]) << i;
  ASSERT_TRUE(parseOptionBits("option8=1,unencryptedWiredConfig=0", bits, error)) << error;
  EXPECT_FALSE(bits[0]);
  EXPECT_TRUE(bits[2]);
  EXPECT_TRUE(bits[7]);
  EXPECT_FALSE(parseOptionBits("option9=1", bits, error));
  EXPECT_NE(error.find("\"option9=1\""), std::string::npos) << error;
  EXPECT_FALSE(parseOptionBits("option3=2", bits, error));
  EXPECT_EQ(error, "options.option3: expected 0 or 1, got \"2\"");
  EXPECT_TRUE(bits[7]);  // a refused text changes nothing
}



// ---- site reports read back (--resume): every field's type, never half understood ----

struct BadReport {
  const char* name;
  std::string text;
  const char* error;
};

void PrintTo(const BadReport& c, std::ostream* out) { *out << c.name; }

class BadSiteReport : public ::testing::TestWithParam<BadReport> {};

TEST_P(BadSiteReport, IsRefusedNamingTheField) {
  std::vector<SiteReportEntry> entries;
  std::string error;
  EXPECT_FALSE(parseSiteReportText(GetParam().text, entries, error));
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, BadSiteReport,
    ::testing::Values(
        BadReport{"statusANumber", R"({"converters":[{"converter":"12345678","status":5}]})",
                  "converters[0].status: expected text, got number"},
        BadReport{"verifiedAText", R"({"converters":[{"converter":"1","status":"done","verified":"yes"}]})",
                  "converters[0].verified: expected true or false, got string"},
        BadReport{"converterMissing", R"({"converters":[{"status":"done"}]})", "converters[0].converter: missing"},
        BadReport{"writtenOfNumbers", R"({"converters":[{"converter":"1","status":"done","written":[1]}]})",
                  "converters[0].written: expected a list of texts"},
        BadReport{"entryAList", R"({"converters":[[]]})", "converters[0]: expected an object, got array"},
        BadReport{"noList", R"({"converters":{}})", "converters: expected a list, got object"},
        BadReport{"keyTwice", R"({"converters":[{"converter":"1","status":"done","status":"failed"}]})",
                  "converters[0].status: given twice"},
        BadReport{"bytesAfter", R"({"converters":[]} x)", "not valid JSON (byte 19): parse error at line 1, column 19: syntax error while parsing value - invalid "
                  "literal; last read: '\"converters\":[]} x'; expected end of input"}),
    [](const ::testing::TestParamInfo<BadReport>& p) { return std::string(p.param.name); });

TEST(SiteReport, DoneEntriesCarryTheirWholeEntry) {
  std::vector<SiteReportEntry> entries;
  std::string error;
  ASSERT_TRUE(parseSiteReportText(
      R"({"converters":[{"converter":"2A00B017","status":"done","verified":true,"row":3,"written":["slot 1"]}]})",
      entries, error))
      << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].converter, "2A00B017");
  EXPECT_TRUE(entries[0].verified);
  EXPECT_EQ(entries[0].entry["written"][0], "slot 1");
}

// The one printer: any byte in any string or key, and the document still prints.
TEST(JsonDocument, BytesThatAreNotUtf8AndControlsPrintAsHexText) {
  nlohmann::ordered_json value = {{"file\xE9", std::string("a\xFF\x1B[2J\xC2\x9B") + '\0' + "end"}};
  EXPECT_EQ(jsonDocumentText(value), "{\n  \"file\\\\xE9\": \"a\\\\xFF\\\\x1B[2J\\\\xC2\\\\x9B\\\\x00end\"\n}\n");
}

}  // namespace
