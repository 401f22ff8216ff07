// For the tests that run the real program: an X server of their own and the shell commands
// (xdotool, import) they drive it with.
#pragma once
#include <sys/types.h>

#include <string>

// Runs a shell command and returns what it printed on standard output.
std::string runCommand(const std::string& command);

// Polls the child every 50 ms for up to milliseconds; true once it has ended, status set.
bool waitForExit(pid_t pid, int& status, int milliseconds);

// Starts program in dir with HOME set to home for it alone, its standard output into
// stdoutPath unless that is empty; returns posix_spawn's error (0 when started).
int spawnProgram(const std::string& program, const std::string& dir, const std::string& home,
                 const std::string& stdoutPath, pid_t& pid);
// The same with its standard output on an open descriptor.
int spawnProgramOnFd(const std::string& program, const std::string& dir, const std::string& home, int stdoutFd,
                     pid_t& pid);

// A private Xvfb on a display number of its own; start() returns once the server answers.
struct PrivateDisplay {
  pid_t pid = 0;
  std::string name;

  bool start();
  ~PrivateDisplay();
};
