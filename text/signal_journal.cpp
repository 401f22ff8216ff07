// The journal a signal handler leaves behind: texts prepared ahead, written with open, write and
// rename only.
#include "text/signal_journal.h"

#include <atomic>
#include <cerrno>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#endif

namespace {

const char* const signalNames[journalSignalCount] = {"SIGINT", "SIGTERM", "SIGHUP"};

#ifndef _WIN32
const int signalNumbers[journalSignalCount] = {SIGINT, SIGTERM, SIGHUP};

// Two sets of texts: the handler reads the one published while the next is prepared.
struct JournalTexts {
  std::string path;
  std::string temporary;
  std::string texts[journalSignalCount];
};
JournalTexts sets[2];
std::atomic<int> published{-1};
struct sigaction previous[journalSignalCount];
bool installed = false;

void writeAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= size_t(n);
  }
}

void onJournalSignal(int signalNumber) {
  const int saved = errno;
  int index = 0;
  while (index < journalSignalCount && signalNumbers[index] != signalNumber) ++index;
  const int set = published.exchange(-1);
  if (set >= 0 && index < journalSignalCount) {
    const JournalTexts& t = sets[set];
    const int fd = open(t.temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      writeAll(fd, t.texts[index].data(), t.texts[index].size());
      fsync(fd);
      close(fd);
      if (rename(t.temporary.c_str(), t.path.c_str()) != 0) unlink(t.temporary.c_str());
    }
  }
  errno = saved;
  // The handler before ours (ports let go, then the default action) takes the signal next.
  if (index < journalSignalCount) {
    sigaction(signalNumber, &previous[index], nullptr);
    raise(signalNumber);
  }
}

void install() {
  struct sigaction action {};
  action.sa_handler = onJournalSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < journalSignalCount; ++i) {
    sigaction(signalNumbers[i], nullptr, &previous[i]);
    // A signal ignored at start (nohup, a shell's background job) stays ignored.
    if (previous[i].sa_handler == SIG_IGN) continue;
    sigaction(signalNumbers[i], &action, nullptr);
  }
  installed = true;
}
#endif

}  // namespace

const char* journalSignalName(int index) {
  return index >= 0 && index < journalSignalCount ? signalNames[index] : "";
}

#ifndef _WIN32
bool setSignalJournal(const std::string& path, const std::string texts[journalSignalCount]) {
  const int current = published.load();
  const int next = current == 0 ? 1 : 0;
  JournalTexts& t = sets[next];
  t.path = path;
  t.temporary = path + ".signal-" + std::to_string(getpid());
  for (int i = 0; i < journalSignalCount; ++i) t.texts[i] = texts[i];
  published.store(next);
  if (!installed) install();
  return true;
}

void clearSignalJournal() { published.store(-1); }
#else
bool setSignalJournal(const std::string&, const std::string*) { return false; }
void clearSignalJournal() {}
#endif
