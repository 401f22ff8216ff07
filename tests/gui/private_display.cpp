#include "private_display.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

extern char** environ;

std::string runCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  return out;
}

bool waitForExit(pid_t pid, int& status, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

namespace {

int spawnWith(const std::string& program, const std::string& dir, const std::string& home,
              posix_spawn_file_actions_t& actions, pid_t& pid) {
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  setenv("HOME", savedHome.c_str(), 1);
  return error;
}

}  // namespace

int spawnProgram(const std::string& program, const std::string& dir, const std::string& home,
                 const std::string& stdoutPath, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdoutPath.empty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return spawnWith(program, dir, home, actions, pid);
}

int spawnProgramOnFd(const std::string& program, const std::string& dir, const std::string& home, int stdoutFd,
                     pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  return spawnWith(program, dir, home, actions, pid);
}

namespace {

// The pid the X server's lock file for display number holds, or 0.
pid_t lockHolder(int number) {
  FILE* lock = std::fopen(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), "r");
  if (lock == nullptr) return 0;
  long holder = 0;
  if (std::fscanf(lock, "%ld", &holder) != 1) holder = 0;
  std::fclose(lock);
  return static_cast<pid_t>(holder);
}

bool answers(int number) {
  return !runCommand("DISPLAY=:" + std::to_string(number) + " xdotool getdisplaygeometry 2>/dev/null").empty();
}

}  // namespace

// Numbers from a range nobody else here uses, spread by pid so that tests running side by side
// seldom try the same one; a number is ours only when its lock file names our server and the
// server answers. -noreset because by default the server resets whenever its last client
// leaves, and drops any client that connected meanwhile: each xdotool call is such a client, so
// the program under test could fail to open its display at all.
bool PrivateDisplay::start() {
  const int first = 1000 + static_cast<int>(getpid() % 1000);
  for (int number = first; number < first + 20; ++number) {
    if (lockHolder(number) != 0) continue;
    const std::string display = ":" + std::to_string(number);
    const char* argv[] = {"Xvfb",     display.c_str(), "-screen", "0",      "1600x1000x24",
                          "-nolisten", "tcp",           "-noreset", nullptr};
    if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid = 0;
      return false;
    }
    int status = 0;
    for (int waited = 0; waited < 10000; waited += 50) {
      if (lockHolder(number) == pid && answers(number)) {
        name = display;
        return true;
      }
      if (waitpid(pid, &status, WNOHANG) == pid) break;  // the number was taken after all
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = 0;
  }
  return false;
}

PrivateDisplay::~PrivateDisplay() {
  if (pid > 0) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
}
