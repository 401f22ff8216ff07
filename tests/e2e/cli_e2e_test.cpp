// The real quarn-cli against quarn-sim, wired and over the air: exit codes, files, what was sent.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/sim_harness.h"
#include "tests/support/read_text.h"

namespace {

const std::string dataDir = std::string(QUARN_SOURCE_DIR) + "/tests/data/settings/";
const char* const simKey = "000102030405060708090A0B0C0D0E0F";

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs quarn-cli with the ports listed (QUARN_VIRTUAL_PORTS entries); arguments are plain words
// (no quoting needed).
CliResult runCliOn(const std::string& ports, const TempDir& dir, const std::string& arguments) {
  const std::string out = dir.path() + "/out.txt", err = dir.path() + "/err.txt";
  const std::string command = "QUARN_VIRTUAL_PORTS='" + ports + "' " + QUARN_CLI_PATH + " --home " + dir.path() +
                              " " + arguments + " >" + out + " 2>" + err;
  const int status = std::system(command.c_str());
  CliResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readText(out);
  result.err = readText(err);
  return result;
}

// Runs quarn-cli with the simulator's port listed.
CliResult runCli(const SimProcess& sim, const TempDir& dir, const std::string& arguments) {
  return runCliOn(sim.portEntry(), dir, arguments);
}

struct LinkCase {
  const char* role;
  const char* link;  // how quarn-cli reaches the simulator
};

class CliLink : public ::testing::TestWithParam<LinkCase> {
protected:
  std::string linkArgs(const SimProcess& sim) const {
    const std::string link = GetParam().link;
    return (link == "wired" ? "--port " + sim.linkPath() : std::string("--wireless")) + " --key " + simKey;
  }
};

TEST_P(CliLink, ApplyThenExportGivesBackTheSameFile) {
  SimProcess sim(GetParam().role, {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  const CliResult applied = runCli(sim, dir, linkArgs(sim) + " apply " + dataDir + "good.json");
  ASSERT_EQ(applied.exitCode, 0) << applied.err;
  EXPECT_EQ(applied.out, "written and read back: slot 1, slot 2, slot 3, slot 4, option bits\n");
  const CliResult exported = runCli(sim, dir, linkArgs(sim) + " export " + dir.path() + "/back.json");
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(readText(dir.path() + "/back.json"), readText(dataDir + "good.json"));
  // Eight Set Data and option writes reached the converter, all accepted.
  EXPECT_EQ(sim.transcriptMatching({"accepted", "Set Data"}).size(), 4u);
  EXPECT_TRUE(sim.transcriptMatching({"refused"}).empty());
}

TEST_P(CliLink, WrongKeyGivesNoAnswerNotSuccess) {
  SimProcess sim(GetParam().role, {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  std::string args = linkArgs(sim);
  args.replace(args.find(simKey), 32, "FF0102030405060708090A0B0C0D0E0F");
  const CliResult result = runCli(sim, dir, args + " --timeout 2 --json get 1");
  EXPECT_EQ(result.exitCode, 4) << result.err;
  EXPECT_NE(result.err.find("Get Data of slot 1 failed: no answer"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("\"exitCode\": 4"), std::string::npos) << result.out;
  EXPECT_FALSE(sim.transcriptMatching({"refused: bad MAC"}).empty());
}

TEST_P(CliLink, IdentifyInJson) {
  SimProcess sim(GetParam().role, {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  const CliResult result = runCli(sim, dir, linkArgs(sim) + " --json identify");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("\"serialNumber\": \"12345678\""), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"firmware\": \"01.02\""), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Links, CliLink,
                         ::testing::Values(LinkCase{"wired", "wired"}, LinkCase{"dongle", "wireless"}),
                         [](const ::testing::TestParamInfo<LinkCase>& param) {
                           return std::string(param.param.link);
                         });

class BadFileRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(BadFileRefused, BeforeAnyByteIsWritten) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  const std::string path = dataDir + "bad/" + GetParam();
  const CliResult result = runCli(sim, dir, "--port " + sim.linkPath() + " apply " + path);
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_EQ(result.err.rfind("quarn-cli: " + path + ": ", 0), 0u) << result.err;
  tickFor([] {}, 200);
  EXPECT_TRUE(sim.transcript().empty());  // not even REQ_UD2
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadFileRefused,
                         // Each file's reason is settings_file_test's; here, that nothing is sent.
                         ::testing::Values("not-json.json", "wrong-type.json"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           std::string out;
                           for (const char* c = param.param; *c != '\0'; ++c) out += std::isalnum(*c) ? *c : '_';
                           return out;
                         });

TEST(CliFailures, PortVanishingMidApplySaysWhatWasWritten) {
  // Slow answers and an unplug after about two slots.
  SimProcess sim("wired", {"--reply-ms", "150", "--unplug-after", "1500"});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  const CliResult result = runCli(sim, dir, "--port " + sim.linkPath() + " --key " + simKey + " apply " + dataDir +
                                                "good.json");
  EXPECT_EQ(result.exitCode, 3) << result.err;
  EXPECT_NE(result.err.find("failed: Connection lost"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("already written: slot 1"), std::string::npos) << result.err;
}

TEST(CliFailures, UsageErrorsSendNothing) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  const std::string port = "--port " + sim.linkPath() + " ";
  for (const std::string& args : {port + "get 5", port + "set 2 --field wiredAddress=300", port + "options set 0101",
                                  port + "frobnicate", std::string("get 1"), port + "--key 12 get 1"}) {
    const CliResult result = runCli(sim, dir, args);
    EXPECT_EQ(result.exitCode, 2) << args << ": " << result.err;
  }
  tickFor([] {}, 200);
  EXPECT_TRUE(sim.transcript().empty());
}

// Every command against a converter that does not answer as asked: the right exit code, the
// failure in JSON, and nothing reported as read, written or verified.
struct Outcome {
  const char* name;
  const char* role;
  std::vector<std::string> simArgs;
  std::string cliArgs;  // the link and key; "PORT" stands for the simulator's link
  int exitCode;
  const char* transcript;  // what the simulator logged for the requests, or "" when none arrived
};

void PrintTo(const Outcome& outcome, std::ostream* out) { *out << outcome.name; }

class CliOutcome : public ::testing::TestWithParam<Outcome> {};

const char* const wrongKey = "FF0102030405060708090A0B0C0D0E0F";

TEST_P(CliOutcome, EveryCommandFailsWithItsExitCode) {
  const Outcome& c = GetParam();
  const bool lost = c.exitCode == 3;
  std::unique_ptr<SimProcess> sim;
  for (const std::string& command : std::vector<std::string>{"get 1", "set 1 --field active=true", "options get", "options set 10100000",
                                    "scan", "key-find 1", "export EXPORTED", "apply " + dataDir + "good.json"}) {
    // A lost link needs a device that goes away during each command.
    if (!sim || lost) sim.reset(new SimProcess(c.role, c.simArgs));
    ASSERT_TRUE(sim->running()) << sim->failure();
    TempDir dir;
    std::string args = c.cliArgs + " --json " + command;
    // EXPORTED first: it holds the letters PORT.
    const std::string exported = dir.path() + "/exported.json";
    if (args.find("EXPORTED") != std::string::npos) args.replace(args.find("EXPORTED"), 8, exported);
    if (args.find("PORT") != std::string::npos) args.replace(args.find("PORT"), 4, sim->linkPath());
    const CliResult result = runCli(*sim, dir, args);
    EXPECT_EQ(result.exitCode, c.exitCode) << command << ": " << result.err;
    nlohmann::json out = nlohmann::json::parse(result.out, nullptr, false);
    ASSERT_TRUE(out.is_object()) << command << ": " << result.out;
    EXPECT_EQ(out.value("ok", true), false) << command;
    EXPECT_EQ(out.value("exitCode", 0), c.exitCode) << command;
    EXPECT_EQ(out["written"], nlohmann::json::array()) << command;
    EXPECT_EQ(result.out.find("verified"), std::string::npos) << command;
    struct stat info {};
    EXPECT_NE(stat(exported.c_str(), &info), 0) << command;
  }
  if (*c.transcript != '\0') {
    EXPECT_FALSE(sim->transcriptMatching({c.transcript}).empty()) << c.transcript;
  }
}

// Hostile names, files, keys and numbers: refused with a message or done, and with --json the
// answer always parses. (Every key source over every command: site_cli_test's KeySources.)
struct Hostile {
  const char* name;
  const char* role;
  std::vector<std::string> simArgs;
  std::string args;  // PORT: the simulator's link; DIR: a folder holding the files below
  int exitCode;
  const char* err;   // a piece of standard error
  bool secured;      // whether secured requests may reach the converter
};

class CliHostile : public ::testing::TestWithParam<Hostile> {};

void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.name; }

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

TEST_P(CliHostile, IsRefusedOrDoneAndPrintsValidJson) {
  const Hostile& c = GetParam();
  SimProcess sim(c.role, c.simArgs);
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  const std::string good = readText(dataDir + "good.json");
  dir.write("bad\xE9.json", good);
  chmod(dir.write("own.key", std::string(simKey) + "\n").c_str(), 0600);
  mkdir((dir.path() + "/home2").c_str(), 0700);
  dir.write("home2/Quarnconfig.txt", "first line\nnot a key\n");
  std::string args = c.args;
  replaceAll(args, "PORT", sim.linkPath());
  replaceAll(args, "DIR", dir.path());
  const CliResult result = runCli(sim, dir, args);
  EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
  EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
  if (args.find("--json") != std::string::npos) {
    const nlohmann::json out = nlohmann::json::parse(result.out, nullptr, false);
    ASSERT_TRUE(out.is_object()) << result.out;
    EXPECT_EQ(out.value("ok", false), c.exitCode == 0) << result.out;
  }
  if (!c.secured) {
    EXPECT_TRUE(sim.transcriptMatching({"secured"}).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliHostile,
    ::testing::Values(
        Hostile{"unknown_command", "wired", {}, "--json foo\xE9", 2, "unknown command foo\\xE9", false},
        Hostile{"unknown_option", "wired", {}, "--bogus\xE9 --json get 1", 2, "option --bogus\\xE9", false},
        Hostile{"file_name", "wired", {}, std::string("--port PORT --key ") + simKey + " --json apply DIR/bad\xE9.json",
                0, "", true},
        Hostile{"timeout_short", "wired", {}, "--port PORT --timeout 0.05 get 1", 2, "--timeout", false},
        Hostile{"timeout_long", "wired", {}, "--port PORT --json --timeout 86401 get 1", 2, "--timeout", false},
        Hostile{"key_file_own", "wired", {}, "--port PORT --key-file DIR/own.key --json get 1", 0, "", true},
        Hostile{"no_key", "wired", {}, "--port PORT --json get 1", 1, "no converter key: ", false},
        Hostile{"line_2_bad", "wired", {}, "--port PORT --home DIR/home2 get 1", 2,
                "Quarnconfig.txt line 2: expected", false},
        Hostile{"no_port", "wired", {}, "--port /nonexistent/ttyX get 1", 3, "port /nonexistent/ttyX not found", false},
        Hostile{"port_dev_null", "wired", {}, "--port /dev/null get 1", 3, "/dev/null: not a serial port", false},
        Hostile{"port_a_file", "wired", {}, "--port DIR/own.key get 1", 3, "own.key: not a serial port", false},
        // Dropped stick frames trace on standard error, never into the JSON.
        Hostile{"stick_drops", "dongle", {"--announce", "3000"},
                std::string("--wireless --key ") + simKey + " --json identify", 0, "dropped", true}),
    [](const ::testing::TestParamInfo<Hostile>& param) { return std::string(param.param.name); });

const std::string wiredLink = std::string("--port PORT --timeout 0.5 --key ");
const std::string airLink = std::string("--wireless --converter 12345678 --timeout 0.5 --key ");

INSTANTIATE_TEST_SUITE_P(
    Faults, CliOutcome,
    ::testing::Values(
        Outcome{"wired_wrong_key", "wired", {}, wiredLink + wrongKey, 4, "refused: bad MAC"},
        Outcome{"wired_silent", "wired", {"--silent"}, wiredLink + simKey, 4, "REQ_UD2"},
        Outcome{"wired_refused", "wired", {"--options", "0000000000000000"}, wiredLink + simKey + " --plain", 4,
                "refused: plain not allowed"},
        Outcome{"wired_lost", "wired", {"--reply-ms", "500", "--unplug-after", "800"},
                std::string("--port PORT --key ") + simKey, 3, ""},
        Outcome{"air_wrong_key", "dongle", {}, airLink + wrongKey, 4, "refused: bad MAC"},
        Outcome{"air_silent", "dongle", {"--silent"}, airLink + simKey, 4, ""},
        Outcome{"air_refused", "dongle", {"--nack"}, airLink + simKey, 4, "refused: nack"},
        Outcome{"air_lost", "dongle", {"--reply-ms", "2000", "--unplug-after", "1500"},
                std::string("--wireless --converter 12345678 --key ") + simKey, 3, ""}),
    [](const ::testing::TestParamInfo<Outcome>& param) { return std::string(param.param.name); });

}  // namespace

namespace {

// A key file others can read is warned about once, with one "Warning" prefix.
TEST(CliWarnings, AnExposedKeyFileIsWarnedAboutWithOnePrefix) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  TempDir dir;
  chmod(dir.write("Quarnconfig.txt", std::string("Quarn\n") + simKey + "\n").c_str(), 0644);
  const CliResult found = runCli(sim, dir, "key-find 1 --field deviceId=12345678");
  EXPECT_NE(found.err.find("quarn-cli: Warning: " + dir.path() + "/Quarnconfig.txt is readable by other users"),
            std::string::npos)
      << found.err;
  EXPECT_EQ(found.err.find("arning: Warning"), std::string::npos) << found.err;
}

}  // namespace

namespace {

// Two sticks with different serials: without a choice quarn-cli names both and asks for one;
// --stick SERIAL or --wireless --port PATH takes that one, and the output names it.
TEST(CliSticks, OfTwoSticksTheOneNamedIsUsed) {
  SimProcess first("dongle", {"--beacon-ms", "100"});
  SimProcess second("dongle", {"--beacon-ms", "100", "--serial", "000043"});
  ASSERT_TRUE(first.running()) << first.failure();
  ASSERT_TRUE(second.running()) << second.failure();
  TempDir dir;
  const std::string ports = first.portEntry() + ";" + second.portEntry();
  const auto run = [&](const std::string& arguments) {
    return runCliOn(ports, dir, std::string("--key ") + simKey + " " + arguments);
  };
  const CliResult both = run("--wireless identify");
  EXPECT_EQ(both.exitCode, 2) << both.err;
  EXPECT_NE(both.err.find("more than one stick (ZJ000042 on ttySIM0, ZJ000043 on ttySIM0); choose one with --stick SERIAL"),
            std::string::npos)
      << both.err;
  EXPECT_TRUE(first.transcript().empty());
  EXPECT_TRUE(second.transcript().empty());

  const CliResult bySerial = run("--stick ZJ000043 identify");
  EXPECT_EQ(bySerial.exitCode, 0) << bySerial.err;
  EXPECT_NE(bySerial.err.find("quarn-cli: stick ZJ000043 on ttySIM0\n"), std::string::npos) << bySerial.err;
  EXPECT_FALSE(second.transcriptMatching({"dongle 0xAB"}).empty());
  EXPECT_TRUE(first.transcript().empty());

  const CliResult byPort = run("--wireless --port " + first.linkPath() + " identify");
  EXPECT_EQ(byPort.exitCode, 0) << byPort.err;
  EXPECT_NE(byPort.err.find("quarn-cli: stick ZJ000042 on ttySIM0\n"), std::string::npos) << byPort.err;
  EXPECT_FALSE(first.transcriptMatching({"dongle 0xAB"}).empty());

  // The same serial twice: the serial names neither, the port does.
  SimProcess twin("dongle", {"--beacon-ms", "100", "--serial", "000043"});
  ASSERT_TRUE(twin.running()) << twin.failure();
  const std::string withTwin = ports + ";" + twin.portEntry();
  const CliResult ambiguous = runCliOn(withTwin, dir, std::string("--key ") + simKey + " --stick ZJ000043 identify");
  EXPECT_EQ(ambiguous.exitCode, 2) << ambiguous.err;
  EXPECT_NE(ambiguous.err.find("more than one stick is ZJ000043"), std::string::npos) << ambiguous.err;
  const CliResult twinByPort =
      runCliOn(withTwin, dir, std::string("--key ") + simKey + " --wireless --port " + twin.linkPath() + " identify");
  EXPECT_EQ(twinByPort.exitCode, 0) << twinByPort.err;
  EXPECT_FALSE(twin.transcriptMatching({"dongle 0xAB"}).empty());
  twin.stop();

  const CliResult unknown = run("--stick ZJ999999 identify");
  EXPECT_EQ(unknown.exitCode, 3) << unknown.err;
  EXPECT_NE(unknown.err.find("stick ZJ999999 not found"), std::string::npos) << unknown.err;
}

}  // namespace
