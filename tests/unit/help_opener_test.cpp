// Starting the help viewer: the path handed over, no waiting, no zombies, no crash when
// the viewer or the page is missing.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "app/help_opener.h"
#include "tests/support/read_text.h"
#include "tests/support/temp_folder.h"

namespace {

class HelpOpenerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(mkdir((dir + "/bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/help").c_str(), 0755), 0);
    std::ofstream(dir + "/help/index.html") << "<html></html>\n";
    savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    savedCwd = cwd;
  }
  void TearDown() override {
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(chdir(savedCwd.c_str()), 0);
  }

  // A stand-in viewer that records its arguments, lingers for `seconds` and exits with code
  // (xdg-open gives 3 when it finds no program for the page).
  void installViewer(double seconds, int code = 0) {
    const std::string script = dir + "/bin/xdg-open";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" << dir << "/args.tmp'\nmv '" << dir
                          << "/args.tmp' '" << dir << "/args'\nsleep " << seconds << "\nexit " << code << "\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    setenv("PATH", (dir + "/bin:/usr/bin:/bin").c_str(), 1);
  }

  std::string waitForArgs() {
    for (int i = 0; i < 200; ++i) {
      if (access((dir + "/args").c_str(), R_OK) == 0) return readText(dir + "/args");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }

  TempFolder folder{"quarn-help"};
  const std::string dir = folder.path().string();
  std::string savedPath, savedCwd;
};

TEST_F(HelpOpenerTest, LocationIsBelowTheWorkingDirectory) {
  ASSERT_EQ(chdir(dir.c_str()), 0);
  char path[4200];
  const size_t length = helpPageLocation(path, sizeof path);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(path), std::string(cwd) + "/help/index.html");
  EXPECT_EQ(length, std::string(path).size());
}

TEST_F(HelpOpenerTest, LocationTruncatesToTheBuffer) {
  char path[8];
  EXPECT_EQ(helpPageLocation(path, sizeof path), 7u);
  EXPECT_EQ(std::string(path).size(), 7u);
}

TEST_F(HelpOpenerTest, PathWithSpacesAndQuotesReachesTheViewerAsOneArgument) {
  const std::string odd = dir + "/my 'help' $HOME;x";
  ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
  const std::string page = odd + "/index.html";
  std::ofstream(page) << "x";
  installViewer(0);
  HelpViewers viewers;
  ASSERT_EQ(openHelpPage(page.c_str(), viewers), 1);
  EXPECT_EQ(waitForArgs(), "1|" + page + "|");
}

TEST_F(HelpOpenerTest, DoesNotWaitAndReapsTheViewerLater) {
  installViewer(1.5);
  HelpViewers viewers;
  const std::string page = dir + "/help/index.html";
  ASSERT_EQ(openHelpPage(page.c_str(), viewers), 1);
  const pid_t first = viewers.pids[0];
  ASSERT_GT(first, 0);
  EXPECT_EQ(reapHelpViewers(viewers), 1);  // still running
  EXPECT_EQ(viewers.pids[0], first);

  // Once it has ended, the next reap collects it: waitpid then finds no such child.
  for (int i = 0; i < 150 && reapHelpViewers(viewers) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(viewers.pids[0], 0);
  errno = 0;
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// The viewer's end is seen on its descriptor: collected at once, no zombie, and its exit
// code tells whether a program opened the page.
TEST_F(HelpOpenerTest, AnEndedViewerIsCollectedAndItsFailureCounted) {
  const std::string page = dir + "/help/index.html";
  for (const int code : {3, 0}) {
    SCOPED_TRACE(code);
    installViewer(0, code);
    HelpViewers viewers;
    ASSERT_EQ(openHelpPage(page.c_str(), viewers), 1);
    const pid_t pid = viewers.pids[0];
    ASSERT_GT(pid, 0);
    if (viewers.lastEnd < 0) GTEST_SKIP() << "this kernel gives no process descriptors";
    EXPECT_EQ(viewers.ends[0], viewers.lastEnd);
    pollfd end{viewers.lastEnd, POLLIN, 0};
    ASSERT_EQ(poll(&end, 1, 10000), 1);
    EXPECT_EQ(collectEndedHelpViewers(viewers), code != 0 ? 1 : 0);
    EXPECT_EQ(viewers.pids[0], 0);
    EXPECT_EQ(viewers.ends[0], -1);
    EXPECT_EQ(viewers.lastEnd, -1);
    errno = 0;
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // reaped: no <defunct> left
    EXPECT_EQ(errno, ECHILD);
    std::remove((dir + "/args").c_str());
  }
  EXPECT_EQ(helpNotOpenedText(page.c_str()), "No program could open the help page " + page);
}

TEST_F(HelpOpenerTest, AViewerStillRunningIsNotCollected) {
  installViewer(1);
  HelpViewers viewers;
  const std::string page = dir + "/help/index.html";
  ASSERT_EQ(openHelpPage(page.c_str(), viewers), 1);
  EXPECT_EQ(collectEndedHelpViewers(viewers), 0);
  EXPECT_GT(viewers.pids[0], 0);
  waitpid(viewers.pids[0], nullptr, 0);
}

TEST_F(HelpOpenerTest, MissingViewerGivesATraceLine) {
  setenv("PATH", (dir + "/bin").c_str(), 1);  // no xdg-open there
  HelpViewers viewers;
  const std::string page = dir + "/help/index.html";
  testing::internal::CaptureStdout();
  std::string failure;
  EXPECT_EQ(openHelpPage(page.c_str(), viewers, &failure), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Cannot start xdg-open"), std::string::npos) << out;
  EXPECT_EQ(out, failure + "\n");  // the status line says what the trace says
  for (pid_t pid : viewers.pids) EXPECT_EQ(pid, 0);
}

TEST_F(HelpOpenerTest, MissingPageGivesATraceLineAndStartsNothing) {
  installViewer(0);
  HelpViewers viewers;
  const std::string page = dir + "/nothing/index.html";
  testing::internal::CaptureStdout();
  EXPECT_EQ(openHelpPage(page.c_str(), viewers), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Help page not found: " + page + "\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_NE(access((dir + "/args").c_str(), F_OK), 0);
}

TEST_F(HelpOpenerTest, FullTableStillStartsTheViewer) {
  installViewer(2);
  HelpViewers viewers;
  const std::string page = dir + "/help/index.html";
  for (int i = 0; i < helpViewerSlots + 2; ++i) EXPECT_EQ(openHelpPage(page.c_str(), viewers), 1);
  for (pid_t pid : viewers.pids) EXPECT_GT(pid, 0);
  for (pid_t pid : viewers.pids) waitpid(pid, nullptr, 0);
  // The two untracked ones: collect them here so the test leaves no zombies behind.
  while (waitpid(-1, nullptr, 0) > 0) {
  }
}

}  // namespace
