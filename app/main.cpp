// Quarn's entry point: configuration, key lists, the application object and the main window.
#include <cstdio>

#include "app/about_dialog.h"
#include "app/quarn_window.h"

namespace {
constexpr const char* vendorName = "quarn.example.org";
constexpr const char* converterKeyDirectory = "dongleKeys";
constexpr const char* meterKeyDirectory = "meterKeys";

// Several megabytes of key lists: one instance for the whole process, never on the stack.
QuarnState quarnState;
}  // namespace

int main(int argc, char* argv[]) {
  readConfigFile(configFileName, quarnState.config);

  quarnState.converterKeyList.count = 0;
  quarnState.meterKeyList.count = 0;
  loadKeyList(converterKeyDirectory, quarnState.converterKeyList);
  loadKeyList(meterKeyDirectory, quarnState.meterKeyList);

  FXApp application(quarnVersionText, vendorName);
  quarnState.link.linkMode = LinkMode::wireless;
  // Trace lines must reach the terminal at once, also when the program ends abruptly.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);

  application.init(argc, argv);
  new QuarnWindow(&application, quarnState);
  application.create();

  // The choice between wired and wireless operation (connectionChoice) runs here, once the
  // window is realised and before the event loop; until then the window starts unconnected.

  application.run();
  return 0;
}
