// Starting xdg-open for the help page and collecting it when it has ended.
#include "app/help_opener.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
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

namespace {

// The descriptor that becomes readable when pid ends, or -1 where the kernel has none.
int processEndDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) return static_cast<int>(fd);
#endif
  (void)pid;
  return -1;
}

void forgetViewer(HelpViewers& viewers, int slot) {
  if (viewers.ends[slot] >= 0) close(viewers.ends[slot]);
  if (viewers.lastEnd == viewers.ends[slot]) viewers.lastEnd = -1;
  viewers.ends[slot] = -1;
  viewers.pids[slot] = 0;
}

int traceFailure(std::string* failure, const std::string& text) {
  std::printf("%s\n", text.c_str());
  if (failure != nullptr) *failure = text;
  return 0;
}

}  // namespace

int reapHelpViewers(HelpViewers& viewers) {
  int running = 0;
  for (int slot = 0; slot < helpViewerSlots; ++slot) {
    const pid_t pid = viewers.pids[slot];
    if (pid <= 0) continue;
    const pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) {
      forgetViewer(viewers, slot);
    } else {
      ++running;
    }
  }
  return running;
}

int collectEndedHelpViewers(HelpViewers& viewers) {
  int failed = 0;
  for (int slot = 0; slot < helpViewerSlots; ++slot) {
    if (viewers.pids[slot] <= 0 || viewers.ends[slot] < 0) continue;
    pollfd end{viewers.ends[slot], POLLIN, 0};
    if (poll(&end, 1, 0) != 1) continue;
    int status = 0;
    // Readable means ended: this wait returns at once.
    if (waitpid(viewers.pids[slot], &status, 0) == viewers.pids[slot] &&
        (!WIFEXITED(status) || WEXITSTATUS(status) != 0))
      ++failed;
    forgetViewer(viewers, slot);
  }
  return failed;
}

std::string helpNotOpenedText(const char* path) {
  return std::string("No program could open the help page ") + path;
}

int openHelpPage(const char* path, HelpViewers& viewers, std::string* failure) {
  reapHelpViewers(viewers);
  viewers.lastEnd = -1;
  if (access(path, R_OK) != 0) return traceFailure(failure, std::string("Help page not found: ") + path);
  char program[] = "xdg-open";
  char* argv[] = {program, const_cast<char*>(path), nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
  if (error != 0)
    return traceFailure(failure, std::string("Cannot start xdg-open for the help page: ") + std::strerror(error));
  for (int slot = 0; slot < helpViewerSlots; ++slot) {
    if (viewers.pids[slot] == 0) {
      viewers.pids[slot] = pid;
      viewers.ends[slot] = processEndDescriptor(pid);
      viewers.lastEnd = viewers.ends[slot];
      break;
    }
  }
  return 1;
}
