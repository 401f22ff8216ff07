// Starts the quarn program as a user would, checks that its window appears centred at its
// size, and ends it with Ctrl+Q typed through the X server. It runs on an X server of its own,
// so windows of other tests (with the same title) cannot be mistaken for it or take the focus.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "private_display.h"

namespace {

// "KEY=value" lines of xdotool's --shell output.
std::map<std::string, int> shellValues(const std::string& text) {
  std::map<std::string, int> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
  }
  return values;
}

TEST(StartQuit, WindowAppearsCentredAndCtrlQEndsTheProgram) {
  ASSERT_EQ(std::system("command -v xdotool >/dev/null"), 0) << "xdotool is needed";
  PrivateDisplay display;
  ASSERT_TRUE(display.start()) << "Xvfb did not start";
  setenv("DISPLAY", display.name.c_str(), 1);

  char pattern[] = "/tmp/quarn-start-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::ofstream(dir + "/Quarnconfig.txt") << "first line\n00112233445566778899AABBCCDDEEFF\n";
  // Quarn writes nothing to disk: neither the toolkit's settings below HOME nor anything in
  // the working folder.
  const std::string home = dir + "/home";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  pid_t pid = 0;
  ASSERT_EQ(spawnProgram(QUARN_BINARY_DIR "/app/quarn", dir, home, "", pid), 0);

  // The window manager's part is absent: no decorations, so the window's own size is checked.
  const std::string found = runCommand("timeout 15 xdotool search --sync --onlyvisible --name '^Quarn v1.3.0$' 2>/dev/null");
  const std::string window = found.substr(0, found.find('\n'));
  ASSERT_FALSE(window.empty()) << "no window titled Quarn v1.3.0";

  std::map<std::string, int> geometry = shellValues(runCommand("xdotool getwindowgeometry --shell " + window));
  std::map<std::string, int> screen;
  std::istringstream size(runCommand("xdotool getdisplaygeometry"));
  size >> screen["WIDTH"] >> screen["HEIGHT"];
  EXPECT_EQ(geometry["WIDTH"], 1340);
  EXPECT_EQ(geometry["HEIGHT"], 850);
  if (screen["WIDTH"] >= 1340 && screen["HEIGHT"] >= 850) {
    EXPECT_NEAR(geometry["X"], (screen["WIDTH"] - 1340) / 2, 1);
    EXPECT_NEAR(geometry["Y"], (screen["HEIGHT"] - 850) / 2, 1);
  }

  // The start-up dialogs come first; Return takes each one's default button: wireless, no
  // stick found, the first port in the list, and the error box should that port not open.
  EXPECT_FALSE(runCommand("timeout 10 xdotool search --sync --onlyvisible --name '^Select wired or wireless operation.$' 2>/dev/null").empty());
  const char* const startDialogs[] = {"Select wired or wireless operation.", "USB wireless MBUS dongle not found!",
                                      "Select wired parameters.", "Quarn"};
  for (int quiet = 0, round = 0; quiet < 5 && round < 100; ++round) {
    bool answered = false;
    for (const char* title : startDialogs) {
      const std::string shown = runCommand(std::string("xdotool search --onlyvisible --name '^") + title + "$' 2>/dev/null");
      if (shown.empty()) continue;
      runCommand("xdotool windowfocus --sync " + shown.substr(0, shown.find('\n')) + " 2>/dev/null; xdotool key Return 2>/dev/null");
      answered = true;
    }
    quiet = answered ? 0 : quiet + 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  runCommand("xdotool windowfocus --sync " + window + " 2>/dev/null; xdotool key ctrl+q 2>/dev/null");
  int status = 0;
  const bool ended = waitForExit(pid, status, 5000);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(ended) << "Ctrl+Q did not end the program";
  if (ended) {
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(runCommand("cd '" + dir + "' && find . -mindepth 1 | sort"), "./Quarnconfig.txt\n./home\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

// Every xdotool call here connects and leaves. Two streams of them overlap, so one often leaves
// as the other arrives: a server that resets when its last client leaves drops the newcomer
// (about one call in twenty here), which is how a program under test fails to open its display.
TEST(PrivateDisplayTest, ClientsComingAndGoingAreNeverDropped) {
  ASSERT_EQ(std::system("command -v xdotool >/dev/null"), 0) << "xdotool is needed";
  PrivateDisplay display;
  ASSERT_TRUE(display.start()) << "Xvfb did not start";
  const std::string stream = "for i in $(seq 150); do DISPLAY=" + display.name +
                             " xdotool getdisplaygeometry >/dev/null 2>&1 || echo x; done";
  const std::string dropped = runCommand("(" + stream + ") & (" + stream + "); wait");
  EXPECT_EQ(dropped.size() / 2, 0u) << "connections of 300 dropped by the server";
}

}  // namespace
