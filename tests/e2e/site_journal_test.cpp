// The site report as a journal: written as each step is acknowledged, "complete": false until the
// run ends, the signal that ended it recorded; a report even when no stick is found; and --resume
// skipping a converter only when the report shows exactly today's planned settings done.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/e2e/sim_harness.h"
#include "tests/support/read_text.h"

namespace {

using nlohmann::json;

const char* const key = "000102030405060708090A0B0C0D0E0F";
const std::string templateFile = std::string(QUARN_SOURCE_DIR) + "/tests/data/settings/good.json";

// A working folder with meter keys for the meters 11110001..11110003, and no stick listed.
struct Site {
  TempDir dir;
  Site() {
    mkdir((dir.path() + "/meterKeys").c_str(), 0700);
    std::string keys;
    for (int m = 1; m <= 3; ++m)
      keys += "m;1111000" + std::to_string(m) + ";00112233445566778899AABBCCDDEEF" + std::to_string(m) + "\n";
    dir.write("meterKeys/meters.txt", keys);
  }
  std::string command(const std::string& arguments) const {
    return std::string(QUARN_CLI_PATH) + " --home " + dir.path() + " --key " + key + " --timeout 2 --template " +
           templateFile + " " + arguments + " >" + dir.path() + "/out.txt 2>" + dir.path() + "/err.txt";
  }
  // Without a stick: no virtual ports, and the udev search finds none in the test's machine.
  int runWithoutStick(const std::string& arguments) const {
    const int status = std::system(("QUARN_VIRTUAL_PORTS= timeout 60 " + command(arguments)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  json read(const std::string& name) const {
    std::string text = readText(dir.path() + "/" + name);
    return text.empty() ? json() : json::parse(text, nullptr, false);
  }
  std::string err() const { return readText(dir.path() + "/err.txt"); }
};

TEST(SiteJournal, WithoutAStickTheReportSaysNothingWasDoneAndWhy) {
  Site site;
  const std::string plan = site.dir.write("plan.csv", "converter,slot1\nD0000001,11110001\n");
  EXPECT_EQ(site.runWithoutStick("--report " + site.dir.path() + "/r.json site apply " + plan), 3) << site.err();
  const json report = site.read("r.json");
  ASSERT_TRUE(report.is_object()) << "no report written";
  EXPECT_EQ(report["complete"], false);
  EXPECT_EQ(report["exitCode"], 3);
  EXPECT_EQ(report["stickLost"], "USB wireless MBUS dongle not found");
  ASSERT_EQ(report["converters"].size(), 1u);
  EXPECT_EQ(report["converters"][0]["status"], "not started");
  EXPECT_EQ(report["converters"][0]["written"], json::array());
  EXPECT_TRUE(report["converters"][0]["planned"].is_object());
}

// A converter is skipped only when the report shows exactly the settings now planned for it done
// and verified; anything else is redone (here: the stick is needed, and there is none).
TEST(SiteJournal, ResumeSkipsOnlyWhatWasDoneExactlyAsNowPlanned) {
  Site site;
  const std::string plan = site.dir.write("plan.csv", "converter,slot1\nD0000001,11110001\n");
  // The planned settings as a run records them: from a run that found no stick.
  ASSERT_EQ(site.runWithoutStick("--report " + site.dir.path() + "/first.json site apply " + plan), 3);
  json first = site.read("first.json");
  ASSERT_TRUE(first.is_object());
  json entry = first["converters"][0];
  entry["status"] = "done";
  entry["verified"] = true;

  json otherMeter = entry;
  otherMeter["planned"]["slots"][0]["deviceId"] = "11110002";
  json noPlanned = entry;
  noPlanned.erase("planned");
  json notVerified = entry;
  notVerified["verified"] = false;
  struct Case {
    const char* name;
    json entry;
    int exitCode;  // 0: skipped, nothing sent; 3: redone, which needs the stick
  };
  const Case cases[] = {
      {"done exactly as now planned", entry, 0},
      {"done with another meter planned", otherMeter, 3},
      {"done without the planned settings", noPlanned, 3},
      {"done but not verified", notVerified, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    site.dir.write("earlier.json", json({{"converters", json::array({c.entry})}}).dump());
    EXPECT_EQ(site.runWithoutStick("--resume " + site.dir.path() + "/earlier.json site apply " + plan), c.exitCode)
        << site.err();
    const bool skipped = site.err().find("D0000001 done, verified (earlier run)") != std::string::npos;
    EXPECT_EQ(skipped, c.exitCode == 0) << site.err();
  }
}

// Starts quarn-cli as a child of its own, so that a signal can end it.
pid_t startCli(const Site& site, const SimProcess& sim, const std::string& arguments) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1);
    execl("/bin/sh", "sh", "-c", ("exec " + site.command(arguments)).c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

TEST(SiteJournal, WhatWasAcknowledgedIsInTheReportAsItHappensAndASignalIsRecorded) {
  struct Case {
    int signalNumber;
    const char* recorded;  // endedBy; nullptr: the last journal write stands as it was
  };
  const Case cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGKILL, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signalNumber);
    Site site;
    const std::string converters = site.dir.write("site.txt", std::string("D0000001 ") + key + "\n");
    const std::string plan = site.dir.write("plan.csv", "converter,slot1,slot2,slot3\nD0000001,11110001,11110002,11110003\n");
    SimProcess sim("dongle", {"--converters", converters});
    ASSERT_TRUE(sim.running()) << sim.failure();
    const std::string report = site.dir.path() + "/r.json";
    const pid_t pid = startCli(site, sim, "--report " + report + " site apply " + plan);
    ASSERT_GT(pid, 0);
    // The first slot acknowledged shows in the journal while the run goes on.
    json seen;
    const bool acknowledged = tickUntil([] {}, [&] {
      seen = site.read("r.json");
      return seen.is_object() && !seen["converters"][0]["written"].empty();
    });
    kill(pid, c.signalNumber);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(acknowledged) << site.err();
    EXPECT_EQ(seen["complete"], false);
    EXPECT_EQ(seen["converters"][0]["status"], "in progress");
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signalNumber) << status;
    const json last = site.read("r.json");
    ASSERT_TRUE(last.is_object());
    EXPECT_EQ(last["complete"], false);
    if (c.recorded != nullptr) EXPECT_EQ(last["endedBy"], c.recorded);
    else EXPECT_FALSE(last.contains("endedBy"));
    EXPECT_GE(last["converters"][0]["written"].size(), 1u);
    EXPECT_EQ(last["converters"][0]["written"][0], "slot 1");
  }
}

}  // namespace
