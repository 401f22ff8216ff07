// The traffic source of bench/sidebyside.sh: one PTY pair, its slave linked at a path, frames
// written to the master at a fixed rate on an absolute clock, the backlog sampled every second.
//
//   quarn_pty_writer --link PATH --mode dongle|wired [--rate FRAMES_PER_S] [--frame-bytes N]
//                    [--line-baud BAUD --chunk-ms MS] [--seconds S] [--marks FILE]
//
// dongle: answers every frame it receives with an ACK (20 00 00), as the stick does, and floods
//   33-byte stick frames (code 0x8E, length, 30-byte converter radio frame: 44 8F 19 id version
//   36 7A access status config, counter and version records, 2F fill) at --rate per second.
// wired: floods 112-byte M-Bus long frames (68 6A 6A 68 08 FB 72 ... CS 16) at the pace of a
//   --line-baud 8E1 line (11 bits a byte), the bytes as they would arrive, in chunks every
//   --chunk-ms; --marks gets the wall-clock time (CLOCK_REALTIME, microseconds) at which the last
//   byte of each frame was written, for the answer-latency measurement.
// The flood starts on SIGUSR1 (before it the writer only answers) and lasts --seconds. Every
// second it prints: seconds, frames written, bytes written, bytes queued for the reader
// (FIONREAD on the writer's own descriptor of the slave), bytes the writer still holds because
// the PTY was full. Ends on SIGTERM or SIGINT, printing a summary line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t startFlood = 0;
volatile sig_atomic_t stopAll = 0;

void onStart(int) { startFlood = 1; }
void onStop(int) { stopAll = 1; }

int64_t nowNs(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntil(int64_t ns) {
  timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !stopAll) {
  }
}

std::vector<uint8_t> stickFrame(size_t radioBytes, uint32_t serial) {
  std::vector<uint8_t> radio = {0x44, 0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36,
                                0x7A, uint8_t(serial), 0x00, 0x00, 0x00};
  const uint32_t counter = 0x100 + serial;
  const uint8_t records[] = {0x04, 0xFD, 0x08, uint8_t(counter), uint8_t(counter >> 8),
                             uint8_t(counter >> 16), uint8_t(counter >> 24), 0x02, 0xFD, 0x0C,
                             0x01, 0x02};
  radio.insert(radio.end(), records, records + sizeof records);
  while (radio.size() < radioBytes) radio.push_back(0x2F);
  radio.resize(radioBytes);
  std::vector<uint8_t> frame = {0x8E, uint8_t(radio.size()), uint8_t(radio.size() >> 8)};
  frame.insert(frame.end(), radio.begin(), radio.end());
  return frame;
}

std::vector<uint8_t> longFrame(size_t bytes, uint32_t serial) {
  const size_t l = bytes - 6;
  std::vector<uint8_t> f = {0x68, uint8_t(l), uint8_t(l), 0x68, 0x08, 0xFB, 0x72,
                            0x78, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36,
                            uint8_t(serial), 0x00, 0x00, 0x00};
  while (f.size() < 4 + l) f.push_back(0x2F);
  uint8_t cs = 0;
  for (size_t i = 4; i < 4 + l; ++i) cs = uint8_t(cs + f[i]);
  f.push_back(cs);
  f.push_back(0x16);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, mode = "dongle", marksPath;
  double rate = 5000, seconds = 60, lineBaud = 2400, chunkMs = 10;
  size_t frameBytes = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--link") link = v;
    else if (a == "--mode") mode = v;
    else if (a == "--rate") rate = std::atof(v);
    else if (a == "--frame-bytes") frameBytes = size_t(std::atol(v));
    else if (a == "--seconds") seconds = std::atof(v);
    else if (a == "--line-baud") lineBaud = std::atof(v);
    else if (a == "--chunk-ms") chunkMs = std::atof(v);
    else if (a == "--marks") marksPath = v;
    else {
      std::fprintf(stderr, "pty_writer: unknown option %s\n", a.c_str());
      return 2;
    }
  }
  const bool wired = mode == "wired";
  if (link.empty() || (!wired && mode != "dongle")) {
    std::fprintf(stderr, "usage: quarn_pty_writer --link PATH --mode dongle|wired ...\n");
    return 2;
  }
  if (frameBytes == 0) frameBytes = wired ? 112 : 30;

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pty_writer: posix_openpt");
    return 1;
  }
  const char* slaveName = ptsname(master);
  const int slave = open(slaveName, O_RDWR | O_NOCTTY | O_NONBLOCK);  // held for FIONREAD
  if (slave < 0) {
    std::perror("pty_writer: slave");
    return 1;
  }
  termios t;
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  unlink(link.c_str());
  if (symlink(slaveName, link.c_str()) != 0) {
    std::perror("pty_writer: symlink");
    return 1;
  }
  FILE* marks = marksPath.empty() ? nullptr : std::fopen(marksPath.c_str(), "w");

  struct sigaction sa {};
  sa.sa_handler = onStart;
  sigaction(SIGUSR1, &sa, nullptr);
  sa.sa_handler = onStop;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::printf("ready %s\n", slaveName);
  std::fflush(stdout);

  std::deque<uint8_t> pending;  // bytes the PTY did not take yet
  std::vector<uint8_t> inbox;   // stick frames from the reader, for the ACKs
  uint8_t buf[4096];
  uint64_t frames = 0, bytesWritten = 0, maxQueued = 0, maxPending = 0;
  bool flooding = false, done = false;
  int64_t floodStart = 0, nextSample = 0;
  // Wired: the frame in flight and how many of its bytes are due so far.
  std::vector<uint8_t> current;
  size_t currentSent = 0;
  uint32_t serial = 0;
  bool markDue = false;
  const double bytesPerNs = lineBaud / 11.0 / 1e9;
  const int64_t stepNs = wired ? int64_t(chunkMs * 1e6) : 1000000;  // dongle: 1 ms ticks
  int64_t tick = nowNs(CLOCK_MONOTONIC);

  while (!stopAll) {
    // What the reader wrote: answer each whole stick frame with an ACK.
    for (;;) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      inbox.insert(inbox.end(), buf, buf + n);
    }
    while (!wired && inbox.size() >= 3) {
      const size_t need = 3 + size_t(inbox[1] | inbox[2] << 8);
      if (inbox.size() < need) break;
      inbox.erase(inbox.begin(), inbox.begin() + long(need));
      const uint8_t ack[3] = {0x20, 0, 0};
      pending.insert(pending.end(), ack, ack + 3);
    }
    if (wired) inbox.clear();

    if (startFlood && !flooding && !done) {
      flooding = true;
      floodStart = nowNs(CLOCK_MONOTONIC);
      nextSample = floodStart + 1000000000;
    }
    const int64_t now = nowNs(CLOCK_MONOTONIC);
    if (flooding) {
      const double elapsed = double(now - floodStart);
      if (elapsed >= seconds * 1e9) {
        flooding = false;
        done = true;
      } else if (!wired) {
        const uint64_t due = uint64_t(elapsed * rate / 1e9);
        for (; frames < due; ++frames) {
          const std::vector<uint8_t> f = stickFrame(frameBytes, serial++);
          pending.insert(pending.end(), f.begin(), f.end());
        }
      } else {
        // Bytes a line at lineBaud would have delivered by now, frame after frame.
        const uint64_t dueBytes = uint64_t(elapsed * bytesPerNs);
        while (bytesWritten + pending.size() < dueBytes) {
          if (currentSent == current.size()) {
            current = longFrame(frameBytes, serial++);
            currentSent = 0;
          }
          const size_t take = std::min<size_t>(current.size() - currentSent,
                                               dueBytes - bytesWritten - pending.size());
          pending.insert(pending.end(), current.begin() + long(currentSent),
                         current.begin() + long(currentSent + take));
          currentSent += take;
          if (currentSent == current.size()) {
            ++frames;
            markDue = true;
          }
        }
      }
    }
    while (!pending.empty()) {
      const size_t n = std::min(pending.size(), sizeof buf);
      std::copy(pending.begin(), pending.begin() + long(n), buf);
      const ssize_t w = write(master, buf, n);
      if (w <= 0) break;
      pending.erase(pending.begin(), pending.begin() + w);
      bytesWritten += uint64_t(w);
    }
    // A frame whose last byte just went out: mark the time.
    if (markDue && pending.empty()) {
      if (marks) {
        std::fprintf(marks, "%lld\n", (long long)(nowNs(CLOCK_REALTIME) / 1000));
        std::fflush(marks);
      }
      markDue = false;
    }
    if (flooding && now >= nextSample) {
      int queued = 0;
      ioctl(slave, FIONREAD, &queued);
      maxQueued = std::max<uint64_t>(maxQueued, uint64_t(queued));
      maxPending = std::max<uint64_t>(maxPending, pending.size());
      std::printf("%.0f %llu %llu %d %zu\n", double(now - floodStart) / 1e9,
                  (unsigned long long)frames, (unsigned long long)bytesWritten, queued,
                  pending.size());
      std::fflush(stdout);
      nextSample += 1000000000;
    }
    if (done && floodStart) {
      std::printf("done frames=%llu bytes=%llu max_queued=%llu max_pending=%llu\n",
                  (unsigned long long)frames, (unsigned long long)bytesWritten,
                  (unsigned long long)maxQueued, (unsigned long long)maxPending);
      std::fflush(stdout);
      floodStart = 0;
    }
    if (!flooding && pending.empty()) {  // idle: wait for the reader, no clock ticks
      pollfd p{master, POLLIN, 0};
      poll(&p, 1, 100);
      tick = nowNs(CLOCK_MONOTONIC);
      continue;
    }
    tick += stepNs;
    if (tick < now - 100 * stepNs) tick = now;  // after a long stall, no burst of catch-up ticks
    sleepUntil(tick);
  }
  if (marks) std::fclose(marks);
  unlink(link.c_str());
  return 0;
}
