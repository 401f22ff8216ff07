// Linux serial port layer: exclusive open, line profile, non-blocking reads, bounded writes.
#include "serial/serial_port.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "text/steady_clock.h"

const SerialProfile dongleSerialProfile = {2000000u, 50, 10};
const SerialProfile wiredSerialProfile = {2400u, 50, 10};

namespace {

int fail(SerialPort& port, SerialStep step, int error) {
  port.failedStep = step;
  port.lastError = error;
  return 0;
}

int speedConstant(unsigned baudRate, speed_t& speed) {
  switch (baudRate) {
    case 2400u: speed = B2400; return 1;
    case 2000000u: speed = B2000000; return 1;
    default: return 0;
  }
}

// A pseudo-terminal has no parity and drops PARENB; the C library then reports EINVAL although
// everything else was applied. Such a port is usable (the simulators run on them).
int onlyParityRefused(int fd, const termios& wanted, int error) {
  if (error != EINVAL) return 0;
  termios applied{};
  if (tcgetattr(fd, &applied) != 0) return 0;
  const tcflag_t line = CSIZE | CSTOPB | PARODD | CLOCAL | CREAD;
  return (applied.c_cflag & PARENB) == 0 && (applied.c_cflag & line) == (wanted.c_cflag & line) &&
                 cfgetospeed(&applied) == cfgetospeed(&wanted) && applied.c_lflag == wanted.c_lflag &&
                 applied.c_iflag == wanted.c_iflag && applied.c_oflag == wanted.c_oflag
             ? 1
             : 0;
}

// Descriptors held exclusive, for the signal handler: a fixed table of lock-free slots, as a
// handler may touch nothing else. -1 marks a free slot.
constexpr int heldPortCapacity = 8;
std::atomic<int> heldPorts[heldPortCapacity] = {-1, -1, -1, -1, -1, -1, -1, -1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

void holdPort(int fd) {
  for (std::atomic<int>& slot : heldPorts) {
    int free = -1;
    if (slot.compare_exchange_strong(free, fd)) return;
  }
}

void unholdPort(int fd) {
  for (std::atomic<int>& slot : heldPorts) {
    int held = fd;
    if (slot.compare_exchange_strong(held, -1)) return;
  }
}

// Only async-signal-safe calls: ioctl, close, raise.
void releaseHeldPorts(int signalNumber) {
  const int saved = errno;
  for (std::atomic<int>& slot : heldPorts) {
    const int fd = slot.exchange(-1);
    if (fd < 0) continue;
    ioctl(fd, TIOCNXCL);
    close(fd);
  }
  errno = saved;
  // The handler was reset to the default on entry: the signal ends the process once this returns.
  raise(signalNumber);
}

long long nowMs() { return steadyClockMs(); }

}  // namespace

int serialPortIsOpen(const SerialPort& port) { return port.fd >= 0 ? 1 : 0; }

int openSerialPort(SerialPort& port, const char* devicePath) {
  closeSerialPort(port);
  port.failedStep = serialStepNone;
  port.lastError = 0;
  int fd = open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(port, serialStepOpen, errno);
  // The lock first: TIOCEXCL set on a port another program holds would lock that program out of
  // its own next open. Once the port is ours, TIOCEXCL stops other opens (except root's).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return fail(port, serialStepOpen, error);
  }
  // A tty first opened since it appeared is cooked, with echo on: what the device sends before
  // raw mode is echoed back to it (a ^Z as "^Z"). Raw mode comes first, once the port is ours,
  // and what arrived until then is dropped; only bytes arriving during open() itself can still
  // be echoed. The driver keeps raw mode for later opens of the same tty.
  termios state{};
  if (tcgetattr(fd, &state) == 0) {
    cfmakeraw(&state);
    tcsetattr(fd, TCSANOW, &state);
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    int error = errno;
    close(fd);
    return fail(port, serialStepOpen, error);
  }
  tcflush(fd, TCIOFLUSH);
  port.fd = fd;
  holdPort(fd);
  return 1;
}

int applyProfile(SerialPort& port, const SerialProfile& profile) {
  port.failedStep = serialStepNone;
  if (port.fd < 0) return fail(port, serialStepGetState, EBADF);
  termios state{};
  if (tcgetattr(port.fd, &state) != 0) return fail(port, serialStepGetState, errno);
  if (!profileLineSettings(state, profile)) return fail(port, serialStepSetState, EINVAL);
  if (tcsetattr(port.fd, TCSANOW, &state) != 0 && !onlyParityRefused(port.fd, state, errno)) {
    return fail(port, serialStepSetState, errno);
  }
  // Reads return at once with what is queued; writes are bounded by poll in writeBytes.
  int flags = fcntl(port.fd, F_GETFL);
  if (flags < 0 || fcntl(port.fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return fail(port, serialStepTimeouts, errno);
  }
  port.writeConstantMs = profile.writeConstantMs;
  port.writeMsPerByte = profile.writeMsPerByte;
  return 1;
}

int profileLineSettings(termios& state, const SerialProfile& profile) {
  speed_t speed = B0;
  if (!speedConstant(profile.baudRate, speed)) return 0;
  cfmakeraw(&state);  // the other side sends binary frames
  state.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB);
  state.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
  if (cfsetispeed(&state, speed) != 0 || cfsetospeed(&state, speed) != 0) return 0;
  return 1;
}

long readAvailable(SerialPort& port, uint8_t* buffer, size_t capacity) {
  if (port.fd < 0) {
    port.lastError = EBADF;
    return -1;
  }
  if (capacity == 0) return 0;
  for (;;) {
    ssize_t got = read(port.fd, buffer, capacity);
    if (got > 0) return static_cast<long>(got);
    if (got == 0) {  // a hung-up terminal reads as end of file
      port.lastError = EIO;
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    port.lastError = errno;
    return -1;
  }
}

long writeBytes(SerialPort& port, const uint8_t* bytes, size_t count) {
  if (port.fd < 0) {
    port.lastError = EBADF;
    return -1;
  }
  const long long deadline = nowMs() + port.writeConstantMs +
                             static_cast<long long>(port.writeMsPerByte) * static_cast<long long>(count);
  size_t written = 0;
  while (written < count) {
    ssize_t put = write(port.fd, bytes + written, count - written);
    if (put > 0) {
      written += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      port.lastError = errno;
      return written > 0 ? static_cast<long>(written) : -1;
    }
    long long left = deadline - nowMs();
    if (left <= 0) {
      port.lastError = ETIMEDOUT;
      break;
    }
    pollfd waitFor{port.fd, POLLOUT, 0};
    int ready = poll(&waitFor, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      port.lastError = errno;
      break;
    }
    if (ready > 0 && (waitFor.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
        (waitFor.revents & POLLOUT) == 0) {
      port.lastError = EIO;
      return written > 0 ? static_cast<long>(written) : -1;
    }
  }
  return static_cast<long>(written);
}

std::string writeFailureText(long written, size_t count, int error) {
  const char* reason = error == EBADF ? "port not open" : std::strerror(error);
  if (written <= 0) return reason;
  char text[160];
  std::snprintf(text, sizeof text, "%ld of %zu bytes written (%s)", written, count, reason);
  return text;
}

int serialPortHungUp(SerialPort& port) {
  if (port.fd < 0) return 0;
  pollfd state{port.fd, POLLIN, 0};
  if (poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    port.lastError = EIO;
    return 1;
  }
  return 0;
}

// The descriptor is readable when bytes are queued or the port hung up: nothing to arm.
intptr_t armInputWait(int descriptor) { return descriptor; }

int waitForInput(int descriptor, int timeoutMs) {
  pollfd watched{descriptor, POLLIN, 0};
  const int ready = poll(&watched, 1, timeoutMs > 0 ? timeoutMs : 0);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

int pauseOnPort(SerialPort& port, int timeoutMs) {
  pollfd waitFor{port.fd, POLLIN, 0};
  const int ready = poll(&waitFor, 1, timeoutMs);
  if (ready > 0 && (waitFor.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    port.lastError = EIO;
    return 0;
  }
  return 1;
}

int bytesQueued(SerialPort& port) {
  if (port.fd < 0) {
    port.lastError = EBADF;
    return -1;
  }
  int queued = 0;
  if (ioctl(port.fd, FIONREAD, &queued) != 0) {
    port.lastError = errno;
    return -1;
  }
  return queued;
}

void closeSerialPort(SerialPort& port) {
  if (port.fd >= 0) {
    // On a pseudo-terminal whose other end stays open the flag outlives the close and every
    // later non-root open fails with EBUSY; a port that has gone away may refuse, which is fine.
    ioctl(port.fd, TIOCNXCL);
    unholdPort(port.fd);  // after the flag is cleared: a signal in between finds nothing left to do
    close(port.fd);  // also drops the lock
    port.fd = -1;
  }
}

void releasePortsOnSignals() {
  struct sigaction action {};
  action.sa_handler = releaseHeldPorts;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT}) {
    struct sigaction old {};
    // A signal ignored at start (nohup, a shell's background job) stays ignored.
    if (sigaction(signalNumber, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &action, nullptr);
  }
}

const char* serialOpenCauseText(int error) {
  if (error == EACCES || error == EPERM) {
    return "Permission denied: the user is not in the dialout group. Run sudo adduser $USER dialout, then log out and in again.";
  }
  if (error == EBUSY || error == EWOULDBLOCK) {
    return "The port is in use by another program.";
  }
  return nullptr;
}

std::string openPermissionText(const char* path, int error) {
  struct stat info {};
  if ((error != EACCES && error != EPERM) || stat(path, &info) != 0) return std::string();
  const group* g = getgrgid(info.st_gid);
  const passwd* owner = getpwuid(info.st_uid);
  const std::string groupName = g != nullptr ? g->gr_name : std::to_string(info.st_gid);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
  const std::string owned = "owner " + (owner != nullptr ? std::string(owner->pw_name) : std::to_string(info.st_uid)) +
                            ":" + groupName + ", mode " + mode;
  gid_t groups[256];
  const int count = getgroups(256, groups);
  bool member = getegid() == info.st_gid;
  for (int i = 0; i < count; ++i) member = member || groups[i] == info.st_gid;
  if (groupName == "dialout" && !member) return "not in the dialout group (" + owned + ")";
  return "permission denied (" + owned + ")";
}
