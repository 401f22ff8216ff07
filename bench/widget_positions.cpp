// Where the main window's buttons and menu titles sit, so a script can click them in the
// real program with xdotool: builds the window as the program does and prints, for each
// button and menu title, "kind<TAB>label#n<TAB>x<TAB>y<TAB>height" with the centre relative to
// the window's top-left corner (n counts equal labels from 1, in widget order).
#include <cstdio>
#include <map>
#include <string>

#include "app/quarn_window.h"

namespace {

QuarnState positionsState;  // static, as in the program

std::map<std::string, int> seen;

void report(const char* kind, FXWindow* w, const FXString& label, FXWindow* top) {
  FXString plain = label.section('\t', 0);
  plain.substitute("&", "");
  std::string name = plain.text();
  int n = ++seen[std::string(kind) + name];
  FXint x = 0, y = 0;
  w->translateCoordinatesTo(x, y, top, w->getWidth() / 2, w->getHeight() / 2);
  std::printf("%s\t%s#%d\t%d\t%d\t%d\n", kind, name.c_str(), n, x, y, w->getHeight());
}

void walk(FXWindow* w, FXWindow* top) {
  for (FXWindow* c = w->getFirst(); c; c = c->getNext()) {
    if (!c->shown()) continue;
    if (c->isMemberOf(FXMETACLASS(FXMenuTitle))) {
      report("menu", c, static_cast<FXMenuTitle*>(c)->getText(), top);
    } else if (c->isMemberOf(FXMETACLASS(FXButton))) {
      report("button", c, static_cast<FXButton*>(c)->getText(), top);
    }
    walk(c, top);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  FXApp app("Quarn v1.3.0", "quarn.example.org");
  app.init(argc, argv);
  QuarnWindow* window = new QuarnWindow(&app, positionsState);
  app.create();
  window->show(PLACEMENT_SCREEN);
  app.runWhileEvents();
  std::printf("window\tQuarn#1\t%d\t%d\t%d\n", window->getWidth(), window->getHeight(), 0);
  walk(window, window);
  return 0;
}
