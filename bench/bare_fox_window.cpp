// A bare FOX window: the idle reference of bench/sidebyside.sh. One main window with a label,
// shown, and the event loop; nothing else. What it costs idle is what FOX and the X connection
// cost on this machine, which quarn's idle figure is set against in the same run.
#include <fx.h>

int main(int argc, char** argv) {
  FXApp app("BareFoxWindow", "QuarnBench");
  app.init(argc, argv);
  auto* window = new FXMainWindow(&app, "Bare FOX window", nullptr, nullptr, DECOR_ALL, 0, 0, 640, 480);
  new FXLabel(window, "bare FOX window", nullptr, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  app.create();
  window->show(PLACEMENT_SCREEN);
  return app.run();
}
