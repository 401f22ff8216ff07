// The real quarn-cli running site plans against quarn-sim with several converters behind one
// stick: the report against the simulator's transcript, a stick pulled mid-site, --resume, and
// the report as a journal (written as steps are acknowledged, ended by signals, without a stick).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/e2e/sim_harness.h"

#include "tests/support/read_text.h"

namespace {

using nlohmann::json;

const char* const key = "000102030405060708090A0B0C0D0E0F";
const std::string templateFile = std::string(QUARN_SOURCE_DIR) + "/tests/data/settings/good.json";

// A working folder with meter keys for the meters 11110001..11110005.
struct Site {
  TempDir dir;
  Site() {
    mkdir((dir.path() + "/meterKeys").c_str(), 0700);
    std::string keys;
    for (int m = 1; m <= 5; ++m)
      keys += "m;1111000" + std::to_string(m) + ";00112233445566778899AABBCCDDEEF" + std::to_string(m) + "\n";
    dir.write("meterKeys/meters.txt", keys);
  }
  // The quarn-cli command line, its output into out.txt and err.txt.
  std::string command(const std::string& arguments) const {
    return std::string(QUARN_CLI_PATH) + " --home " + dir.path() + " --key " + key + " --timeout 2 --template " +
           templateFile + " " + arguments + " >" + dir.path() + "/out.txt 2>" + dir.path() + "/err.txt";
  }
  // Runs quarn-cli with the simulator's stick listed, or (sim nullptr) none.
  int run(const SimProcess* sim, const std::string& arguments, std::string* err = nullptr) const {
    const std::string ports = sim != nullptr ? "'" + sim->portEntry() + "'" : std::string();
    const int status = std::system(("QUARN_VIRTUAL_PORTS=" + ports + " timeout 120 " + command(arguments)).c_str());
    if (err != nullptr) *err = readText(dir.path() + "/err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int run(const SimProcess& sim, const std::string& arguments, std::string* err = nullptr) const {
    return run(&sim, arguments, err);
  }
  // The report, parsed; null when none was written.
  json report(const std::string& name) const {
    const std::string text = readText(dir.path() + "/" + name);
    return text.empty() ? json() : json::parse(text, nullptr, false);
  }
};

// The report's entry for a converter.
json entryOf(const json& report, const std::string& id) {
  for (const json& entry : report["converters"])
    if (entry["converter"] == id) return entry;
  return json();
}

size_t requestsTo(const SimProcess& sim, const std::string& id, const std::string& what) {
  return sim.transcriptMatching({"converter " + id + ":", what}).size();
}

TEST(SiteApply, ReportAgreesWithWhatEachConverterReceived) {
  Site site;
  const std::string converters = site.dir.write(
      "site.txt", std::string("C0000001 ") + key + "\nC0000002 " + key + " silent\nC0000003 " + key +
                      " wrong-key\nC0000004 " + key + " stores-wrongly\n");
  const std::string plan = site.dir.write(
      "plan.csv", "converter;wiredAddress;slot1;slot2\nC0000001;5;11110001;11110002\nC0000002;;11110003;\n"
                  "C0000003;;11110004;\nC0000004;10;11110005;\n");
  SimProcess sim("dongle", {"--converters", converters});
  ASSERT_TRUE(sim.running()) << sim.failure();
  std::string err;
  EXPECT_EQ(site.run(sim, "--report " + site.dir.path() + "/report.json site apply " + plan, &err), 4) << err;
  const json report = site.report("report.json");
  EXPECT_EQ(report["complete"], true);
  EXPECT_EQ(report["exitCode"], 4);

  const json done = entryOf(report, "C0000001");
  EXPECT_EQ(done["status"], "done");
  EXPECT_EQ(done["verified"], true);
  EXPECT_EQ(done["written"], json({"slot 1", "slot 2", "slot 3", "slot 4", "option bits"}));
  EXPECT_EQ(done["planned"]["slots"][0]["wiredAddress"], 5);
  EXPECT_EQ(done["planned"]["slots"][1]["masterKey"], "00112233445566778899AABBCCDDEEF2");
  EXPECT_EQ(requestsTo(sim, "C0000001", "\taccepted\t"), 10u);
  EXPECT_EQ(requestsTo(sim, "C0000001", "Set Data slot 1 active=1 id=11110002"), 1u);
  EXPECT_EQ(requestsTo(sim, "C0000001", "Set Data slot 2 active=0"), 1u);

  EXPECT_EQ(entryOf(report, "C0000002")["status"], "not heard");
  EXPECT_EQ(sim.transcriptMatching({"C0000002"}).size(), 0u);

  const json refused = entryOf(report, "C0000003");
  EXPECT_EQ(refused["status"], "failed");
  EXPECT_EQ(refused["reason"], "no answer");
  EXPECT_EQ(refused["written"], json::array()) << "only what the converter acknowledged";
  EXPECT_EQ(requestsTo(sim, "C0000003", "refused: bad MAC"), sim.transcriptMatching({"C0000003:"}).size());

  // Stopped at the first read-back that differs: one slot sent, nothing after it.
  const json wrong = entryOf(report, "C0000004");
  EXPECT_EQ(wrong["status"], "failed");
  EXPECT_EQ(wrong["step"], "slot 1 read-back");
  EXPECT_EQ(wrong["reason"], "wiredAddress: wrote 10, read 11");
  EXPECT_EQ(requestsTo(sim, "C0000004", "Set Data"), 1u);
  EXPECT_NE(err.find("] C0000001 done, verified\n"), std::string::npos) << err;
  EXPECT_NE(err.find("] C0000002 not heard\n"), std::string::npos) << err;

  // verify writes nothing and names the field that differs.
  const size_t before = sim.transcriptMatching({"Set Data"}).size();
  EXPECT_EQ(site.run(sim, "--report " + site.dir.path() + "/verify.json site verify " + plan, &err), 4) << err;
  EXPECT_EQ(sim.transcriptMatching({"Set Data"}).size(), before);
  EXPECT_EQ(sim.transcriptMatching({"Write option"}).size(), 1u);
  const json verified = site.report("verify.json");
  EXPECT_EQ(entryOf(verified, "C0000001")["differences"], json::array());
  EXPECT_EQ(entryOf(verified, "C0000004")["differences"][0],
            json({{"field", "slot1.wiredAddress"}, {"planned", "10"}, {"found", "11"}}));
}

TEST(SiteApply, StickPulledMidSiteThenResumeSkipsWhatWasDone) {
  Site site;
  const std::string converters = site.dir.write(
      "site.txt", std::string("D0000001 ") + key + "\nD0000002 " + key + "\nD0000003 " + key + "\n");
  const std::string plan =
      site.dir.write("plan.csv", "converter,slot1\nD0000001,11110001\nD0000002,11110002\nD0000003,11110003\n");
  // Each converter takes four or five writes: the stick goes while the second is worked on,
  // however long each one takes.
  SimProcess sim("dongle", {"--converters", converters, "--unplug-after-writes", "7", "--replug-after", "300"});
  ASSERT_TRUE(sim.running()) << sim.failure();
  std::string err;
  EXPECT_EQ(site.run(sim, "--report " + site.dir.path() + "/first.json site apply " + plan, &err), 3) << err;
  const json first = site.report("first.json");
  EXPECT_EQ(first["complete"], false);
  EXPECT_EQ(first["exitCode"], 3);
  EXPECT_NE(first["stickLost"].get<std::string>().find("Connection lost"), std::string::npos);
  size_t doneBefore = 0, inProgress = 0;
  for (const json& entry : first["converters"]) {
    doneBefore += entry["status"] == "done";
    if (entry["status"] == "in progress") {
      ++inProgress;
      EXPECT_FALSE(entry["step"].get<std::string>().empty());
    }
  }
  ASSERT_GE(doneBefore, 1u) << first.dump(2);
  EXPECT_LE(inProgress, 1u);

  const char* const ids[] = {"D0000001", "D0000002", "D0000003"};
  size_t setsBefore[3];
  for (int i = 0; i < 3; ++i) setsBefore[i] = requestsTo(sim, ids[i], "Set Data");

  struct stat info {};
  ASSERT_TRUE(tickUntil([] {}, [&] { return stat(sim.linkPath().c_str(), &info) == 0; }));
  EXPECT_EQ(site.run(sim, "--report " + site.dir.path() + "/second.json --resume " + site.dir.path() +
                              "/first.json site apply " + plan, &err), 0) << err;
  const json second = site.report("second.json");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(entryOf(second, ids[i])["status"], "done");
    // Done before: not one request more; the others: all four slots written now.
    const bool wasDone = entryOf(first, ids[i])["status"] == "done";
    EXPECT_EQ(requestsTo(sim, ids[i], "Set Data") - setsBefore[i], wasDone ? 0u : 4u) << ids[i];
    if (wasDone) {
      EXPECT_EQ(entryOf(second, ids[i]), entryOf(first, ids[i]));
    }
  }
}

TEST(SiteJournal, WithoutAStickTheReportSaysNothingWasDoneAndWhy) {
  Site site;
  const std::string plan = site.dir.write("plan.csv", "converter,slot1\nD0000001,11110001\n");
  EXPECT_EQ(site.run(nullptr, "--report " + site.dir.path() + "/r.json site apply " + plan), 3);
  const json report = site.report("r.json");
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
  ASSERT_EQ(site.run(nullptr, "--report " + site.dir.path() + "/first.json site apply " + plan), 3);
  json first = site.report("first.json");
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
    EXPECT_EQ(site.run(nullptr, "--resume " + site.dir.path() + "/earlier.json site apply " + plan), c.exitCode);
    const std::string err = readText(site.dir.path() + "/err.txt");
    const bool skipped = err.find("D0000001 done, verified (earlier run)") != std::string::npos;
    EXPECT_EQ(skipped, c.exitCode == 0) << err;
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
      seen = site.report("r.json");
      return seen.is_object() && !seen["converters"][0]["written"].empty();
    });
    kill(pid, c.signalNumber);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(acknowledged) << readText(site.dir.path() + "/err.txt");
    EXPECT_EQ(seen["complete"], false);
    EXPECT_EQ(seen["converters"][0]["status"], "in progress");
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signalNumber) << status;
    const json last = site.report("r.json");
    ASSERT_TRUE(last.is_object());
    EXPECT_EQ(last["complete"], false);
    if (c.recorded != nullptr) EXPECT_EQ(last["endedBy"], c.recorded);
    else EXPECT_FALSE(last.contains("endedBy"));
    EXPECT_GE(last["converters"][0]["written"].size(), 1u);
    EXPECT_EQ(last["converters"][0]["written"][0], "slot 1");
  }
}

TEST(SiteApply, ByWireOnlyTheConverterPlannedForThePortIsSetUp) {
  Site site;
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const std::string plan = site.dir.write("plan.csv", "converter,link,slot1\n12345679," + sim.linkPath() +
                                                          ",11110001\n12345678," + sim.linkPath() + ",11110002\n");
  std::string err;
  EXPECT_EQ(site.run(sim, "--report " + site.dir.path() + "/report.json site apply " + plan, &err), 4) << err;
  const json report = site.report("report.json");
  EXPECT_EQ(entryOf(report, "12345679")["step"], "identify");
  EXPECT_EQ(entryOf(report, "12345679")["written"], json::array());
  EXPECT_EQ(entryOf(report, "12345678")["status"], "done");
  // One converter's slot 1 went out once: the 12345679 row sent nothing past REQ_UD2.
  EXPECT_EQ(sim.transcriptMatching({"Set Data slot 0"}).size(), 1u);
  EXPECT_EQ(sim.transcriptMatching({"Set Data slot 0", "id=11110002"}).size(), 1u);
}

// A link holding a comma and a formula's "=" comes back from export as one cell that check reads
// as the same link.
TEST(SiteExport, WhatItPrintsChecksBackAsThePlan) {
  Site site;
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const std::string link = site.dir.path() + "/a,=1+2";
  ASSERT_EQ(symlink(sim.linkPath().c_str(), link.c_str()), 0);
  site.dir.write("plan.csv", "converter,link,slot1\n12345678,\"" + link + "\",\n");
  site.dir.write("meterKeys/sim.txt", "m;12345678;00112233445566778899AABBCCDDEEFF\n");  // the meter it holds
  std::string err;
  ASSERT_EQ(site.run(sim, "site export " + site.dir.path() + "/plan.csv", &err), 0) << err;
  const std::string exported = readText(site.dir.path() + "/out.txt");
  EXPECT_NE(exported.find("12345678,\"" + link + "\","), std::string::npos) << exported;
  site.dir.write("exported.csv", exported);
  ASSERT_EQ(site.run(sim, "site check " + site.dir.path() + "/exported.csv", &err), 0) << err;
  EXPECT_NE(readText(site.dir.path() + "/out.txt").find(link), std::string::npos);
}

}  // namespace
