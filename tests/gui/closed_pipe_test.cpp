// The real quarn program whose standard output nobody reads any more (`quarn | head` after head
// ended, a closed terminal) goes on running past its trace lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "private_display.h"

namespace {

// Asked again and again rather than with --sync: a search that meets a window going away at that
// moment (the connection dialog closing) ends with an X error and finds nothing.
std::string visibleWindow(const std::string& title, int seconds) {
  for (int tries = 0; tries < seconds * 10; ++tries) {
    const std::string found = runCommand("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
    if (!found.empty()) return found;
    usleep(100 * 1000);
  }
  return "";
}

TEST(ClosedPipe, TraceLinesIntoAClosedPipeDoNotEndTheProgram) {
  ASSERT_EQ(std::system("command -v xdotool >/dev/null"), 0) << "xdotool is needed";
  PrivateDisplay display;
  ASSERT_TRUE(display.start()) << "Xvfb did not start";
  setenv("DISPLAY", display.name.c_str(), 1);
  unsetenv("QUARN_VIRTUAL_PORTS");

  char pattern[] = "/tmp/quarn-pipe-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string home = dir + "/home";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);

  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);  // the reader is gone before the first line is written
  pid_t pid = 0;
  ASSERT_EQ(spawnProgramOnFd(QUARN_BINARY_DIR "/app/quarn", dir, home, ends[1], pid), 0);
  close(ends[1]);

  // Return picks "Wireless connection"; the dongle search traces its steps to the closed pipe
  // and only then shows that no stick was found.
  const std::string choice = visibleWindow("Select wired or wireless operation.", 15);
  ASSERT_FALSE(choice.empty());
  runCommand("xdotool windowfocus --sync " + choice.substr(0, choice.find('\n')) + " 2>/dev/null; xdotool key Return");
  const bool notFoundShown = !visibleWindow("USB wireless MBUS dongle not found!", 10).empty();

  int status = 0;
  const bool ended = waitpid(pid, &status, WNOHANG) == pid;
  EXPECT_FALSE(ended) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_TRUE(notFoundShown);

  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
