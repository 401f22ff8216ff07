// The real quarn-cli running site plans against quarn-sim with several converters behind one
// stick: the report against the simulator's transcript, a stick pulled mid-site, and --resume.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
  // Runs quarn-cli with the simulator's stick listed; the report is parsed when written.
  int run(const SimProcess& sim, const std::string& arguments, std::string* err = nullptr) const {
    const std::string command = "QUARN_VIRTUAL_PORTS='" + sim.portEntry() + "' " + QUARN_CLI_PATH + " --home " +
                                dir.path() + " --key " + key + " --timeout 2 --template " + templateFile + " " +
                                arguments + " >" + dir.path() + "/out.txt 2>" + dir.path() + "/err.txt";
    const int status = std::system(command.c_str());
    if (err != nullptr) *err = readText(dir.path() + "/err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  json report(const std::string& name) const { return json::parse(readText(dir.path() + "/" + name)); }
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
  // A converter takes about 0.7 s: the stick goes while the second or third is worked on.
  SimProcess sim("dongle", {"--converters", converters, "--unplug-after", "1300", "--replug-after", "300"});
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
