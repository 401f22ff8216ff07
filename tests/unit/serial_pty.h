// A real pseudo-terminal pair for the serial tests: the far side is the master.
#pragma once
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

struct PtyPair {
  int master = -1;
  std::string slavePath;

  PtyPair() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
      slavePath = name;
      close(slave);
      fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
  }
  ~PtyPair() { hangUp(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  void hangUp() {
    if (master >= 0) close(master);
    master = -1;
  }

  void send(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = write(master, bytes.data() + done, bytes.size() - done);
      if (put > 0) done += static_cast<size_t>(put);
      else if (put < 0 && errno != EAGAIN && errno != EINTR) break;
    }
  }

  // Reads what the near side wrote, waiting up to waitMs for the first byte.
  std::vector<uint8_t> received(int waitMs = 200) const {
    std::vector<uint8_t> out;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return out;
    usleep(5000);
    uint8_t buffer[4096];
    for (;;) {
      ssize_t got = read(master, buffer, sizeof buffer);
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }
};

// Runs fn with standard output captured, returning what it printed.
template <typename Fn>
std::string captureStdout(Fn fn) {
  std::fflush(stdout);
  char path[] = "/tmp/quarn-serial-outXXXXXX";
  int file = mkstemp(path);
  int saved = dup(1);
  dup2(file, 1);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  lseek(file, 0, SEEK_SET);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(file, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  close(file);
  unlink(path);
  return text;
}
