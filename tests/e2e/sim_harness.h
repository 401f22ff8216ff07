// Runs quarn-sim as a child process on a PTY of its own, and waits for things with a deadline.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

constexpr int simWaitMs = 5000;   // the longest any single wait in the tests may take
constexpr int simPollStepMs = 3;  // pause between two ticks while waiting

// One quarn-sim process: its own temporary directory, link path and transcript.
class SimProcess {
public:
  // role: "wired" or "dongle"; extra: further command-line switches (faults, timing).
  SimProcess(const std::string& role, const std::vector<std::string>& extra);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once the simulator printed its port entry and the link exists.
  bool running() const { return ready_; }
  // What went wrong when running() is false.
  const std::string& failure() const { return failure_; }

  const std::string& directory() const { return dir_; }
  const std::string& linkPath() const { return link_; }
  // The line quarn-sim printed: the QUARN_VIRTUAL_PORTS entry for this port.
  const std::string& portEntry() const { return entry_; }

  // Transcript lines written so far.
  std::vector<std::string> transcript() const;
  // Transcript lines holding every one of the given texts.
  std::vector<std::string> transcriptMatching(const std::vector<std::string>& texts) const;

  // SIGTERM, then waits (bounded) for the exit; SIGKILL if it does not go. Idempotent.
  void stop();

private:
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string dir_;
  std::string link_;
  std::string transcriptPath_;
  std::string entry_;
  std::string failure_;
};

// Calls step (one round of ticks) until done() holds or timeoutMs passes, sleeping
// simPollStepMs between rounds. Returns done() at the end.
bool tickUntil(const std::function<void()>& step, const std::function<bool()>& done,
               int timeoutMs = simWaitMs);

// Calls step for the whole of durationMs: for checks that nothing (more) happens.
void tickFor(const std::function<void()>& step, int durationMs);

// A fresh directory under /tmp, removed with its files by the destructor.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes text into a file of the directory; returns its path.
  std::string write(const std::string& name, const std::string& text) const;

private:
  std::string path_;
};

// Removes a directory and the files (and links) in it; no recursion below one level.
void removeFlatDirectory(const std::string& path);

// Upper-case hex without separators, as the transcript shows bytes.
std::string hexText(const uint8_t* bytes, size_t count);
