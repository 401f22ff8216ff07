// The communication log under load: builds the real main window (on the display in DISPLAY,
// bench/measure.sh gives it a private Xvfb), logs frames of 112 bytes the way the dongle timer
// logs an incoming frame, and reports what one wake-up's frame costs near the log's start and
// once it is full, written call by call (each call appends and scrolls) and as one batch (one
// append, one scroll); the X server's CPU for both when XSERVER_PID names it; and resident
// memory while the log fills up to and past its bound. Prints "name value" lines.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/quarn_window.h"
#include "bench/bench_clock.h"
#include "tests/gui/window_probe.h"

namespace {

constexpr int frameBytes = 112;
constexpr int defaultFrames = 100000;
constexpr int probeFrames = 200;    // single wake-ups timed at each length
constexpr int fillBatch = 100;      // frames per batch while filling
constexpr int progressFrames = 10000;
constexpr int streamFrames = 2000;  // wake-ups per way for the CPU figures

QuarnState benchState;  // static, as in the program

// One incoming frame as the dongle timer logs it: time stamp, headline, hex dump.
void logFrame(Log& log, const uint8_t* frame) {
  log.logTimestamp();
  log.logText("<<< Incoming Received 112 bytes, message with CField 0x44.\n", logStyleDongle);
  log.logHexDump(frame, frameBytes, logStyleDongle);
}

// One wake-up's frame: call by call, or inside the batch the window's handlers open.
void wakeUp(QuarnWindow& window, const uint8_t* frame, bool batched) {
  if (!batched) {
    logFrame(window, frame);
    return;
  }
  LogBatch batch(probe(&window).communicationLog());
  logFrame(window, frame);
}

// Brings the log's tab to the front, so appends also pay for what a watching user sees.
void showLogPage(QuarnWindow& window) {
  FXWindow* child = probe(&window).logView();
  while (child && child->getParent() && !child->getParent()->isMemberOf(FXMETACLASS(FXTabBook)))
    child = child->getParent();
  if (!child || !child->getParent()) return;
  FXTabBook* book = static_cast<FXTabBook*>(child->getParent());
  book->setCurrent(book->indexOfChild(child) / 2);
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1));
  return v[i];
}

double ownCpuMs() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// CPU of another process in ms (utime + stime from /proc), or -1.
double processCpuMs(long pid) {
  if (pid <= 0) return -1;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  FILE* f = std::fopen(path, "r");
  if (!f) return -1;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* p = std::strrchr(buf, ')');
  if (!p) return -1;
  unsigned long utime = 0, stime = 0;
  // Fields after the command: state is field 3; utime and stime are fields 14 and 15.
  if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return -1;
  return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Times probeFrames single wake-ups at the log's current length, each followed by the event
// loop's own work (layout, repaint); with `fresh`, the log is cleared to one frame first.
void timeWakeUps(FXApp& app, QuarnWindow& window, uint8_t* frame, bool batched, bool fresh, const char* name) {
  std::vector<double> append, withRepaint;
  for (int i = 0; i < probeFrames; ++i) {
    if (fresh) {
      window.clearLog();
      logFrame(window, frame);
    }
    app.runWhileEvents();
    frame[11] = static_cast<uint8_t>(i);
    double t0 = monotonicMs();
    wakeUp(window, frame, batched);
    double t1 = monotonicMs();
    app.runWhileEvents();
    double t2 = monotonicMs();
    append.push_back(t1 - t0);
    withRepaint.push_back(t2 - t0);
  }
  std::printf("%s_lines %d\n", name, probe(&window).logView()->getNumRows());
  std::printf("%s_append_median_ms %.3f\n", name, percentile(append, 0.5));
  std::printf("%s_append_p95_ms %.3f\n", name, percentile(append, 0.95));
  std::printf("%s_repaint_median_ms %.3f\n", name, percentile(withRepaint, 0.5));
  std::printf("%s_repaint_p95_ms %.3f\n", name, percentile(withRepaint, 0.95));
  std::fflush(stdout);
}

// streamFrames wake-ups in a row, the event loop run after each as between two timer ticks:
// wall time, this process's CPU and the X server's.
void stream(FXApp& app, QuarnWindow& window, uint8_t* frame, bool batched, long xPid, const char* name) {
  app.runWhileEvents();
  double w0 = monotonicMs(), c0 = ownCpuMs(), x0 = processCpuMs(xPid);
  for (int i = 0; i < streamFrames; ++i) {
    frame[11] = static_cast<uint8_t>(i);
    wakeUp(window, frame, batched);
    app.runWhileEvents();
  }
  double w1 = monotonicMs(), c1 = ownCpuMs(), x1 = processCpuMs(xPid);
  std::printf("%s_ms_per_frame %.3f\n", name, (w1 - w0) / streamFrames);
  std::printf("%s_cpu_ms_per_frame %.3f\n", name, (c1 - c0) / streamFrames);
  if (x0 >= 0 && x1 >= 0) std::printf("%s_xserver_cpu_ms_per_frame %.3f\n", name, (x1 - x0) / streamFrames);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
  int frames = defaultFrames;
  if (argc > 1) frames = std::atoi(argv[1]);
  long limit = argc > 2 ? std::atol(argv[2]) : 0;
  if (frames < 1 || limit < 0) {
    std::fprintf(stderr, "usage: quarn_log_bench [FRAMES [LIMIT_CHARS]]\n");
    return 2;
  }
  const char* xPidText = std::getenv("XSERVER_PID");
  const long xPid = xPidText ? std::atol(xPidText) : 0;
  FXApp app("Quarn v1.3.0", "quarn.example.org");
  int fxArgc = 1;
  app.init(fxArgc, argv);
  QuarnWindow* window = new QuarnWindow(&app, benchState);
  if (limit > 0) probe(window).communicationLog().setLimit(static_cast<size_t>(limit));
  app.create();
  window->show(PLACEMENT_SCREEN);
  showLogPage(*window);
  app.runWhileEvents();
  std::printf("rss_shown_kb %ld\n", residentKb());
  std::printf("limit_chars %zu\n", probe(window).communicationLog().limit());

  uint8_t frame[frameBytes];
  for (int i = 0; i < frameBytes; ++i) frame[i] = static_cast<uint8_t>(i * 37 + 11);
  frame[0] = 0x44;

  timeWakeUps(app, *window, frame, false, true, "start_calls");
  timeWakeUps(app, *window, frame, true, true, "start_batch");
  window->clearLog();
  stream(app, *window, frame, false, xPid, "start_stream_calls");
  window->clearLog();
  stream(app, *window, frame, true, xPid, "start_stream_batch");
  window->clearLog();

  double begin = monotonicMs();
  for (int n = 1; n <= frames; n += fillBatch) {
    {
      LogBatch batch(probe(window).communicationLog());
      for (int k = 0; k < fillBatch; ++k) {
        frame[11] = static_cast<uint8_t>(n + k);
        logFrame(*window, frame);
      }
    }
    app.runWhileEvents();
    if ((n + fillBatch - 1) % progressFrames == 0) {
      std::printf("filled %d %.1f %ld %d\n", n + fillBatch - 1, monotonicMs() - begin, residentKb(),
                  probe(window).logView()->getLength());
      std::fflush(stdout);
    }
  }
  app.runWhileEvents();
  std::printf("fill_ms %.1f\n", monotonicMs() - begin);
  std::printf("log_chars %d\n", probe(window).logView()->getLength());
  std::printf("log_lines %d\n", probe(window).logView()->getNumRows());
  std::printf("rss_filled_kb %ld\n", residentKb());

  timeWakeUps(app, *window, frame, false, false, "full_calls");
  timeWakeUps(app, *window, frame, true, false, "full_batch");
  stream(app, *window, frame, false, xPid, "full_stream_calls");
  stream(app, *window, frame, true, xPid, "full_stream_batch");

  // Past the bound: every wake-up batched; the slowest ones are those that drop the oldest lines.
  std::vector<double> times;
  const int past = frames / 4;
  for (int i = 0; i < past; ++i) {
    frame[11] = static_cast<uint8_t>(i);
    double t0 = monotonicMs();
    wakeUp(*window, frame, true);
    times.push_back(monotonicMs() - t0);
    if (i % fillBatch == 0) app.runWhileEvents();
  }
  std::printf("past_frames %d\n", past);
  std::printf("past_append_median_ms %.3f\n", percentile(times, 0.5));
  std::printf("past_append_p999_ms %.3f\n", percentile(times, 0.999));
  std::printf("past_append_max_ms %.3f\n", percentile(times, 1.0));
  std::printf("past_log_chars %d\n", probe(window).logView()->getLength());
  std::printf("rss_end_kb %ld\n", residentKb());
  return 0;
}
