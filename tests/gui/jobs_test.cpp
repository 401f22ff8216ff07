// The window runs the jobs quarn-cli runs: "Apply settings file…", "Verify against settings
// file…" and "Site plan…" against quarn-sim, with the outcome and text quarn-cli gives against a
// simulator of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/quarn_window.h"
#include "gui_support.h"
#include "sim_harness.h"
#include "window_probe.h"

const char* const guiProgramName = "jobs_test";

namespace {

const char* const simKey = "000102030405060708090A0B0C0D0E0F";
const std::string goodFile = QUARN_SOURCE_DIR "/tests/data/settings/good.json";

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// quarn-cli against a simulator of its own: its exit code and standard output.
struct CliRun {
  int exitCode = -1;
  std::string out, err;
};
CliRun runCli(const TempDir& dir, const std::string& environment, const std::string& arguments) {
  const std::string out = dir.path() + "/cli-out.txt", err = dir.path() + "/cli-err.txt";
  const int status = std::system((environment + " " + QUARN_CLI_PATH + " --home " + dir.path() + " --key " + simKey +
                                  " " + arguments + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(out), readAll(err)};
}

// The site plan dialog: plan, template and report typed, the action chosen, "Run".
DialogStep answerSitePlan(const std::string& plan, const std::string& settingsTemplate, const std::string& report,
                          const std::string& action) {
  return [=](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), "Site plan");
    const std::vector<FXTextField*> fields = widgetsOf<FXTextField>(dialog);
    ASSERT_EQ(fields.size(), 3u);
    fields[0]->setText(plan.c_str());
    fields[1]->setText(settingsTemplate.c_str());
    fields[2]->setText(report.c_str());
    selectItem(listBoxOf(dialog), action);
    press(buttonNamed(dialog, "Run"));
  };
}

class JobsTest : public ::testing::Test {
protected:
  void SetUp() override {
    w = shell().window;
    resetConnection(w);
    probe(w).statusLine()->setNormalText("Not connected.");
  }
  void TearDown() override {
    resetConnection(w);
    unsetenv("QUARN_VIRTUAL_PORTS");
  }
  std::string status() const { return str(probe(w).statusLine()->getNormalText()); }
  void runItem(const std::string& item, std::vector<DialogStep> steps) {
    DialogScript script(std::move(steps));
    runWithDialogs(script, [&] { chooseFileItem(w, item); });
  }
  // A wired run on the simulator's port, secured with its key, its identity answered.
  void connectWired(const SimProcess& sim) {
    linkRecords().state.securedMessages = true;
    w->link().chooseWired(true);
    w->setConverterKeyText(simKey);
    w->connectWired("ttySIM0", sim.linkPath());
    ASSERT_TRUE(pumpUntil([&] { return w->link().identity().known; })) << logContent();
  }

  QuarnWindow* w = nullptr;
  TempDir dir;
};

TEST_F(JobsTest, ApplyAndVerifyGiveTheCliOutcomeAndText) {
  SimProcess windowSim("wired", {});
  SimProcess cliSim("wired", {});
  ASSERT_TRUE(windowSim.running() && cliSim.running());
  connectWired(windowSim);
  const std::string cliPort = "--port " + cliSim.linkPath();
  const std::string cliPorts = "QUARN_VIRTUAL_PORTS='" + cliSim.portEntry() + "'";

  runItem("Apply settings file…", {answerChooser("Apply settings file", goodFile)});
  const CliRun cliApply = runCli(dir, cliPorts, cliPort + " apply " + goodFile);
  ASSERT_EQ(cliApply.exitCode, 0) << cliApply.err;
  EXPECT_EQ(status() + "\n", cliApply.out);
  EXPECT_EQ(windowSim.transcriptMatching({"Set Data"}).size(), cliSim.transcriptMatching({"Set Data"}).size());

  // What was applied verifies; a file that differs names each field as quarn-cli does.
  runItem("Verify against settings file…", {answerChooser("Verify against settings file", goodFile)});
  EXPECT_EQ(status(), "as the file says");
  EXPECT_EQ(runCli(dir, cliPorts, cliPort + " verify " + goodFile).out, "as the file says\n");
  std::string other = readAll(goodFile);
  other.replace(other.find("\"12345678\""), 10, "\"12345679\"");
  const std::string otherFile = dir.write("other.json", other);
  const size_t logBefore = logContent().size();
  runItem("Verify against settings file…", {answerChooser("Verify against settings file", otherFile)});
  const CliRun cliVerify = runCli(dir, cliPorts, cliPort + " verify " + otherFile);
  EXPECT_EQ(cliVerify.exitCode, 5);
  EXPECT_EQ(cliVerify.out, "slot1.deviceId: file 12345679, converter 12345678\n");
  EXPECT_NE(logContent().find(cliVerify.out, logBefore), std::string::npos) << logContent().substr(logBefore);
  EXPECT_EQ(status(), otherFile + ": 1 field differs");
  EXPECT_NE(cliVerify.err.find(otherFile + ": 1 field differs"), std::string::npos) << cliVerify.err;
}

TEST_F(JobsTest, ApplyWithoutAConnectionSendsNothing) {
  runItem("Apply settings file…", {});
  EXPECT_EQ(status(), "Not connected: connect to a converter first.");
}

TEST_F(JobsTest, SitePlanChecksAppliesAndVerifiesWithTheCliResults) {
  const std::string converters = dir.write("site.txt", std::string("D0000001 ") + simKey + "\n");
  const std::string plan = dir.write("plan.csv", std::string("converter,key\nD0000001,") + simKey + "\n");
  SimProcess windowSim("dongle", {"--converters", converters});
  SimProcess cliSim("dongle", {"--converters", converters});
  ASSERT_TRUE(windowSim.running() && cliSim.running());
  setenv("QUARN_VIRTUAL_PORTS", windowSim.portEntry().c_str(), 1);
  const std::string report = dir.path() + "/window.json";

  DialogScript check({answerSitePlan(plan, goodFile, "", "Check")});
  runWithDialogs(check, [&] { chooseFileItem(w, "Site plan…"); });
  EXPECT_EQ(status(), "1 converters, 0 meters: IDs, keys and ports found, template fits");

  DialogScript apply({answerSitePlan(plan, goodFile, report, "Apply")});
  runWithDialogs(apply, [&] { chooseFileItem(w, "Site plan…"); });
  EXPECT_NE(logContent().find("[1/1] D0000001 done, verified\n"), std::string::npos) << logContent();
  EXPECT_EQ(status(), "1 done, 0 failed, 0 not heard; report written to " + report);

  const std::string cliEnvironment = "QUARN_VIRTUAL_PORTS='" + cliSim.portEntry() + "'";
  const CliRun cli = runCli(dir, cliEnvironment, "--template " + goodFile + " --report " + dir.path() +
                                                     "/cli.json site apply " + plan);
  ASSERT_EQ(cli.exitCode, 0) << cli.err;
  EXPECT_NE(cli.err.find("[1/1] D0000001 done, verified\n"), std::string::npos) << cli.err;
  EXPECT_NE(cli.out.find("1 done, 0 failed, 0 not heard\n"), std::string::npos) << cli.out;
  // The same report, but for the plan's path it names.
  nlohmann::json windowReport = nlohmann::json::parse(readAll(report));
  nlohmann::json cliReport = nlohmann::json::parse(readAll(dir.path() + "/cli.json"));
  EXPECT_EQ(windowReport["complete"], true);
  EXPECT_EQ(windowReport["converters"], cliReport["converters"]);

  DialogScript verify({answerSitePlan(plan, goodFile, "", "Verify")});
  runWithDialogs(verify, [&] { chooseFileItem(w, "Site plan…"); });
  EXPECT_NE(logContent().find("[1/1] D0000001 as planned\n"), std::string::npos) << logContent();
  EXPECT_EQ(status(), "1 done, 0 failed, 0 not heard");
}

}  // namespace
