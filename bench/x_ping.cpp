// How soon a window's event loop answers: sends _NET_WM_PING client messages to a top-level
// window and times the answer the toolkit sends back to the root window (FOX answers it in its
// own event dispatch, behind whatever else is queued: the same queue a key press waits in).
//
//   quarn_x_ping WINDOW_ID [INTERVAL_MS=100] [SECONDS=10]
//
// Prints one line per ping (milliseconds) to stderr only when it exceeds 100 ms, then a summary
// on stdout: pings, answered, median, p99, max (ms), over 100 ms.
#include <X11/Xlib.h>
#include <sys/select.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quarn_x_ping WINDOW_ID [INTERVAL_MS] [SECONDS]\n");
    return 2;
  }
  const Window target = Window(std::strtoul(argv[1], nullptr, 0));
  const double intervalMs = argc > 2 ? std::atof(argv[2]) : 100;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 10;
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "x_ping: no display\n");
    return 1;
  }
  const Window root = DefaultRootWindow(d);
  const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
  const Atom ping = XInternAtom(d, "_NET_WM_PING", False);
  XSelectInput(d, root, SubstructureNotifyMask);
  XSync(d, False);

  std::vector<double> rtts;
  long sent = 0, lost = 0;
  const double end = nowMs() + seconds * 1000.0;
  while (nowMs() < end) {
    const double t0 = nowMs();
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = protocols;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = long(ping);
    ev.xclient.data.l[1] = ++sent;
    ev.xclient.data.l[2] = long(target);
    XSendEvent(d, target, False, NoEventMask, &ev);
    XFlush(d);
    bool answered = false;
    while (!answered) {
      const double left = t0 + 2000.0 - nowMs();
      if (left <= 0) break;
      if (!XPending(d)) {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(d), &fds);
        timeval tv{long(left / 1000), long(std::fmod(left, 1000.0) * 1000)};
        if (select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv) <= 0) continue;
      }
      while (XPending(d)) {
        XEvent in;
        XNextEvent(d, &in);
        if (in.type == ClientMessage && in.xclient.message_type == protocols &&
            Atom(in.xclient.data.l[0]) == ping && in.xclient.data.l[1] == sent)
          answered = true;
      }
    }
    const double rtt = nowMs() - t0;
    if (answered) {
      rtts.push_back(rtt);
      if (rtt > 100) std::fprintf(stderr, "x_ping: ping %ld took %.1f ms\n", sent, rtt);
    } else {
      ++lost;
      std::fprintf(stderr, "x_ping: ping %ld not answered within 2 s\n", sent);
    }
    const double next = t0 + intervalMs;
    while (nowMs() < next) {
      const double left = next - nowMs();
      timespec ts{time_t(left / 1000), long(std::fmod(left, 1000.0) * 1e6)};
      nanosleep(&ts, nullptr);
    }
  }
  std::sort(rtts.begin(), rtts.end());
  auto at = [&](double q) { return rtts.empty() ? 0.0 : rtts[size_t(q * double(rtts.size() - 1))]; };
  const long over = long(std::count_if(rtts.begin(), rtts.end(), [](double r) { return r > 100; }));
  std::printf("pings %ld answered %zu median_ms %.2f p99_ms %.2f max_ms %.2f over_100ms %ld lost %ld\n",
              sent, rtts.size(), at(0.5), at(0.99), rtts.empty() ? 0.0 : rtts.back(), over, lost);
  XCloseDisplay(d);
  return 0;
}
