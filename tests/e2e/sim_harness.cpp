// quarn-sim child processes for the end-to-end tests.
#include "sim_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

#ifndef QUARN_SIM_PATH
#error "QUARN_SIM_PATH must name the quarn-sim binary"
#endif

namespace {

constexpr int stopWaitMs = 2000;
constexpr size_t entryMax = 1024;

int64_t nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string makeTempDir() {
  char pattern[] = "/tmp/quarn-e2e-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made ? std::string(made) : std::string();
}

// Reads one line from fd within the deadline; false on time-out, end of file or error.
bool readLine(int fd, int64_t deadline, std::string& line) {
  line.clear();
  while (line.size() < entryMax) {
    int left = static_cast<int>(deadline - nowMs());
    if (left <= 0) return false;
    struct pollfd pfd = {fd, POLLIN, 0};
    int rc = poll(&pfd, 1, left);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    char c = 0;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line.push_back(c);
  }
  return false;
}

}  // namespace

std::string hexText(const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text.push_back(digits[bytes[i] >> 4]);
    text.push_back(digits[bytes[i] & 0x0F]);
  }
  return text;
}

void removeFlatDirectory(const std::string& path) {
  if (path.empty()) return;
  if (DIR* dir = opendir(path.c_str())) {
    while (struct dirent* e = readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      unlink((path + "/" + e->d_name).c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

TempDir::TempDir() : path_(makeTempDir()) {}
TempDir::~TempDir() { removeFlatDirectory(path_); }

std::string TempDir::write(const std::string& name, const std::string& text) const {
  std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out << text;
  return file;
}

SimProcess::SimProcess(const std::string& role, const std::vector<std::string>& extra) {
  dir_ = makeTempDir();
  if (dir_.empty()) {
    failure_ = "mkdtemp failed";
    return;
  }
  link_ = dir_ + "/ttySIM0";
  transcriptPath_ = dir_ + "/transcript.txt";
  std::vector<std::string> args = {QUARN_SIM_PATH, "--role", role, "--link", link_,
                                   "--transcript", transcriptPath_, "--exit-after", "120"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    failure_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    pid_ = -1;
    close(out[0]);
    failure_ = std::string("posix_spawn: ") + std::strerror(rc);
    return;
  }
  const int64_t deadline = nowMs() + simWaitMs;
  bool gotLine = readLine(out[0], deadline, entry_);
  close(out[0]);  // nothing else comes on stdout; a later write just fails with EPIPE there
  if (!gotLine) {
    failure_ = "quarn-sim printed no port entry";
    return;
  }
  struct stat st;
  while (stat(link_.c_str(), &st) != 0) {
    if (nowMs() >= deadline) {
      failure_ = "the link " + link_ + " did not appear";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(simPollStepMs));
  }
  ready_ = true;
}

SimProcess::~SimProcess() {
  stop();
  removeFlatDirectory(dir_);
}

void SimProcess::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const int64_t deadline = nowMs() + stopWaitMs;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (nowMs() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(simPollStepMs));
  }
  pid_ = -1;
}

std::vector<std::string> SimProcess::transcript() const {
  std::vector<std::string> lines;
  std::ifstream in(transcriptPath_);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> SimProcess::transcriptMatching(
    const std::vector<std::string>& texts) const {
  std::vector<std::string> found;
  for (const std::string& line : transcript()) {
    bool all = true;
    for (const std::string& t : texts) all = all && line.find(t) != std::string::npos;
    if (all) found.push_back(line);
  }
  return found;
}

bool tickUntil(const std::function<void()>& step, const std::function<bool()>& done,
               int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  while (!done()) {
    if (nowMs() >= deadline) return done();
    step();
    std::this_thread::sleep_for(std::chrono::milliseconds(simPollStepMs));
  }
  return true;
}

void tickFor(const std::function<void()>& step, int durationMs) {
  const int64_t deadline = nowMs() + durationMs;
  while (nowMs() < deadline) {
    step();
    std::this_thread::sleep_for(std::chrono::milliseconds(simPollStepMs));
  }
}
