// The real quarn-cli checking site plans: exit codes, the listing of every problem, JSON.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/read_text.h"

namespace {

struct Home {
  std::string path;
  Home() {
    char tmpl[] = "/tmp/quarn-site-cli-XXXXXX";
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

Result siteCheck(const Home& home, const std::string& arguments) {
  const std::string out = home.path + "/out.txt", err = home.path + "/err.txt";
  const int status = std::system((std::string(QUARN_CLI_PATH) + " --home " + home.path + " " + arguments +
                                  " >" + out + " 2>" + err).c_str());
  return Result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
}

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
  EXPECT_EQ(usage.err, "quarn-cli: site check|apply|verify|export PLAN\n");
  const Result noTemplate = siteCheck(home, "site apply " QUARN_SOURCE_DIR "/examples/site-plan.csv");
  EXPECT_EQ(noTemplate.exitCode, 2);
  EXPECT_EQ(noTemplate.err, "quarn-cli: site apply needs --template FILE for what the plan's columns leave out\n");
}

}  // namespace
