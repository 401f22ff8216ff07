// Quarn's entry point: configuration, key lists, the application object and the main window.
#include <csignal>
#include <cstdio>

#include "app/about_dialog.h"
#include "app/quarn_window.h"
#include "app/startup_files.h"
#include "serial/serial_port.h"

namespace {
constexpr const char* vendorName = "quarn.example.org";

QuarnState quarnState;
}  // namespace

int main(int argc, char* argv[]) {
  // Trace lines go to stdout: a reader that went away (`quarn | head`, a closed terminal)
  // must cost those lines, not the program.
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  loadStartupConfig(quarnState);

  FXApp application(quarnVersionText, vendorName);
  // Trace lines must reach the terminal at once, also when the program ends abruptly.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);

  application.init(argc, argv);
  // After the toolkit's start, so no handler of its own replaces this one.
  releasePortsOnSignals();
  QuarnWindow* window = new QuarnWindow(&application, quarnState);
  loadStartupKeys(window->link().records());
  window->link().records().state.linkMode = LinkMode::wireless;
  application.create();
  reportExposedFiles(*window);

  // Wired or wireless operation is chosen once the window is realised, before the event loop.
  window->connectionChoice();

  application.run();
  return 0;
}
