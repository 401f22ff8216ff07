// What the in-process window tests share: the one FOX application of the process with its one
// QuarnWindow, widget look-ups, simulated clicks, and answering the modal dialogs a call opens.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/quarn_window.h"
#include "window_probe.h"

// The name each test program gives its FXApp; every GUI test executable defines it once.
extern const char* const guiProgramName;

// FOX allows one application object per process: every test shares it and one window.
struct Shell {
  FXApp* app = nullptr;
  QuarnWindow* window = nullptr;
};

QuarnState& sharedState();
// The records of the shared window's link.
LinkRecords& linkRecords();
// Opens the display (retrying while a just-started server refuses) and builds the window on
// first use; aborts when there is no display at all.
Shell& shell();

std::string str(const FXString& s);
std::string logContent();
size_t countOf(const std::string& text, const std::string& part);

// Refreshes and handles pending events a few times over.
void pump();
// Handles what the event loop has now: every queued X event, then the inputs and timers due.
// runWhileEvents alone stops at the first Expose (FOX only notes the area), and while X events
// are queued FOX does not look at its inputs: a window just uncovered by another program's
// (hundreds of Expose events) would leave a port unread for seconds in a loop that sleeps.
void runQueuedEvents();

// Every descendant of a window, depth first in creation order.
void collect(FXWindow* root, std::vector<FXWindow*>& out);

template <typename T>
std::vector<T*> widgetsOf(FXWindow* root) {
  std::vector<FXWindow*> all;
  collect(root, all);
  std::vector<T*> found;
  for (FXWindow* w : all) {
    if (w->isMemberOf(FXMETACLASS(T))) found.push_back(static_cast<T*>(w));
  }
  return found;
}

// Label texts, buttons and radio buttons excluded.
std::vector<std::string> labelTexts(FXWindow* root);
FXButton* buttonNamed(FXWindow* root, const std::string& text);
std::vector<std::string> itemsOf(FXListBox* list);
// The first list box of a dialog, as a user finds it there; nullptr when it has none.
FXListBox* listBoxOf(FXWindow* dialog);
void selectItem(FXListBox* list, const std::string& text);

// What a click on the button sends: its message to its target.
void press(FXButton* button);
// A mouse click on a radio button, as the pointer delivers it.
void clickRadio(FXRadioButton* radio);
void closeByWindow(FXDialogBox* dialog);
void command(int id);

// Runs the event loop (timers included) until the condition holds or five seconds passed.
bool pumpUntil(const std::function<bool()>& condition);

// Sends what the File menu's item with this text sends.
void chooseFileItem(QuarnWindow* w, const std::string& text);

// Stops the receive timers, closes both ports and empties what a connection left behind.
void resetConnection(QuarnWindow* w);

using DialogStep = std::function<void(FXDialogBox*)>;

// Answers the modal dialogs that a call opens, one step per dialog in order. Each step must
// close its dialog. A dialog left over when the steps ran out, or after the time limit, is
// cancelled so that a fault cannot hang the test.
class DialogScript : public FXObject {
  FXDECLARE(DialogScript)
public:
  enum { ID_POLL = 1 };
  std::vector<DialogStep> steps;
  size_t done = 0;
  std::vector<std::string> titles;
  std::vector<std::string> unexpected;
  std::vector<std::string> tolerated;  // titles that may come up in between and are cancelled

  explicit DialogScript(std::vector<DialogStep> s = {}) : steps(std::move(s)) {}
  ~DialogScript() override { disarm(); }
  void arm();
  void disarm();

  long onPoll(FXObject*, FXSelector, void*);

private:
  static constexpr FXuint pollMs = 30;
  static constexpr int maxPolls = 400;
  int polls = 0;
};

// Runs call with the script answering its dialogs; every step must have been used and no
// dialog beyond them (other than a tolerated one) may have come up.
void runWithDialogs(DialogScript& script, const std::function<void()>& call);

// The file chooser titled so: types the path and accepts.
DialogStep answerChooser(const std::string& title, const std::string& path);

// The connection dialog: optionally clicks "Wired connection", then closes it by OK or by
// the window's close command.
DialogStep chooseConnection(bool wired, bool byOk = true);

// The port dialog: reports its list and preselection when asked, picks the named port (none
// when empty) and presses "Connect".
DialogStep choosePort(const std::string& port, std::vector<std::string>* listed = nullptr,
                      std::string* preselected = nullptr);
