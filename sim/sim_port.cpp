// PTY handling: openpty, raw slave, symlink, hang-up tolerant reads.
#include "sim_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

bool makeParents(const std::string& path, std::string& err) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  std::string dir = path.substr(0, slash);
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      std::string part = dir.substr(0, i);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
        err = "cannot create " + part + ": " + std::strerror(errno);
        return false;
      }
    }
  }
  return true;
}

// Quarn opens whatever the link points at. Every folder on the way to it, and every symbolic
// link met, is looked at with lstat: one that another account owns, or a folder it may write to
// (without the sticky bit), would let that account re-point the path at its own PTY.
bool entryIsSafe(const std::string& path, const struct stat& st, std::string& err) {
  if (st.st_uid != 0 && st.st_uid != geteuid()) {
    err = "refusing to link below " + path + ": it belongs to uid " + std::to_string(st.st_uid) + ", not to uid " +
          std::to_string(geteuid()) + " or root";
    return false;
  }
  if (S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
    err = "refusing to link below " + path + ": other users may write to it";
    return false;
  }
  return true;
}

bool pathIsPrivate(const std::string& linkPath, std::string& err) {
  size_t slash = linkPath.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : linkPath.substr(0, slash);
  if (dir[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      err = std::string("cannot inspect the working folder: ") + std::strerror(errno);
      return false;
    }
    dir = std::string(cwd) + "/" + dir;
  }
  // Components still to walk, and the checked path so far; links put their target in front.
  std::string rest = dir;
  std::string done;
  struct stat st;
  int links = 0;
  if (lstat("/", &st) != 0 || !entryIsSafe("/", st, err)) return false;
  while (!rest.empty()) {
    const size_t start = rest.find_first_not_of('/');
    if (start == std::string::npos) break;
    const size_t stop = rest.find('/', start);
    const std::string name = rest.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    rest = stop == std::string::npos ? std::string() : rest.substr(stop);
    if (name == ".") continue;
    if (name == "..") {
      done = done.substr(0, done.find_last_of('/'));
      continue;
    }
    const std::string next = done + "/" + name;
    if (lstat(next.c_str(), &st) != 0) {
      err = "cannot inspect " + next + ": " + std::strerror(errno);
      return false;
    }
    if (!entryIsSafe(next, st, err)) return false;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t n = readlink(next.c_str(), target, sizeof target - 1);
      if (n < 0 || ++links > 40) {
        err = "cannot follow " + next;
        return false;
      }
      target[n] = '\0';
      if (target[0] == '/') done.clear();
      rest = std::string(target) + rest;
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      err = "cannot link below " + next + ": not a folder";
      return false;
    }
    done = next;
  }
  // The folder that holds the link: the user's own, and nobody else may write to it.
  if (lstat(done.empty() ? "/" : done.c_str(), &st) != 0 || st.st_uid != geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    err = "refusing to link in " + dir + ": it must belong to uid " + std::to_string(geteuid()) +
          " and be writable by nobody else";
    return false;
  }
  return true;
}

bool openPty(SimPort& p, std::string& err) {
  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    err = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  struct termios tio;
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  // Only the client holds the slave open, so its hang-up is visible on the master.
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  p.master = master;
  p.slavePath = name;
  return true;
}

bool link(SimPort& p, std::string& err) {
  std::string tmp = p.linkPath + ".new";
  unlink(tmp.c_str());
  if (symlink(p.slavePath.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), p.linkPath.c_str()) != 0) {
    err = "cannot link " + p.linkPath + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool simPortOpen(SimPort& p, const std::string& linkPath, std::string& err) {
  p.master = -1;
  p.reopened = false;
  p.heard = false;
  p.linkPath = linkPath;
  if (!makeParents(linkPath, err) || !pathIsPrivate(linkPath, err) || !openPty(p, err)) return false;
  if (!link(p, err)) {
    close(p.master);
    p.master = -1;
    return false;
  }
  return true;
}

bool simPortOpenDevice(SimPort& p, const std::string& devicePath, std::string& err) {
  p.linkPath.clear();
  p.reopened = false;
  p.heard = false;
  p.slavePath = devicePath;
  p.master = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (p.master < 0) {
    err = "cannot open " + devicePath + ": " + std::strerror(errno);
    return false;
  }
  // The tty's own echo would answer the far side with its own bytes.
  struct termios tio;
  if (tcgetattr(p.master, &tio) != 0 || (cfmakeraw(&tio), tcsetattr(p.master, TCSANOW, &tio)) != 0) {
    err = "cannot set " + devicePath + " raw: " + std::strerror(errno);
    close(p.master);
    p.master = -1;
    return false;
  }
  tcflush(p.master, TCIOFLUSH);
  return true;
}

bool simPortReopen(SimPort& p, std::string& err) {
  if (p.linkPath.empty()) {
    if (p.master >= 0) close(p.master);
    return simPortOpenDevice(p, p.slavePath, err);
  }
  // The new PTY is linked before the old one closes, so a client that reopens the
  // path as soon as it sees the hang-up finds the new one.
  int old = p.master;
  bool ok = openPty(p, err) && link(p, err);
  if (old >= 0) close(old);
  if (!ok && p.master == old) p.master = -1;
  return ok;
}

void simPortClose(SimPort& p) {
  if (p.master >= 0) close(p.master);
  p.master = -1;
  if (!p.linkPath.empty()) unlink(p.linkPath.c_str());
}

size_t simPortRead(SimPort& p, uint8_t* buf, size_t cap, int timeoutMs, bool& clientOpen) {
  clientOpen = false;
  if (p.master < 0 && p.linkPath.empty() && !p.slavePath.empty()) {
    std::string err;
    p.reopened = simPortOpenDevice(p, p.slavePath, err);
  }
  if (p.master < 0) {
    // Unplugged: wait all the same, so the serving loop does not spin.
    if (timeoutMs > 0) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    return 0;
  }
  struct pollfd pfd = {p.master, POLLIN, 0};
  int rc = poll(&pfd, 1, timeoutMs);
  if (rc < 0) return 0;
  if (rc > 0 && (pfd.revents & POLLHUP) && p.linkPath.empty()) {
    // An existing tty hung up (a gadget's cable pulled): it stays dead until opened again.
    std::string err;
    p.reopened = simPortReopen(p, err);
    return 0;
  }
  if (rc > 0 && (pfd.revents & POLLHUP) && !(pfd.revents & POLLIN)) {
    // Nobody has the slave open: poll would return at once, so pause here.
    if (timeoutMs > 0) usleep(static_cast<useconds_t>((timeoutMs < 10 ? timeoutMs : 10) * 1000));
    return 0;
  }
  // Frames written to a gadget's tty before the host reads would wait there and reach the host
  // in a burst at its first open, while its tty still echoes: so speak once spoken to.
  clientOpen = p.linkPath.empty() ? p.heard : true;
  if (rc == 0) return 0;
  ssize_t n = read(p.master, buf, cap);
  if (n < 0) {
    if (errno == EIO) clientOpen = false;  // last client closed the slave
    return 0;
  }
  if (n > 0 && p.linkPath.empty()) p.heard = clientOpen = true;
  return static_cast<size_t>(n);
}

size_t simPortWrite(SimPort& p, const uint8_t* bytes, size_t n) {
  if (p.master < 0) return 0;
  ssize_t w = write(p.master, bytes, n);
  return w > 0 ? static_cast<size_t>(w) : 0;
}
