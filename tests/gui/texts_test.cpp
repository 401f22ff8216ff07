// Every quoted text of the shell held against the live widgets: menu items with their mnemonic
// and accelerator, the log fonts' descriptions, and the About box and option dialog with their
// texts and padding. One table; a row names where its value was read.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/quarn_window.h"
#include "gui_support.h"

const char* const guiProgramName = "texts_test";

namespace {

// A caption's text as it was given: the mnemonic's "&" put back, the accelerator after a tab.
struct CaptionPeek : FXMenuCaption {
  static FXint hotOffset(const FXMenuCaption* c) { return c->*(&CaptionPeek::hotoff); }
};
struct LabelPeek : FXLabel {
  static FXint hotOffset(const FXLabel* l) { return l->*(&LabelPeek::hotoff); }
};

std::string withMnemonic(std::string text, FXint hot) {
  if (hot >= 0 && static_cast<size_t>(hot) <= text.size()) text.insert(static_cast<size_t>(hot), "&");
  return text;
}

std::string given(FXMenuCaption* c) {
  std::string text = withMnemonic(str(c->getText()), CaptionPeek::hotOffset(c));
  if (c->isMemberOf(FXMETACLASS(FXMenuCommand))) {
    const std::string accel = str(static_cast<FXMenuCommand*>(c)->getAccelText());
    if (!accel.empty()) text += "\t" + accel;
  }
  return text;
}

std::string given(FXLabel* l) { return withMnemonic(str(l->getText()), LabelPeek::hotOffset(l)); }

std::string padding(FXint left, FXint right, FXint top, FXint bottom) {
  return std::to_string(left) + " " + std::to_string(right) + " " + std::to_string(top) + " " +
         std::to_string(bottom);
}
template <typename T>
std::string paddingOf(T* w) {
  return padding(w->getPadLeft(), w->getPadRight(), w->getPadTop(), w->getPadBottom());
}
std::string spacingOf(FXPacker* p) { return std::to_string(p->getHSpacing()) + " " + std::to_string(p->getVSpacing()); }
std::string spacingOf(FXTopWindow* p) { return std::to_string(p->getHSpacing()) + " " + std::to_string(p->getVSpacing()); }

// What a dialog shows: title, its padding and spacing, then each label, button and check
// button in creation order, with the padding of frames and buttons.
void readDialog(FXDialogBox* dialog, const std::string& key, std::map<std::string, std::string>& seen) {
  seen[key + " title"] = str(dialog->getTitle());
  seen[key + " padding"] = paddingOf(dialog);
  seen[key + " spacing"] = spacingOf(dialog);
  std::vector<FXWindow*> all;
  collect(dialog, all);
  int labels = 0, buttons = 0, frames = 0;
  for (FXWindow* w : all) {
    if (w->isMemberOf(FXMETACLASS(FXButton))) {
      const std::string k = key + " button " + std::to_string(buttons++);
      seen[k] = given(static_cast<FXLabel*>(w));
      seen[k + " padding"] = paddingOf(static_cast<FXButton*>(w));
    } else if (w->isMemberOf(FXMETACLASS(FXLabel))) {  // also check buttons
      seen[key + " label " + std::to_string(labels++)] = given(static_cast<FXLabel*>(w));
    } else if (w->isMemberOf(FXMETACLASS(FXVerticalFrame))) {
      const std::string k = key + " frame " + std::to_string(frames++);
      seen[k + " padding"] = paddingOf(static_cast<FXPacker*>(w));
      seen[k + " spacing"] = spacingOf(static_cast<FXPacker*>(w));
    }
  }
}

// Opens a dialog by a command and reads it through the script, then cancels it.
void readDialogOf(int id, const std::string& key, std::map<std::string, std::string>& seen) {
  DialogScript script({[&](FXDialogBox* dialog) {
    readDialog(dialog, key, seen);
    dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
  }});
  runWithDialogs(script, [&] { command(id); });
}

std::string normalisedFont(const char* description) {
  FXFont font(shell().app, description);
  return str(font.getFont());
}

TEST(Texts, EveryQuotedValueHoldsOnTheLiveWindow) {
  QuarnWindow* w = shell().window;
  std::map<std::string, std::string> seen;

  // Menus: each title with its items in order, separators as "-".
  for (FXMenuTitle* title : widgetsOf<FXMenuTitle>(w)) {
    const std::string name = given(title);
    seen["menu " + name] = name;
    std::string items;
    for (FXWindow* item = title->getMenu()->getFirst(); item != nullptr; item = item->getNext()) {
      items += "|";
      items += item->isMemberOf(FXMETACLASS(FXMenuSeparator)) ? "-" : given(static_cast<FXMenuCaption*>(item));
    }
    seen["menu " + name + " items"] = items;
  }

  // Fonts as each "Use font" item leaves them; the chosen one was built from its description.
  for (int i = 0; i < 4; ++i) {
    w->handle(probe(w).fontRadios()[i], FXSEL(SEL_COMMAND, QuarnWindow::ID_FONT_1 + i), nullptr);
    seen["font " + std::to_string(i + 1)] = str(probe(w).logFont()->getFont());
  }
  w->handle(probe(w).fontRadios()[1], FXSEL(SEL_COMMAND, QuarnWindow::ID_FONT_2), nullptr);

  linkRecords().state.linkMode = LinkMode::wired;
  readDialogOf(QuarnWindow::ID_ABOUT, "about", seen);
  readDialogOf(QuarnWindow::ID_OPTION_BITS, "options", seen);
  linkRecords().state = ConverterLinkState{};

  FXFont terminal(shell().app, "Terminal", 11, FXFont::Normal, FXFont::Straight, FONTENCODING_DEFAULT,
                  FXFont::NonExpanded, 0);
  const std::map<std::string, std::string> expected = {
      {"menu &File", "&File"},
      {"menu &File items", "|Save settings…|Load settings…|Save log…|-|Apply settings file…|Verify against settings file…|Site plan…|-|&quit\tctrl-q"},
      {"menu &Help", "&Help"},
      {"menu &Help items", "|Help|&about\tctrl-a"},
      {"menu &Settings", "&Settings"},
      {"menu &Settings items",
       "|Use font 1|Use font 2|Use font 3|Use font 4|&reset output\tctrl-r|-|Use wired encrypted messages"},
      {"menu &Converter options", "&Converter options"},
      {"menu &Converter options items", "|Set option bits"},
      {"menu Wired connection options", "Wired connection options"},
      {"menu Wired connection options items", "|Disconnect COM port|Reconnect COM port|Select new COM port"},
      {"font 1", normalisedFont("Courier,50,bold,,,,0")},
      {"font 2", str(terminal.getFont())},
      {"font 3", normalisedFont("Fixed,105,bold,,expanded")},
      {"font 4", normalisedFont("helvetica [bitstream],105,bold,,expanded,iso8859-1,0")},
      {"about title", "About Quarn"},
      {"about padding", "10 10 0 0"},
      {"about spacing", "0 0"},
      {"about label 0", ""},
      {"about frame 0 padding", "10 10 10 10"},
      {"about frame 0 spacing", "0 0"},
      {"about label 1", "Quarn v1.3.0"},
      {"about label 2", "\nQuarn\nTool to configure a M-Bus converter dongle."},
      {"about label 3", "Wired connection COM port []\n"},
      {"about button 0", "&OK"},
      {"about button 0 padding", "32 32 2 2"},
      {"options title", "Set converter options."},
      {"options padding", "10 10 10 10"},
      {"options spacing", "4 4"},
      {"options label 0", "Unencrypted wired config."},
      {"options label 1", "Converter secondary address"},
      {"options label 2", "option 3"},
      {"options label 3", "option 4"},
      {"options label 4", "option 5"},
      {"options label 5", "option 6"},
      {"options label 6", "option 7"},
      {"options label 7", "option 8"},
      {"options label 8", "The option bits are not known yet.\nRead them, or set each one\nbefore OK."},
      {"options button 0", "Read"},
      {"options button 1", "OK"},
      {"options button 2", "Cancel"},
  };
  for (const auto& row : expected) {
    auto at = seen.find(row.first);
    ASSERT_NE(at, seen.end()) << row.first << " not found on the window";
    EXPECT_EQ(at->second, row.second) << row.first;
  }
  // Every text read has its row; padding and spacing only where a value is given for them.
  for (const auto& value : seen) {
    const bool layout = value.first.find(" padding") != std::string::npos || value.first.find(" spacing") != std::string::npos;
    if (layout && expected.count(value.first) == 0) continue;
    EXPECT_EQ(expected.count(value.first), 1u) << value.first << " = " << value.second << " has no row";
  }
}

}  // namespace
