// Starting xdg-open for the help page and collecting it when it has ended.
#include "app/help_opener.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

size_t helpPageLocation(char* dest, size_t capacity) {
  if (capacity == 0) return 0;
  char directory[4096];
  if (getcwd(directory, sizeof directory) == nullptr) directory[0] = '\0';
  const int written = directory[0] != '\0'
                          ? std::snprintf(dest, capacity, "%s/%s", directory, helpPagePath)
                          : std::snprintf(dest, capacity, "%s", helpPagePath);
  if (written < 0) {
    dest[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(written) < capacity ? static_cast<size_t>(written) : capacity - 1;
}

int reapHelpViewers(HelpViewers& viewers) {
  int running = 0;
  for (pid_t& pid : viewers.pids) {
    if (pid <= 0) continue;
    const pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) {
      pid = 0;
    } else {
      ++running;
    }
  }
  return running;
}

int openHelpPage(const char* path, HelpViewers& viewers) {
  reapHelpViewers(viewers);
  if (access(path, R_OK) != 0) {
    std::printf("Help page not found: %s\n", path);
    return 0;
  }
  char program[] = "xdg-open";
  char* argv[] = {program, const_cast<char*>(path), nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
  if (error != 0) {
    std::printf("Cannot start xdg-open for the help page: %s\n", std::strerror(error));
    return 0;
  }
  for (pid_t& slot : viewers.pids) {
    if (slot == 0) {
      slot = pid;
      break;
    }
  }
  return 1;
}
