// The real quarn-cli checking site plans (exit codes, the listing of every problem, JSON), and the
// rules every command shares, each as one table over the commands: key sources, JSON output of
// bytes that are not UTF-8, and escaping of what files hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "tests/support/read_text.h"

namespace {

struct Home {
  std::string path;
  Home() {
    char tmpl[] = "/tmp/quarn-cli-rules-XXXXXX";
    path = mkdtemp(tmpl);
    std::system(("cp -R " QUARN_SOURCE_DIR "/dongleKeys " QUARN_SOURCE_DIR "/meterKeys " + path + " && chmod -R go-rwx " +
                 path).c_str());
  }
  ~Home() { std::system(("rm -rf " + path).c_str()); }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path + "/" + name, std::ios::binary) << text;
    return path + "/" + name;
  }
};

struct Result {
  int exitCode = -1;
  std::string out, err;
};

// Runs quarn-cli through the shell, bounded so that a command that blocks fails (exit 124)
// instead of stalling the run; HOME in arguments stands for the home folder.
Result siteCheck(const Home& home, std::string arguments) {
  for (size_t at; (at = arguments.find("HOME")) != std::string::npos;) arguments.replace(at, 4, home.path);
  const std::string out = home.path + "/out.txt", err = home.path + "/err.txt";
  const int status = std::system(("timeout 20 " + std::string(QUARN_CLI_PATH) + " --home " + home.path + " " +
                                  arguments + " >" + out + " 2>" + err).c_str());
  return Result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
}

const std::string goodTemplate = QUARN_SOURCE_DIR "/tests/data/settings/good.json";
const char* const someKey = "000102030405060708090A0B0C0D0E0F";

TEST(SiteCheckCli, EveryProblemListedAndExitTwo) {
  Home home;
  const std::string plan = home.write(
      "plan.csv", "converter;link;slot1;slot2\n1234567;wireless;87654321;\n12345678;" + home.path +
                      "/by-id-gone;87654321;11111111\n");
  Result result = siteCheck(home, "site check " + plan);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.out.empty()) << result.out;
  const std::string p = "quarn-cli: " + plan + ": ";
  EXPECT_EQ(result.err, p + "row 2, converter (column A): expected 8 hex digits, got 7 characters \"1234567\"\n" +
                            p + "row 3, slot1 (column C): meter 87654321 already planned in row 2, slot1\n" +
                            p + "row 3, slot2 (column D): no meter key for 11111111 in meterKeys/\n" +
                            p + "row 3, link (column B): " + home.path + "/by-id-gone: no such port\n" +
                            "quarn-cli: site plan refused: 4 problems; nothing was sent\n");
  result = siteCheck(home, "--json site check " + plan);
  EXPECT_EQ(result.exitCode, 2);
  const nlohmann::json out = nlohmann::json::parse(result.out);
  EXPECT_EQ(out["ok"], false);
  EXPECT_EQ(out["exitCode"], 2);
  ASSERT_EQ(out["problems"].size(), 4u);
  EXPECT_EQ(out["problems"][3]["row"], 3);
  EXPECT_EQ(out["problems"][3]["column"], "link");
}

TEST(SiteCheckCli, GoodPlanWithTemplateListsItsConverters) {
  Home home;
  const Result result = siteCheck(home, "--template " QUARN_SOURCE_DIR "/tests/data/settings/good.json site check "
                                        QUARN_SOURCE_DIR "/examples/site-plan.csv");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("2     12345678  dongleKeys       wireless          87654321"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("2 converters, 2 meters: IDs, keys and ports found, template fits"), std::string::npos)
      << result.out;
  const Result usage = siteCheck(home, "site revert x.csv");
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_EQ(usage.err, "quarn-cli: site check|apply|verify|export|report|survey PLAN\n");
  const Result noTemplate = siteCheck(home, "site apply " QUARN_SOURCE_DIR "/examples/site-plan.csv");
  EXPECT_EQ(noTemplate.exitCode, 2);
  EXPECT_EQ(noTemplate.err, "quarn-cli: site apply needs --template FILE for what the plan's columns leave out\n");
}

// ---- key sources: one table over every command that takes a converter key ----

struct KeySource {
  const char* name;
  std::string args;   // HOME: the home folder
  bool accepted;
  const char* err;    // a piece of standard error
};

struct KeyCommand {
  const char* name;
  std::string args;   // PLAN: a plan whose converter is in no key list
  int acceptedExit;   // the exit code once the key is taken (no port or stick here)
};

const KeySource keySources[] = {
    {"key_file_fifo", "--key-file HOME/fifo.key", false, "--key-file HOME/fifo.key: not a regular file"},
    {"key_file_device", "--key-file /dev/zero", false, "--key-file /dev/zero: not a regular file"},
    {"key_file_open", "--key-file HOME/open.key", false, "other accounts can read it (chmod 600"},
    {"key_file_own", "--key-file HOME/own.key", true, ""},
    {"key_stdin", "--key - <HOME/own.key", true, ""},
    {"key_bad", "--key 0123", false, "--key: expected the converter key as 32 hex digits"},
    {"key_and_key_file", std::string("--key ") + someKey + " --key-file HOME/own.key", false, "exclude each other"},
    {"key_folder_open", std::string("--key ") + someKey, true, "HOME/dongleKeys is readable by other users"},
};

const KeyCommand keyCommands[] = {
    {"get", "--port /nonexistent/ttyX get 1", 3},
    {"options", "--port /nonexistent/ttyX options get", 3},
    {"export", "--port /nonexistent/ttyX export HOME/exported.json", 3},
    {"site_check", "site check PLAN", 0},
    {"site_apply", "--template " + goodTemplate + " site apply PLAN", 3},
    {"site_verify", "site verify PLAN", 3},
};

void PrintTo(const KeySource& source, std::ostream* out) { *out << source.name; }
void PrintTo(const KeyCommand& command, std::ostream* out) { *out << command.name; }

class KeySources : public ::testing::TestWithParam<std::tuple<KeySource, KeyCommand>> {};

TEST_P(KeySources, EveryCommandTakesTheSameSourcesAndRefusesTheSame) {
  const KeySource& source = std::get<0>(GetParam());
  const KeyCommand& command = std::get<1>(GetParam());
  Home home;
  mkfifo((home.path + "/fifo.key").c_str(), 0600);
  chmod(home.write("open.key", std::string(someKey) + "\n").c_str(), 0644);
  chmod(home.write("own.key", std::string(someKey) + "\n").c_str(), 0600);
  if (std::string(source.name) == "key_folder_open") chmod((home.path + "/dongleKeys").c_str(), 0755);
  const std::string plan = home.write("plan.csv", "converter,slot1\n99999999,87654321\n");
  std::string args = source.args + " " + command.args;
  if (args.find("PLAN") != std::string::npos) args.replace(args.find("PLAN"), 4, plan);
  const Result result = siteCheck(home, args);
  EXPECT_EQ(result.exitCode, source.accepted ? command.acceptedExit : 2) << result.err;
  std::string err = source.err;
  for (size_t at; (at = err.find("HOME")) != std::string::npos;) err.replace(at, 4, home.path);
  EXPECT_NE(result.err.find(err), std::string::npos) << result.err;
  if (source.accepted && command.acceptedExit == 0) {
    EXPECT_NE(result.out.find("99999999  --key"), std::string::npos) << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, KeySources, ::testing::Combine(::testing::ValuesIn(keySources), ::testing::ValuesIn(keyCommands)),
    [](const ::testing::TestParamInfo<std::tuple<KeySource, KeyCommand>>& p) {
      return std::string(std::get<0>(p.param).name) + "_" + std::get<1>(p.param).name;
    });

// ---- what files hold, escaped in every message and as \xNN in JSON; a NUL never cuts a message ----

struct HostileFile {
  const char* name;
  const char* file;
  std::string content;
  std::string args;   // FILE: the file above
  int exitCode;
  const char* shown;  // a piece of standard error (and with --json, of the JSON's texts)
};

void PrintTo(const HostileFile& c, std::ostream* out) { *out << c.name; }

class HostileFiles : public ::testing::TestWithParam<HostileFile> {};

// Bytes a terminal would act on: C0 controls (a line end only ends a line), DEL, C1 controls in
// UTF-8 and bytes that are not UTF-8.
bool steersTerminal(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if ((b < 0x20 && b != '\n') || b == 0x7F || b >= 0x80) return true;
  }
  return false;
}

TEST_P(HostileFiles, AreRefusedWithEveryByteShown) {
  const HostileFile& c = GetParam();
  Home home;
  std::string args = c.args;
  const std::string path = home.write(c.file, c.content);
  for (size_t at; (at = args.find("FILE")) != std::string::npos;) args.replace(at, 4, path);
  const Result result = siteCheck(home, args);
  EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
  EXPECT_NE(result.err.find(c.shown), std::string::npos) << result.err;
  EXPECT_FALSE(steersTerminal(result.err)) << result.err;
  if (args.rfind("--json", 0) == 0) {
    const nlohmann::json out = nlohmann::json::parse(result.out, nullptr, false);
    ASSERT_TRUE(out.is_object()) << result.out;
    EXPECT_EQ(out.value("exitCode", 0), c.exitCode);
    const std::string quoted = nlohmann::json(c.shown).dump();  // the piece as JSON writes it
    EXPECT_NE(out.dump().find(quoted.substr(1, quoted.size() - 2)), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("\xEF\xBF\xBD"), std::string::npos) << "never U+FFFD: " << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HostileFiles,
    ::testing::Values(
        HostileFile{"json_cell", "p.csv", "converter\n1234567\xE9\n", "--json site check FILE", 2, "1234567\\xE9"},
        HostileFile{"json_file_name", "p.csv", "", "--json site check FILE\xE9", 2, "p.csv\\xE9"},
        HostileFile{"json_template_name", "p.csv", "converter\n12345678\n",
                    "--json --template FILE\xE9 site apply FILE", 2, "p.csv\\xE9"},
        HostileFile{"json_link", "p.csv", "converter,link\n12345678,tty\xE9\n", "--json site verify FILE", 2,
                    "tty\\xE9"},
        HostileFile{"json_port", "k", "", std::string("--json --key ") + someKey + " --port FILE/tty\xE9 get 1", 3,
                    "tty\\xE9"},
        HostileFile{"json_settings_name", "s", "", "--json --port /nonexistent/ttyX apply FILE\xE9", 2, "s\\xE9"},
        HostileFile{"title_sequence", "e.csv", "converter,\x1B]0;owned\x07\n", "site check FILE", 2,
                    "row 1, \\x1B]0;owned\\x07 (column B): unknown column"},
        HostileFile{"line_end_in_quotes", "n.csv", "converter\n\"1234\n5678\"\n", "site check FILE", 2,
                    "\"1234\\x0A5678\""},
        HostileFile{"byte_ff_and_c1", "c.csv", "converter,link\n12345678,tty\xFF\xC2\x9B\n", "site check FILE", 2,
                    "tty\\xFF\\xC2\\x9B"},
        HostileFile{"nul_in_a_cell", "z.csv", std::string("converter\n12") + '\0' + "45678\n", "site check FILE", 2,
                    "in \"12\\x0045678\""},
        HostileFile{"nul_in_a_settings_value", "s.json",
                    R"({"format":"quarn-settings","formatVersion":1,"wired":{"protocol":"x\u0000after","mode":"y"}})",
                    "--port /nonexistent/ttyX apply FILE", 2, "x\\x00after"},
        HostileFile{"report_field_of_the_wrong_type", "r.json", R"({"converters":[{"converter":"12345678","status":5}]})",
                    std::string("--key ") + someKey + " --template " + goodTemplate + " --resume FILE site apply " +
                        QUARN_SOURCE_DIR "/examples/site-plan.csv",
                    2, "converters[0].status: expected text, got number"}),
    [](const ::testing::TestParamInfo<HostileFile>& p) { return std::string(p.param.name); });

}  // namespace
