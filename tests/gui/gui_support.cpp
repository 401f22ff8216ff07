#include "gui_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

QuarnState& sharedState() {
  static QuarnState* state = new QuarnState;  // lives until exit
  return *state;
}

LinkRecords& linkRecords() { return shell().window->link().records(); }

Shell& shell() {
  static Shell instance;
  if (instance.app == nullptr) {
    static int argc = 1;
    static std::string name = guiProgramName;
    static char* argv[] = {&name[0], nullptr};
    instance.app = new FXApp("Quarn v1.3.0", "quarn.example.org");
    instance.app->init(argc, argv, false);
    // A display that has just started may refuse the first connection: retry briefly.
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !opened; ++attempt) {
      opened = instance.app->openDisplay();
      if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!opened) {
      std::fprintf(stderr, "%s: no X display (run under xvfb-run)\n", guiProgramName);
      std::abort();
    }
    instance.window = new QuarnWindow(instance.app, sharedState());
    instance.app->create();
  }
  return instance;
}

std::string str(const FXString& s) { return std::string(s.text(), static_cast<size_t>(s.length())); }

std::string logContent() { return str(probe(shell().window).logView()->getText()); }

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

void pump() {
  FXApp* app = shell().app;
  for (int i = 0; i < 5; ++i) {
    app->forceRefresh();
    app->runWhileEvents();
  }
}

void runQueuedEvents() {
  FXApp* app = shell().app;
  // peekEvent also holds while a refresh walks the widgets, one widget a call: bounded.
  constexpr int eventMax = 20000;
  for (int i = 0; i < eventMax && app->peekEvent(); ++i) app->runOneEvent(false);
  app->runWhileEvents();
}

void collect(FXWindow* root, std::vector<FXWindow*>& out) {
  for (FXWindow* child = root->getFirst(); child != nullptr; child = child->getNext()) {
    out.push_back(child);
    collect(child, out);
  }
}

std::vector<std::string> labelTexts(FXWindow* root) {
  std::vector<std::string> texts;
  for (FXLabel* label : widgetsOf<FXLabel>(root)) {
    if (label->isMemberOf(FXMETACLASS(FXButton)) || label->isMemberOf(FXMETACLASS(FXRadioButton)) ||
        label->isMemberOf(FXMETACLASS(FXMenuButton))) {
      continue;  // buttons, and the drop-down part of a list box
    }
    texts.push_back(str(label->getText()));
  }
  return texts;
}

FXButton* buttonNamed(FXWindow* root, const std::string& text) {
  for (FXButton* button : widgetsOf<FXButton>(root)) {
    if (str(button->getText()) == text) return button;
  }
  return nullptr;
}

std::vector<std::string> itemsOf(FXListBox* list) {
  std::vector<std::string> items;
  for (FXint i = 0; i < list->getNumItems(); ++i) items.push_back(str(list->getItemText(i)));
  return items;
}

FXListBox* listBoxOf(FXWindow* dialog) {
  const std::vector<FXListBox*> lists = widgetsOf<FXListBox>(dialog);
  return lists.empty() ? nullptr : lists.front();
}

void selectItem(FXListBox* list, const std::string& text) {
  const FXint index = list->findItem(text.c_str());
  ASSERT_GE(index, 0) << text;
  list->setCurrentItem(index);
}

void press(FXButton* button) {
  ASSERT_NE(button, nullptr);
  ASSERT_NE(button->getTarget(), nullptr);
  button->getTarget()->handle(button, FXSEL(SEL_COMMAND, button->getSelector()), nullptr);
}

void clickRadio(FXRadioButton* radio) {
  FXEvent event;
  event.type = SEL_LEFTBUTTONPRESS;
  radio->handle(radio, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
  event.type = SEL_LEFTBUTTONRELEASE;
  radio->handle(radio, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
}

void closeByWindow(FXDialogBox* dialog) { dialog->handle(dialog, FXSEL(SEL_CLOSE, 0), nullptr); }

void command(int id) { shell().window->handle(nullptr, FXSEL(SEL_COMMAND, id), nullptr); }

void resetConnection(QuarnWindow* w) {
  LinkRecords& s = w->link().records();
  shell().app->removeTimeout(w, QuarnWindow::ID_TIMER_WIRED);
  shell().app->removeTimeout(w, QuarnWindow::ID_TIMER_DONGLE);
  closeWiredPort(w->link().wiredSession().port);
  w->link().wiredSession().port = WiredPort{};
  closeSerialPort(s.dongleLink.port);
  s.dongleLink = DongleLink{};
  s.dongleRecord = DongleRecord{};
  s.heard = HeardConverterList{};
  s.state = ConverterLinkState{};
  w->link().dongleSession().watch = DongleWatch{};
  w->followLinks();  // the event loop must not watch the closed ports
  w->clearLog();
  probe(w).converterIdField()->setText("None selected.");
  unsetenv("QUARN_VIRTUAL_PORTS");
}

void DialogScript::arm() { shell().app->addTimeout(this, ID_POLL, pollMs); }
void DialogScript::disarm() { shell().app->removeTimeout(this, ID_POLL); }

long DialogScript::onPoll(FXObject*, FXSelector, void*) {
  FXWindow* modal = shell().app->getModalWindow();
  if (modal != nullptr && modal->isMemberOf(FXMETACLASS(FXDialogBox))) {
    FXDialogBox* dialog = static_cast<FXDialogBox*>(modal);
    shell().app->forceRefresh();  // radio buttons take their state from the data target
    titles.push_back(str(dialog->getTitle()));
    if (done < steps.size()) {
      steps[done++](dialog);
    } else {
      if (std::find(tolerated.begin(), tolerated.end(), titles.back()) == tolerated.end())
        unexpected.push_back(titles.back());
      dialog->handle(this, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
    }
  }
  if (++polls < maxPolls) arm();
  return 1;
}

FXDEFMAP(DialogScript) DialogScriptMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, DialogScript::ID_POLL, DialogScript::onPoll),
};
FXIMPLEMENT(DialogScript, FXObject, DialogScriptMap, ARRAYNUMBER(DialogScriptMap))

void runWithDialogs(DialogScript& script, const std::function<void()>& call) {
  script.arm();
  call();
  script.disarm();  // dialogs opened later belong to the next script
  std::string seen;
  for (const std::string& title : script.titles) seen += "[" + title + "]";
  EXPECT_EQ(script.done, script.steps.size()) << "dialogs answered: " << seen;
  EXPECT_TRUE(script.unexpected.empty()) << (script.unexpected.empty() ? "" : script.unexpected.front());
}

DialogStep chooseConnection(bool wired, bool byOk) {
  return [wired, byOk](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), "Select wired or wireless operation.");
    std::vector<FXRadioButton*> radios = widgetsOf<FXRadioButton>(dialog);
    ASSERT_EQ(radios.size(), 2u);
    if (wired) clickRadio(radios[1]);
    if (byOk) {
      press(buttonNamed(dialog, "OK"));
    } else {
      closeByWindow(dialog);
    }
  };
}

DialogStep choosePort(const std::string& port, std::vector<std::string>* listed, std::string* preselected) {
  return [port, listed, preselected](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), "Select wired parameters.");
    // 180 pixels is the least; the title needs room beside the title bar's buttons.
    EXPECT_GE(dialog->getWidth(), 180);
    EXPECT_GE(dialog->getWidth(), dialog->getApp()->getNormalFont()->getTextWidth(dialog->getTitle()) + 120);
    FXListBox* list = listBoxOf(dialog);
    ASSERT_NE(list, nullptr);
    if (listed) *listed = itemsOf(list);
    if (preselected && list->getNumItems() > 0) *preselected = str(list->getItemText(list->getCurrentItem()));
    if (!port.empty()) selectItem(list, port);
    press(buttonNamed(dialog, "Connect"));
  };
}

bool pumpUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    runQueuedEvents();
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

void chooseFileItem(QuarnWindow* w, const std::string& text) {
  for (FXMenuTitle* title : widgetsOf<FXMenuTitle>(w)) {
    if (str(title->getText()) != "File") continue;
    for (FXWindow* item = title->getMenu()->getFirst(); item != nullptr; item = item->getNext()) {
      if (!item->isMemberOf(FXMETACLASS(FXMenuCommand))) continue;
      FXMenuCommand* menuCommand = static_cast<FXMenuCommand*>(item);
      if (str(menuCommand->getText()) != text) continue;
      menuCommand->getTarget()->handle(menuCommand, FXSEL(SEL_COMMAND, menuCommand->getSelector()), nullptr);
      return;
    }
  }
  ADD_FAILURE() << "no File menu item " << text;
}

DialogStep answerChooser(const std::string& title, const std::string& path) {
  return [title, path](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), title);
    ASSERT_TRUE(dialog->isMemberOf(FXMETACLASS(FXFileDialog)));
    static_cast<FXFileDialog*>(dialog)->setFilename(path.c_str());
    dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  };
}
