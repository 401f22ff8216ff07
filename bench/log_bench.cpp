// The communication log under load: builds the real main window (on the display in DISPLAY,
// bench/measure.sh gives it a private Xvfb), logs 100,000 frames of 112 bytes the way the dongle
// timer logs an incoming frame, and reports resident memory and the time one more frame takes.
// Prints "name value" lines.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/quarn_window.h"
#include "bench/bench_clock.h"

namespace {

constexpr int frameBytes = 112;
constexpr int defaultFrames = 100000;
constexpr int probeFrames = 200;     // single appends timed once the log is full
constexpr int batchFrames = 10000;   // progress lines while filling

QuarnState benchState;  // several MB of key lists: static, as in the program

// One incoming frame as the dongle timer logs it: time stamp, headline, hex dump.
void logFrame(Log& log, const uint8_t* frame) {
  log.logTimestamp();
  log.logText("<<< Incoming Received 112 bytes, message with CField 0x44.\n", logStyleDongle);
  log.logHexDump(frame, frameBytes, logStyleDongle);
}

// Brings the log's tab to the front, so appends also pay for what a watching user sees.
void showLogPage(QuarnWindow& window) {
  FXWindow* child = window.logView;
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

}  // namespace

int main(int argc, char* argv[]) {
  int frames = defaultFrames;
  if (argc > 1) frames = std::atoi(argv[1]);
  if (frames < 1) {
    std::fprintf(stderr, "usage: quarn_log_bench [FRAMES]\n");
    return 2;
  }
  FXApp app("Quarn v1.3.0", "quarn.example.org");
  int fxArgc = 1;
  app.init(fxArgc, argv);
  QuarnWindow* window = new QuarnWindow(&app, benchState);
  app.create();
  window->show(PLACEMENT_SCREEN);
  showLogPage(*window);
  app.runWhileEvents();
  std::printf("rss_shown_kb %ld\n", residentKb());

  uint8_t frame[frameBytes];
  for (int i = 0; i < frameBytes; ++i) frame[i] = static_cast<uint8_t>(i * 37 + 11);
  frame[0] = 0x44;

  double begin = monotonicMs();
  for (int n = 1; n <= frames; ++n) {
    frame[11] = static_cast<uint8_t>(n);
    logFrame(*window, frame);
    // The event loop runs between two timer ticks; let it repaint now and then as it would.
    if (n % 100 == 0) app.runWhileEvents();
    if (n % batchFrames == 0) {
      std::printf("filled %d %.1f %ld\n", n, monotonicMs() - begin, residentKb());
      std::fflush(stdout);
    }
  }
  app.runWhileEvents();
  std::printf("fill_ms %.1f\n", monotonicMs() - begin);
  std::printf("log_chars %d\n", window->logView->getLength());
  std::printf("rss_filled_kb %ld\n", residentKb());

  // One more frame at a time, each followed by the event loop's own work (layout, repaint).
  std::vector<double> append, withRepaint;
  for (int i = 0; i < probeFrames; ++i) {
    double t0 = monotonicMs();
    logFrame(*window, frame);
    double t1 = monotonicMs();
    app.runWhileEvents();
    double t2 = monotonicMs();
    append.push_back(t1 - t0);
    withRepaint.push_back(t2 - t0);
  }
  std::printf("append_median_ms %.3f\n", percentile(append, 0.5));
  std::printf("append_p95_ms %.3f\n", percentile(append, 0.95));
  std::printf("append_max_ms %.3f\n", percentile(append, 1.0));
  std::printf("append_repaint_median_ms %.3f\n", percentile(withRepaint, 0.5));
  std::printf("append_repaint_p95_ms %.3f\n", percentile(withRepaint, 0.95));
  std::printf("append_repaint_max_ms %.3f\n", percentile(withRepaint, 1.0));
  std::printf("rss_end_kb %ld\n", residentKb());
  return 0;
}
