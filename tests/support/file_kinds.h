// Every kind of directory entry a start-up file can turn out to be, made on demand, for the
// tests that check the readers skip all but regular files without hanging.
#pragma once
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

struct FileKind {
  const char* name;
  // Makes the entry at path; content is written where the kind holds any.
  bool (*make)(const std::string& path, const std::string& content);
  bool loadsAsRoot;
  bool loadsAsUser;

  bool loads() const { return geteuid() == 0 ? loadsAsRoot : loadsAsUser; }
};

namespace fileKinds {

inline bool writeFile(const std::string& path, const std::string& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && written;
}

inline bool regular(const std::string& path, const std::string& content) {
  return writeFile(path, content);
}
inline bool missing(const std::string&, const std::string&) { return true; }
inline bool directory(const std::string& path, const std::string&) {
  return mkdir(path.c_str(), 0755) == 0;
}
// No writer ever opens it: a blocking open would wait forever.
inline bool fifo(const std::string& path, const std::string&) {
  return mkfifo(path.c_str(), 0644) == 0;
}
inline bool linkTo(const char* target, const std::string& path) {
  return symlink(target, path.c_str()) == 0;
}
// Endless zeros: a reader that takes them as text spins for ever.
inline bool zeroLink(const std::string& path, const std::string&) {
  return linkTo("/dev/zero", path);
}
inline bool urandomLink(const std::string& path, const std::string&) {
  return linkTo("/dev/urandom", path);
}
inline bool nullLink(const std::string& path, const std::string&) {
  return linkTo("/dev/null", path);
}
// A pseudo-terminal master opens at once, and a read of it waits for a slave that never writes.
inline bool ptmxLink(const std::string& path, const std::string&) {
  return linkTo("/dev/ptmx", path);
}
// Root reads it whatever its mode; anybody else cannot.
inline bool unreadable(const std::string& path, const std::string& content) {
  return writeFile(path, content) && chmod(path.c_str(), 0) == 0;
}
inline bool dangling(const std::string& path, const std::string&) {
  return linkTo((path + "-nowhere").c_str(), path);
}

}  // namespace fileKinds

inline const FileKind allFileKinds[] = {
    {"regular file", fileKinds::regular, true, true},
    {"missing", fileKinds::missing, false, false},
    {"directory", fileKinds::directory, false, false},
    {"FIFO", fileKinds::fifo, false, false},
    {"link to /dev/zero", fileKinds::zeroLink, false, false},
    {"link to /dev/urandom", fileKinds::urandomLink, false, false},
    {"link to /dev/null", fileKinds::nullLink, false, false},
    {"link to a character device that blocks (/dev/ptmx)", fileKinds::ptmxLink, false, false},
    {"mode 000", fileKinds::unreadable, true, false},
    {"dangling link", fileKinds::dangling, false, false},
};

// A reader that hangs ends the test program with SIGALRM instead of stalling the run.
class ReadDeadline {
public:
  explicit ReadDeadline(unsigned seconds) : start_(std::chrono::steady_clock::now()) {
    signal(SIGALRM, SIG_DFL);
    alarm(seconds);
  }
  ~ReadDeadline() { alarm(0); }
  ReadDeadline(const ReadDeadline&) = delete;
  ReadDeadline& operator=(const ReadDeadline&) = delete;

  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

private:
  std::chrono::steady_clock::time_point start_;
};
