// What a 5 ms poll timer (as the window's links once used; they wait now) costs the real main
// window when idle. FOX walks the whole widget tree (one SEL_UPDATE per widget, one zero-timeout
// select per step) after every timer handler that reports "handled"; a handler that returns 0
// when nothing arrived skips that.
// Prints "name value" lines: CPU per second of one core for both kinds of handler.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

#include "app/quarn_window.h"
#include "bench/bench_clock.h"

namespace {

QuarnState benchState;  // static, as in the program

double cpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() { return monotonicMs() / 1000.0; }

// Re-arms itself as the window's poll timers once did; answers handled or not as told.
class Ticker : public FXObject {
  FXDECLARE(Ticker)

public:
  enum { ID_TICK = 1, ID_STOP };
  Ticker(FXApp* app, int periodMs, bool handled) : app_(app), periodMs_(periodMs), handled_(handled) {}
  long onTick(FXObject*, FXSelector, void*) {
    ++ticks;
    app_->addTimeout(this, ID_TICK, periodMs_);
    return handled_ ? 1 : 0;
  }
  long onStop(FXObject*, FXSelector, void*) {
    app_->removeTimeout(this, ID_TICK);
    app_->exit(0);
    return 1;
  }
  long ticks = 0;

protected:
  Ticker() = default;

private:
  FXApp* app_ = nullptr;
  int periodMs_ = 5;
  bool handled_ = true;
};

FXDEFMAP(Ticker) tickerMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, Ticker::ID_TICK, Ticker::onTick),
    FXMAPFUNC(SEL_TIMEOUT, Ticker::ID_STOP, Ticker::onStop),
};
FXIMPLEMENT(Ticker, FXObject, tickerMap, ARRAYNUMBER(tickerMap))

void runTicker(FXApp& app, int periodMs, bool handled, int seconds, const char* name) {
  Ticker ticker(&app, periodMs, handled);
  app.addTimeout(&ticker, Ticker::ID_TICK, periodMs);
  app.addTimeout(&ticker, Ticker::ID_STOP, seconds * 1000);
  double c0 = cpuSeconds(), w0 = wallSeconds();
  app.run();
  double cpu = cpuSeconds() - c0, wall = wallSeconds() - w0;
  std::printf("%s_cpu_percent %.2f\n", name, 100.0 * cpu / wall);
  std::printf("%s_ticks_per_s %.1f\n", name, static_cast<double>(ticker.ticks) / wall);
}

}  // namespace

int main(int argc, char* argv[]) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  if (seconds < 1) seconds = 10;
  FXApp app("Quarn v1.3.0", "quarn.example.org");
  int fxArgc = 1;
  app.init(fxArgc, argv);
  QuarnWindow* window = new QuarnWindow(&app, benchState);
  app.create();
  window->show(PLACEMENT_SCREEN);
  app.runWhileEvents();
  runTicker(app, 5, true, seconds, "handled_5ms");
  runTicker(app, 5, false, seconds, "unhandled_5ms");
  runTicker(app, 200, true, seconds, "handled_200ms");
  runTicker(app, 200, false, seconds, "unhandled_200ms");
  return 0;
}
