// The real quarn-cli writing a site report: rendered once in headless Chromium and read back
// from the PDF and its raster, made from the report site apply writes, and the files and inputs
// it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/sim_harness.h"
#include "tests/support/read_text.h"
#include "tests/support/temp_folder.h"

namespace {

const char planText[] =
    "converter,link,slot1,slot2,slot3\n"
    "11111111,wireless,AAAA0001,AAAA0002,AAAA0003\n"
    "22222222,wireless,BBBB0001,BBBB0002,\n";

const char applyText[] = R"({"command":"site apply","complete":true,"converters":[
  {"converter":"11111111","status":"done","verified":true,"written":["slot 1","slot 2","slot 3","slot 4"]},
  {"converter":"22222222","status":"failed","verified":false,"step":"Set Data of slot 2","reason":"no answer",
   "written":["slot 1"]}]})";

// Every planned meter heard but BBBB0002; each verdict its own check value.
const char surveyText[] = R"({"converters":[
  {"converter":"11111111","meters":[
    {"id":"AAAA0001","frames":31,"scans":3,"rssiMinDbm":-88,"rssiMeanDbm":-71,"rssiMaxDbm":-62,"verdict":"right","kcv":"A1B2C3"},
    {"id":"AAAA0002","frames":12,"scans":5,"rssiMinDbm":-97,"rssiMeanDbm":-92,"rssiMaxDbm":-86,"verdict":"wrong","kcv":"0F9E11"},
    {"id":"AAAA0003","frames":8,"scans":3,"rssiMinDbm":-60,"rssiMeanDbm":-55,"rssiMaxDbm":-49,"verdict":"plain","kcv":null}],
   "rssiSamples":{"AAAA0002":[[0,-97],[10,-93],[20,-86],[30,-92],[40,-90]]}},
  {"converter":"22222222","meters":[
    {"id":"BBBB0001","frames":5,"scans":2,"rssiMinDbm":-80,"rssiMeanDbm":-78,"rssiMaxDbm":-76,"verdict":"reversed","kcv":"5C2E90"}]}]})";

struct Folder {
  TempFolder temp{"quarn-site-report"};
  std::string path = temp.path().string();
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path + "/" + name, std::ios::binary) << text;
    return path + "/" + name;
  }
};

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

Outcome run(const Folder& folder, const std::string& command) {
  const std::string out = folder.path + "/stdout", err = folder.path + "/stderr";
  const int status = std::system((command + " >" + out + " 2>" + err).c_str());
  return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
}

Outcome report(const Folder& folder, const std::string& arguments) {
  return run(folder, std::string(QUARN_CLI_PATH) + " site report " + arguments);
}

// A binary PPM (P6, 8 bits) as pdftoppm writes it.
struct Raster {
  int width = 0, height = 0;
  std::string pixels;
};

bool readPpm(const std::string& path, Raster& r) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int depth = 0;
  in >> magic >> r.width >> r.height >> depth;
  in.get();
  if (magic != "P6" || depth != 255 || r.width <= 0 || r.height <= 0) return false;
  r.pixels.resize(size_t(r.width) * size_t(r.height) * 3);
  return bool(in.read(&r.pixels[0], std::streamsize(r.pixels.size())));
}

// Pixels within tolerance of the colour; antialiased edges fall outside, the fill does not.
size_t pixelsNear(const Raster& r, int red, int green, int blue, int tolerance) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < r.pixels.size(); i += 3) {
    const int d[] = {static_cast<unsigned char>(r.pixels[i]) - red, static_cast<unsigned char>(r.pixels[i + 1]) - green,
                     static_cast<unsigned char>(r.pixels[i + 2]) - blue};
    n += std::abs(d[0]) <= tolerance && std::abs(d[1]) <= tolerance && std::abs(d[2]) <= tolerance;
  }
  return n;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST(SiteReportCli, RendersInChromiumWithEveryPlannedMeter) {
  Folder f;
  ASSERT_FALSE(f.path.empty());
  const std::string plan = f.write("plan.csv", planText);
  f.write("apply.json", applyText);
  f.write("survey.json", surveyText);
  const std::string html = f.path + "/report.html";
  Outcome r = report(f, plan + " --apply-report " + f.path + "/apply.json --survey " + f.path + "/survey.json --html " + html);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, html + ": 2 converters (0 done, 2 pending), 5 planned meters (4 heard, 2 with a working key)\n");

  // One render. The sandbox needs namespaces that neither root in a container nor the test
  // account has; the page is our own.
  const std::string pdf = f.path + "/report.pdf";
  r = run(f, "HOME=" + f.path + " XDG_CONFIG_HOME=" + f.path + " XDG_CACHE_HOME=" + f.path +
                 " timeout 90 chromium --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir=" + f.path +
                 "/profile --no-pdf-header-footer --print-to-pdf=" + pdf + " file://" + html);
  ASSERT_EQ(r.exitCode, 0) << "chromium (scripts/install-deps.sh installs it): " << r.err;

  r = run(f, "pdfinfo " + pdf);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("(A4)"), std::string::npos) << r.out;
  r = run(f, "pdftotext -layout " + pdf + " -");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string text = r.out;
  // Each planned meter's row: its ID with what the survey said of it, within the lines of its
  // row (a cell that wraps puts its words on the lines above and below the ID's).
  const std::vector<std::vector<std::string>> rows = {{"AAAA0001", "right", "A1B2C3"}, {"AAAA0002", "wrong", "0F9E11"},
                                                      {"AAAA0003", "plain", "none"},   {"BBBB0001", "reversed", "5C2E90"},
                                                      {"BBBB0002", "not", "heard", "written"}};
  for (const auto& row : rows) {
    bool found = false;
    for (size_t at = text.find(row[0]); at != std::string::npos && !found; at = text.find(row[0], at + 1)) {
      const size_t lineStart = text.rfind('\n', at);
      const size_t before = lineStart == std::string::npos || lineStart == 0 ? 0 : text.rfind('\n', lineStart - 1);
      size_t after = text.find('\n', at);
      if (after != std::string::npos) after = text.find('\n', after + 1);
      const std::string lines = text.substr(before == std::string::npos ? 0 : before, after - before);
      found = true;
      for (const std::string& word : row) found = found && lines.find(word) != std::string::npos;
    }
    EXPECT_TRUE(found) << row[0] << " " << row[1] << " " << row[2] << " in:\n" << text;
  }
  // The summary line, each converter's summary row and heading.
  EXPECT_EQ(count(text, "pending"), 5u) << text;
  EXPECT_NE(text.find("Quarn 1."), std::string::npos);

  // The first page drawn: not blank, with the charts' bars in their colour.
  r = run(f, "pdftoppm -r 72 -f 1 -l 1 " + pdf + " " + f.path + "/page");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Raster page;
  ASSERT_TRUE(readPpm(f.path + "/page-1.ppm", page));
  const size_t all = size_t(page.width) * size_t(page.height);
  EXPECT_GT(all - pixelsNear(page, 255, 255, 255, 8), all / 50);
  // Three bars of 10 points' height and at least 2 points' width, and the line over time.
  EXPECT_GT(pixelsNear(page, 0x1F, 0x77, 0xB4, 12), 60u);
  EXPECT_GT(pixelsNear(page, 0xD6, 0x27, 0x28, 12), 10u);  // the means
}

// The report site apply writes, as it writes it, read by site report: one converter done, one
// never heard.
TEST(SiteReportCli, ReadsTheReportSiteApplyWrites) {
  Folder f;
  ASSERT_FALSE(f.path.empty());
  const std::string key = "000102030405060708090A0B0C0D0E0F";
  ASSERT_EQ(mkdir((f.path + "/meterKeys").c_str(), 0700), 0);
  f.write("meterKeys/meters.txt", "m;11110001;00112233445566778899AABBCCDDEEF1\n");
  const std::string converters = f.write("site.txt", "C0000001 " + key + "\nC0000002 " + key + " silent\n");
  const std::string plan = f.write("plan.csv", "converter,slot1\nC0000001,11110001\nC0000002,\n");
  SimProcess sim("dongle", {"--converters", converters});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const std::string cli = "QUARN_VIRTUAL_PORTS='" + sim.portEntry() + "' " + QUARN_CLI_PATH + " --home " + f.path;
  Outcome r = run(f, cli + " --key " + key + " --timeout 2 --template " + QUARN_SOURCE_DIR +
                         "/tests/data/settings/good.json --report " + f.path + "/day1.json site apply " + plan);
  ASSERT_EQ(r.exitCode, 4) << r.err;
  sim.stop();
  const std::string html = f.path + "/report.html";
  r = report(f, plan + " --apply-report " + f.path + "/day1.json --html " + html);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string page = readText(html);
  EXPECT_NE(page.find("written and read back: slot 1, slot 2, slot 3, slot 4, option bits"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"good\">verified</td>"), std::string::npos);
  EXPECT_NE(page.find("settings: not heard"), std::string::npos);
  // The apply report carries the planned keys; the page never does.
  EXPECT_EQ(page.find("00112233445566778899AABBCCDDEEF1"), std::string::npos);
  EXPECT_EQ(page.find(key), std::string::npos);
}

TEST(SiteReportCli, RefusesBadInputsAndAnOutputItReads) {
  Folder f;
  ASSERT_FALSE(f.path.empty());
  const std::string plan = f.write("plan.csv", planText);
  const std::string survey = f.write("survey.json", surveyText);
  const std::string bad = f.write("bad.json", R"({"converters":[{"converter":"11111111","meters":[{"id":"AAAA0001"}]}]})");
  const std::string apply = f.write("apply.json", R"({"converters":[{"converter":"11111111","status":1}]})");
  const std::string p = plan + " ";
  const struct {
    std::string arguments, error;
  } cases[] = {
      {p, "quarn-cli: site report needs --html OUT.html\n"},
      {p + "--json --html " + f.path + "/out.html", "quarn-cli: site report writes HTML; --json is not for it\n"},
      {p + "--survey " + bad + " --html " + f.path + "/out.html",
       "quarn-cli: --survey: " + bad + ": converters[0].meters[0].frames: missing\n"},
      {p + "--apply-report " + apply + " --html " + f.path + "/out.html",
       "quarn-cli: --apply-report: " + apply + ": converters[0].status: expected a string\n"},
      {p + "--survey " + survey + " --html " + survey,
       "quarn-cli: --html " + survey + ": is " + survey + ", which the report is made from; not replaced\n"},
      {p + "--html " + f.path + "/../" + f.temp.path().filename().string() + "/plan.csv",
       "quarn-cli: --html " + f.path + "/../" + f.temp.path().filename().string() + "/plan.csv: is " + plan +
           ", which the report is made from; not replaced\n"},
  };
  for (const auto& c : cases) {
    const Outcome r = report(f, c.arguments);
    EXPECT_EQ(r.exitCode, 2) << c.arguments;
    EXPECT_EQ(r.err, c.error) << c.arguments;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(readText(survey), surveyText);
  EXPECT_EQ(readText(plan), planText);
  struct stat info {};
  EXPECT_EQ(stat((f.path + "/out.html").c_str(), &info), -1);
}

}  // namespace
