// QuarnWindow on a real FOX application: widgets, command table, menus, log, fonts, About, Help.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fxkeys.h>

#include "app/nearby_table.h"
#include "app/quarn_window.h"
#include "app/startup_files.h"
#include "gui_support.h"

const char* const guiProgramName = "shell_test";

namespace {

// Pumps events until the condition holds or two seconds have passed.
template <typename Condition>
bool pumpUntil(Condition condition) {
  for (int i = 0; i < 200; ++i) {
    pump();
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

FXEvent keyEvent(FXuint type, FXuint code, FXuint state, const char* text) {
  FXEvent event;
  event.type = type;
  event.code = code;
  event.state = state;
  event.text = text;
  return event;
}

// A key press with its release, as the keyboard delivers it.
void pressKey(FXWindow* target, FXuint code, FXuint state, const char* text) {
  FXEvent press = keyEvent(SEL_KEYPRESS, code, state, text);
  target->handle(target, FXSEL(SEL_KEYPRESS, 0), &press);
  FXEvent release = keyEvent(SEL_KEYRELEASE, code, state, text);
  target->handle(target, FXSEL(SEL_KEYRELEASE, 0), &release);
}

void typeText(FXWindow* target, const std::string& text) {
  for (char c : text) {
    const char one[2] = {c, '\0'};
    pressKey(target, static_cast<FXuchar>(c), 0, one);
  }
}

template <typename T>
std::vector<std::string> textsOf(FXWindow* root) {
  std::vector<FXWindow*> all;
  collect(root, all);
  std::vector<std::string> texts;
  for (FXWindow* w : all) {
    if (w->isMemberOf(FXMETACLASS(T))) texts.push_back(str(static_cast<T*>(w)->getText()));
  }
  return texts;
}

// Answers the modal dialog that a command opens: records what it shows, then accepts it.
class DialogProbe : public FXObject {
  FXDECLARE(DialogProbe)
public:
  enum { ID_PROBE = 1 };
  std::string title;
  std::vector<std::string> labels;
  bool sawIcon = false;
  int attempts = 0;

  void arm() { shell().app->addTimeout(this, ID_PROBE, 100); }

  long onProbe(FXObject*, FXSelector, void*) {
    FXWindow* modal = shell().app->getModalWindow();
    if (modal == nullptr || !modal->isMemberOf(FXMETACLASS(FXDialogBox))) {
      if (++attempts < 100) arm();
      return 1;
    }
    FXDialogBox* dialog = static_cast<FXDialogBox*>(modal);
    title = str(dialog->getTitle());
    std::vector<FXWindow*> all;
    collect(dialog, all);
    for (FXWindow* w : all) {
      if (w->isMemberOf(FXMETACLASS(FXButton))) continue;
      if (w->isMemberOf(FXMETACLASS(FXLabel))) {
        FXLabel* label = static_cast<FXLabel*>(w);
        if (label->getIcon() == probe(shell().window).bigIcon()) sawIcon = true;
        labels.push_back(str(label->getText()));
      }
    }
    dialog->handle(this, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
    return 1;
  }
};

FXDEFMAP(DialogProbe) DialogProbeMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, DialogProbe::ID_PROBE, DialogProbe::onProbe),
};
FXIMPLEMENT(DialogProbe, FXObject, DialogProbeMap, ARRAYNUMBER(DialogProbeMap))

// Ends an event loop that a test starts, should the command under test not end it.
class LoopGuard : public FXObject {
  FXDECLARE(LoopGuard)
public:
  enum { ID_GUARD = 1, ID_QUIT_KEY };
  bool fired = false;
  long onGuard(FXObject*, FXSelector, void*) {
    fired = true;
    shell().app->stop(99);
    return 1;
  }
  long onQuitKey(FXObject*, FXSelector, void*) {
    pressKey(shell().window, KEY_q, CONTROLMASK, "q");
    return 1;
  }
};

FXDEFMAP(LoopGuard) LoopGuardMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, LoopGuard::ID_GUARD, LoopGuard::onGuard),
    FXMAPFUNC(SEL_TIMEOUT, LoopGuard::ID_QUIT_KEY, LoopGuard::onQuitKey),
};
FXIMPLEMENT(LoopGuard, FXObject, LoopGuardMap, ARRAYNUMBER(LoopGuardMap))

class ShellTest : public ::testing::Test {
protected:
  void SetUp() override {
    w = shell().window;
    w->clearLog();
    linkRecords().state = ConverterLinkState{};
    w->link().wiredSession().port.portName.clear();
  }
  QuarnWindow* w = nullptr;
};

// ---------------------------------------------------------------- command table

struct IdCase {
  int id;
  int value;
};

TEST_F(ShellTest, CommandIdsHaveTheirTableValues) {
  EXPECT_EQ(static_cast<int>(FXMainWindow::ID_LAST), 60);
  const IdCase ids[] = {
      {QuarnWindow::ID_ABOUT, 60},          {QuarnWindow::ID_NEARBY_TABLE, 62},
      {QuarnWindow::ID_TIMER_WIRED, 68},    {QuarnWindow::ID_TIMER_DONGLE, 69},
      {QuarnWindow::ID_FONT_1, 71},         {QuarnWindow::ID_FONT_2, 72},
      {QuarnWindow::ID_FONT_3, 73},         {QuarnWindow::ID_FONT_4, 74},
      {QuarnWindow::ID_RESET_OUTPUT, 75},   {QuarnWindow::ID_FIND_CONVERTER, 77},
      {QuarnWindow::ID_SECURED_MESSAGES, 80}, {QuarnWindow::ID_SET_DATA_1, 81},
      {QuarnWindow::ID_SET_DATA_4, 84},     {QuarnWindow::ID_GET_DATA_1, 85},
      {QuarnWindow::ID_GET_DATA_4, 88},     {QuarnWindow::ID_OPTION_BITS, 91},
      {QuarnWindow::ID_HELP, 92},           {QuarnWindow::ID_DISCONNECT, 93},
      {QuarnWindow::ID_RECONNECT, 94},      {QuarnWindow::ID_SELECT_PORT, 95},
      {QuarnWindow::ID_KEY_FIND_1, 96},     {QuarnWindow::ID_KEY_FIND_4, 99},
      {QuarnWindow::ID_SCAN, 100},          {QuarnWindow::ID_GET_OPTIONS, 103},
      {QuarnWindow::ID_SET_OPTIONS, 104},
  };
  for (const IdCase& c : ids) EXPECT_EQ(c.id, c.value);
}

TEST_F(ShellTest, EveryCommandOfTheTableIsRoutedAndUnusedValuesAreNot) {
  ASSERT_NE(shell().app, nullptr);
  // Find converter (77) and the wired-port commands (93 to 95) open dialogs: connect_test.
  // The converter commands (81 to 88, 91, 96 to 100, 103, 104) and the double-click on the
  // nearby table send, log or open dialogs: commands_test.
  // With no port and no dongle a wake-up reads nothing and reports nothing handled, which
  // spares FOX its refresh of every widget; with nothing waited for, no bound is armed.
  for (int id : {QuarnWindow::ID_TIMER_WIRED, QuarnWindow::ID_TIMER_DONGLE}) {
    EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_TIMEOUT, id), nullptr), 0);
    EXPECT_FALSE(shell().app->hasTimeout(w, id));
  }
  for (int id : {QuarnWindow::ID_INPUT_WIRED, QuarnWindow::ID_INPUT_DONGLE, QuarnWindow::ID_INPUT_DEVICES})
    EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_IO_READ, id), nullptr), 0);
  EXPECT_EQ(logContent(), "");  // nothing pretends to have talked to a device

  const int unused[] = {61, 63, 64, 65, 66, 67, 70, 76, 78, 79, 89, 90, 101, 102, 105};
  for (int id : unused) {
    EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_COMMAND, id), nullptr), 0) << id;
  }
  // A command id arriving as a timer is not a command.
  EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_TIMEOUT, QuarnWindow::ID_SCAN), nullptr), 0);
}

// ---------------------------------------------------------------- window and widgets

TEST_F(ShellTest, WindowTitleIconsAndStatus) {
  EXPECT_EQ(str(w->getTitle()), "Quarn v1.3.0");
  EXPECT_EQ(w->getWidth(), 1340);
  EXPECT_EQ(w->getHeight(), 850);
  ASSERT_EQ(w->getIcon(), probe(w).bigIcon());
  ASSERT_EQ(w->getMiniIcon(), probe(w).miniIcon());
  EXPECT_EQ(probe(w).bigIcon()->getWidth(), 104);
  EXPECT_EQ(probe(w).bigIcon()->getHeight(), 34);
  EXPECT_EQ(probe(w).miniIcon()->getWidth(), 16);
  EXPECT_EQ(probe(w).miniIcon()->getHeight(), 16);
  EXPECT_NE(probe(w).bigIcon()->getOptions() & IMAGE_OPAQUE, 0u);
  EXPECT_EQ(str(probe(w).statusLine()->getNormalText()), "Not connected.");
  EXPECT_EQ(str(w->getApp()->getAppName()), "Quarn v1.3.0");
  EXPECT_TRUE(w->shown());
  EXPECT_EQ(w->link().wiredSession().port.portName, "");
  EXPECT_EQ(w->link().wiredSession().port.port.fd, -1);
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  for (FXCheckButton* check : probe(w).optionChecks()) EXPECT_EQ(check, nullptr);
}

TEST_F(ShellTest, GroupBoxesTabsAndLabelsInOrder) {
  const std::vector<std::string> groups = {
      "General converter settings", "Converter wired interface settings", "Device settings", "1", "2", "3", "4",
      "Devices Nearby", "Communication log"};
  EXPECT_EQ(textsOf<FXGroupBox>(w), groups);
  const std::vector<std::string> tabs = {"Settings", "Communication log", "Survey"};
  EXPECT_EQ(textsOf<FXTabItem>(w), tabs);

  // The window's own buttons, in creation order, with the command each sends.
  std::vector<FXWindow*> all;
  collect(w, all);
  std::vector<std::pair<std::string, int>> buttons;
  for (FXWindow* child : all) {
    if (child->isMemberOf(FXMETACLASS(FXButton)) && child->getTarget() == w) {
      buttons.emplace_back(str(static_cast<FXButton*>(child)->getText()), static_cast<int>(child->getSelector()));
    }
  }
  std::vector<std::pair<std::string, int>> expectedButtons = {{"Find converter", QuarnWindow::ID_FIND_CONVERTER}};
  for (int slot = 0; slot < slotCount; ++slot) {
    expectedButtons.emplace_back("Get Data", QuarnWindow::ID_GET_DATA_1 + slot);
    expectedButtons.emplace_back("Set Data", QuarnWindow::ID_SET_DATA_1 + slot);
    expectedButtons.emplace_back("Key find", QuarnWindow::ID_KEY_FIND_1 + slot);
  }
  expectedButtons.emplace_back("Scan", QuarnWindow::ID_SCAN);
  EXPECT_EQ(buttons, expectedButtons);

  const std::vector<std::string> labels = textsOf<FXLabel>(w);
  for (const char* text : {"Converter Encryption Key", "Converter ID", "Wired Protocol", "Wired Encryption Mode",
                           "Manuf. ID", "Version", "Device ID", "Media", "Key Encryption Key", "Master Key",
                           "Wireless Protocol", "Wireless Encryption Mode", "Wired Address", "Active"}) {
    EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
  }
}

TEST_F(ShellTest, ConverterIdIsReadOnlyGrayedAndSaysNoneSelected) {
  FXTextField* id = probe(w).converterIdField();
  EXPECT_EQ(str(id->getText()), "None selected.");
  EXPECT_FALSE(id->isEditable());
  EXPECT_EQ(id->getNumColumns(), 40);
  EXPECT_EQ(id->getTarget(), nullptr);
  // Grays itself once the toolkit updates it: nobody answers its updates.
  EXPECT_TRUE(pumpUntil([id] { return !id->isEnabled(); }));
  typeText(id, "1234");
  EXPECT_EQ(str(id->getText()), "None selected.");
}

TEST_F(ShellTest, ConverterKeyComesFromTheSecondConfigLine) {
  struct ConfigCase {
    bool loaded;
    const char* line2;
    const char* shown;
  };
  const ConfigCase cases[] = {
      {true, "00112233445566778899AABBCCDDEEFF", "00112233445566778899AABBCCDDEEFF"},
      {true, "", ""},  // a file with one line: opened, so no default
      {false, "ignored", "3C5A0F1E92B47D68A0E1C3F5B7092D4E"},
  };
  for (const ConfigCase& c : cases) {
    static QuarnState* other = new QuarnState;
    other->config.configLoaded = c.loaded;
    std::snprintf(other->config.configLine2, configLineSize, "%s", c.line2);
    QuarnWindow* second = new QuarnWindow(shell().app, *other);
    EXPECT_EQ(str(probe(second).converterKeyField()->getText()), c.shown);
    delete second;
  }
}

// Start-up files read from the working directory, then the window built from them.
TEST_F(ShellTest, StartupFilesFeedTheConverterKeyField) {
  char pattern[] = "/tmp/quarn-gui-start-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  static QuarnState* loaded = new QuarnState;
  static LinkRecords* keys = new LinkRecords;  // several MB of key lists

  // Nothing there: defaults, and both key lists emptied.
  keys->converterKeys.count = 7;
  keys->meterKeys.count = 9;
  loadStartupConfig(*loaded);
  loadStartupKeys(*keys);
  EXPECT_FALSE(loaded->config.configLoaded);
  EXPECT_EQ(keys->converterKeys.count, 0u);
  EXPECT_EQ(keys->meterKeys.count, 0u);
  QuarnWindow* plain = new QuarnWindow(shell().app, *loaded);
  EXPECT_EQ(str(probe(plain).converterKeyField()->getText()), "3C5A0F1E92B47D68A0E1C3F5B7092D4E");
  delete plain;

  // A 300-character first line: the key field gets its last 45 characters, cut to 40 columns
  // only when typed, not when set.
  const std::string tail = "0123456789ABCDEF0123456789ABCDEF0123456789ABC";
  std::ofstream(dir + "/Quarnconfig.txt") << std::string(255, '#') << tail << "\nignored\n";
  ASSERT_EQ(mkdir((dir + "/dongleKeys").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/meterKeys").c_str(), 0755), 0);
  std::ofstream(dir + "/dongleKeys/site.txt") << "# converters\nA;12345678;000102030405060708090A0B0C0D0E0F\n";
  std::ofstream(dir + "/meterKeys/site.txt") << "M1;00000001;" << std::string(32, 'A') << "\nM2;00000002;"
                                             << std::string(32, 'B') << ";" << std::string(32, 'C') << "\n";
  loadStartupConfig(*loaded);
  loadStartupKeys(*keys);
  EXPECT_TRUE(loaded->config.configLoaded);
  EXPECT_EQ(keys->converterKeys.count, 1u);
  EXPECT_EQ(keys->meterKeys.count, 2u);
  QuarnWindow* fromFile = new QuarnWindow(shell().app, *loaded);
  EXPECT_EQ(str(probe(fromFile).converterKeyField()->getText()), tail);
  delete fromFile;

  ASSERT_EQ(chdir(cwd), 0);
  std::system(("rm -rf '" + dir + "'").c_str());
}

struct FieldCase {
  const char* name;
  FXTextField* (*field)(QuarnWindow*);
  int columns;
};

TEST_F(ShellTest, TypingStopsAtTheFieldWidth) {
  const FieldCase cases[] = {
      {"converter key", [](QuarnWindow* q) { return probe(q).converterKeyField(); }, 40},
      {"manufacturer 1", [](QuarnWindow* q) { return probe(q).manufacturerFields()[0]; }, 3},
      {"version 2", [](QuarnWindow* q) { return probe(q).versionFields()[1]; }, 2},
      {"device id 3", [](QuarnWindow* q) { return probe(q).deviceIdFields()[2]; }, 8},
      {"media 4", [](QuarnWindow* q) { return probe(q).mediaFields()[3]; }, 2},
      {"kek 1", [](QuarnWindow* q) { return probe(q).kekFields()[0]; }, 32},
      {"master key 4", [](QuarnWindow* q) { return probe(q).masterKeyFields()[3]; }, 32},
  };
  const std::string typed = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
  for (const FieldCase& c : cases) {
    FXTextField* field = c.field(w);
    const FXString before = field->getText();
    EXPECT_EQ(field->getNumColumns(), c.columns) << c.name;
    EXPECT_TRUE(field->isEditable()) << c.name;
    field->setText(FXString::null);
    typeText(field, typed);
    EXPECT_EQ(str(field->getText()), typed.substr(0, static_cast<size_t>(c.columns))) << c.name;
    field->setText(before);
  }
  for (int slot = 0; slot < slotCount; ++slot) {
    EXPECT_EQ(str(probe(w).deviceIdFields()[slot]->getText()), "") << slot;
    EXPECT_EQ(str(probe(w).kekFields()[slot]->getText()), "") << slot;
  }
}

TEST_F(ShellTest, ListContentsAndInitialSelections) {
  const std::vector<std::string> protocols = {"Generic", "LUXmetering", "DSMR22", "DSMR4", "OMS", "SMR", "ESMR",
                                              "Legacy HYDROMETER", "GWF key extension", "KAMSTRUP", "ECHELON",
                                              "RAW WMBUS"};
  const std::vector<std::string> wiredModes = {"NONE", "MODE4", "MODE5", "MODE7", "MODE9", "MODE15", "MODE C",
                                               "Legacy HYDROMETER", "DES MODE2", "DES MODE3"};
  const std::vector<std::string> wirelessModes = {"NONE", "MODE4", "MODE5", "MODE7", "MODE9", "MODE15", "MODE C",
                                                  "Legacy HYDROMETER"};
  EXPECT_EQ(itemsOf(probe(w).wiredProtocolList()), protocols);
  EXPECT_EQ(itemsOf(probe(w).wiredModeList()), wiredModes);
  EXPECT_EQ(probe(w).wiredProtocolList()->getCurrentItem(), 0);
  EXPECT_EQ(probe(w).wiredModeList()->getCurrentItem(), 0);
  EXPECT_EQ(probe(w).wiredProtocolList()->getNumVisible(), 5);
  EXPECT_EQ(probe(w).wiredModeList()->getNumVisible(), 5);
  for (int slot = 0; slot < slotCount; ++slot) {
    FXListBox* protocol = probe(w).wirelessProtocolLists()[slot];
    FXListBox* mode = probe(w).wirelessModeLists()[slot];
    EXPECT_EQ(itemsOf(protocol), protocols);
    EXPECT_EQ(itemsOf(mode), wirelessModes);
    EXPECT_EQ(str(protocol->getItemText(protocol->getCurrentItem())), "OMS");
    EXPECT_EQ(protocol->getCurrentItem(), 4);
    EXPECT_EQ(str(mode->getItemText(mode->getCurrentItem())), "MODE5");
    EXPECT_EQ(mode->getCurrentItem(), 2);
    EXPECT_EQ(protocol->getNumVisible(), 5);
    EXPECT_EQ(mode->getNumVisible(), 5);
    EXPECT_FALSE(probe(w).activeChecks()[slot]->getCheck());
    EXPECT_EQ(probe(w).activeChecks()[slot]->getTarget(), nullptr);
  }
}

TEST_F(ShellTest, WiredAddressCombosOffer0To250AndStartEmpty) {
  for (int slot = 0; slot < slotCount; ++slot) {
    FXComboBox* combo = probe(w).wiredAddressCombos()[slot];
    ASSERT_EQ(combo->getNumItems(), 251);
    for (int i = 0; i < 251; ++i) ASSERT_EQ(str(combo->getItemText(i)), std::to_string(i));
    EXPECT_EQ(str(combo->getText()), "");
    EXPECT_EQ(combo->getNumVisible(), 5);
    EXPECT_EQ(combo->getNumColumns(), 3);
    EXPECT_TRUE(combo->isEditable());
  }
}

TEST_F(ShellTest, NearbyTableLayoutAndColours) {
  FXTable* table = probe(w).nearbyTable();
  EXPECT_EQ(table->getNumRows(), 250);
  EXPECT_EQ(table->getNumColumns(), 3);
  EXPECT_EQ(table->getVisibleRows(), 8);
  EXPECT_EQ(table->getVisibleColumns(), 3);
  EXPECT_FALSE(table->isEditable());
  EXPECT_EQ(table->getTarget(), w);
  EXPECT_EQ(table->getSelector(), static_cast<FXSelector>(QuarnWindow::ID_NEARBY_TABLE));
  const char* headers[] = {"Meter address", "Description", "RSSI (dBm)"};
  const int widths[] = {200, 400, 200};
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(str(table->getColumnText(c)), headers[c]);
    if (c < 2) {
      EXPECT_EQ(table->getColumnWidth(c), widths[c]);
    }
  }
  // The last column fills what the others leave: no empty room looks like a fourth column.
  pump();
  EXPECT_GE(table->getColumnWidth(2), widths[2]);
  const FXint shown = static_cast<NearbyTable*>(table)->visibleWidth();
  EXPECT_EQ(table->getColumnWidth(0) + table->getColumnWidth(1) + table->getColumnWidth(2), shown);
  // None of it under the scroll bar, where the right-aligned RSSI numbers would be cut.
  EXPECT_LE(shown, table->getWidth() - table->verticalScrollBar()->getWidth());
  // No row header: the rows have no headings, so it would only be an empty sliver.
  EXPECT_EQ(table->getRowHeader()->getWidth(), 0);
  EXPECT_EQ(table->getBackColor(), FXRGB(255, 255, 255));
  EXPECT_EQ(table->getCellColor(0, 0), FXRGB(255, 255, 255));
  EXPECT_EQ(table->getCellColor(0, 1), FXRGB(255, 240, 240));
  EXPECT_EQ(table->getCellColor(1, 0), FXRGB(240, 255, 240));
  EXPECT_EQ(table->getCellColor(1, 1), FXRGB(240, 240, 255));
  EXPECT_EQ(table->getColumnHeaderMode() & LAYOUT_FIX_HEIGHT, 0u);
  EXPECT_NE(table->getTableStyle() & TABLE_NO_ROWSELECT, 0u);
  EXPECT_NE(table->getTableStyle() & TABLE_NO_COLSELECT, 0u);
}

// Three letters fit the Manuf. ID field in whatever font it has: the window's own and each the
// Fonts menu offers (cut, a DME meter showed as "OME" and an empty slot as "@@").
TEST_F(ShellTest, ManufacturerFieldHoldsThreeWideLettersInEveryFont) {
  pump();
  FXTextField* field = probe(w).manufacturerFields()[0];
  FXFont* own = field->getFont();
  const FXint frame = field->getPadLeft() + field->getPadRight() + 2 * field->getBorderWidth();
  const auto fits = [&](FXFont* font) {
    field->setFont(font);
    for (const char* text : {"@@@", "DME", "WWW", "MMM", "KAM"})
      EXPECT_GT(field->getDefaultWidth() - frame, font->getTextWidth(text)) << text;
    field->setFont(own);  // before the menu replaces (and deletes) the font
  };
  {
    SCOPED_TRACE("window font");
    fits(own);
  }
  for (int i = 0; i < fontChoiceCount; ++i) {
    SCOPED_TRACE("Use font " + std::to_string(i + 1));
    command(QuarnWindow::ID_FONT_1 + i);
    fits(probe(w).logFont());
  }
  command(QuarnWindow::ID_FONT_2);
  probe(w).fontRadios()[1]->setCheck(TRUE);  // as the item checks itself when chosen
  // As laid out in the window, with its own font.
  pump();
  for (FXTextField* f : probe(w).manufacturerFields()) EXPECT_GT(f->getWidth() - frame, own->getTextWidth("@@@"));
}

// ---------------------------------------------------------------- menus and accelerators

TEST_F(ShellTest, MenuChecksAndAccelerators) {
  EXPECT_TRUE(probe(w).fontRadios()[1]->getCheck());
  EXPECT_FALSE(probe(w).fontRadios()[0]->getCheck());
  EXPECT_FALSE(probe(w).fontRadios()[2]->getCheck());
  EXPECT_FALSE(probe(w).fontRadios()[3]->getCheck());
  EXPECT_FALSE(probe(w).securedMessagesCheck()->getCheck());
  FXAccelTable* accel = w->getAccelTable();
  ASSERT_NE(accel, nullptr);
  EXPECT_TRUE(accel->hasAccel(parseAccel("Ctrl-Q")));
  EXPECT_TRUE(accel->hasAccel(parseAccel("Ctrl-A")));
  EXPECT_TRUE(accel->hasAccel(parseAccel("Ctrl-R")));
}

TEST_F(ShellTest, CtrlREmptiesTheLog) {
  w->logText("something\n", logStylePlain);
  ASSERT_NE(logContent(), "");
  pressKey(w, KEY_r, CONTROLMASK, "r");
  EXPECT_EQ(logContent(), "");
  w->logText("first\n", logStylePlain);
  EXPECT_EQ(logContent(), "first\n");
}

struct AboutCase {
  LinkMode mode;
  const char* port;
  const char* serial;
  const char* description;
  const char* shown;
};

TEST_F(ShellTest, AboutShowsTheConnectionTextLiterally) {
  const AboutCase cases[] = {
      {LinkMode::wired, "", "", "", "Wired connection COM port []\r\n"},
      {LinkMode::wired, "ttyUSB0", "", "", "Wired connection COM port [ttyUSB0]\r\n"},
      {LinkMode::wired, "%d%s", "", "", "Wired connection COM port [%d%s]\r\n"},
      {LinkMode::wireless, "ttyS0", "ZJ000042", "Wireless M-Bus stick",
       "Wireless connection\r\nID: [ZJ000042]\r\nDescription: [Wireless M-Bus stick]\r\n"},
      {LinkMode::wireless, "", "", "", "Wireless connection\r\nID: []\r\nDescription: []\r\n"},
      {LinkMode::wireless, "", "%s%n", "100%", "Wireless connection\r\nID: [%s%n]\r\nDescription: [100%]\r\n"},
  };
  for (const AboutCase& c : cases) {
    linkRecords().state.linkMode = c.mode;
    w->link().wiredSession().port.portName = c.port;
    DongleRecord& record = linkRecords().dongleRecord;
    std::snprintf(record.serial, sizeof record.serial, "%s", c.serial);
    std::snprintf(record.description, sizeof record.description, "%s", c.description);
    DialogProbe probe;
    probe.arm();
    if (&c == cases) {
      pressKey(w, KEY_a, CONTROLMASK, "a");  // returns once the probe has accepted the box
    } else {
      EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_COMMAND, QuarnWindow::ID_ABOUT), nullptr), 1);
    }
    EXPECT_EQ(probe.title, "About Quarn");
    EXPECT_TRUE(probe.sawIcon);
    EXPECT_EQ(str(w->aboutConnectionText()), c.shown);
    ASSERT_EQ(probe.labels.size(), 4u);
    EXPECT_EQ(probe.labels[1], "Quarn v1.3.0");
    // The label draws the CR LF line ends as plain line breaks.
    std::string drawn = c.shown;
    for (size_t at = drawn.find("\r\n"); at != std::string::npos; at = drawn.find("\r\n", at)) drawn.erase(at, 1);
    EXPECT_EQ(probe.labels[3], drawn);
  }
  linkRecords().dongleRecord = DongleRecord{};
}

TEST_F(ShellTest, CtrlQEndsTheEventLoop) {
  LoopGuard guard;
  shell().app->addTimeout(&guard, LoopGuard::ID_QUIT_KEY, 50);
  shell().app->addTimeout(&guard, LoopGuard::ID_GUARD, 5000);
  const FXint code = shell().app->run();
  shell().app->removeTimeout(&guard, LoopGuard::ID_GUARD);
  shell().app->removeTimeout(&guard, LoopGuard::ID_QUIT_KEY);
  EXPECT_FALSE(guard.fired);
  EXPECT_EQ(code, 0);
}

// ---------------------------------------------------------------- fonts

void chooseFont(QuarnWindow* q, int index) {
  pressKey(probe(q).fontRadios()[index], KEY_Return, 0, "\r");  // activates the menu radio item
}

TEST_F(ShellTest, FontThreeThenOneLeavesOnlyOneChecked) {
  w->logText("kept text\n", logStyleDongle);
  chooseFont(w, 2);
  EXPECT_EQ(probe(w).logView()->getFont(), probe(w).logFont());
  EXPECT_EQ(probe(w).logFont()->getSize(), 105u);
  EXPECT_TRUE(probe(w).fontRadios()[2]->getCheck());
  EXPECT_FALSE(probe(w).fontRadios()[1]->getCheck());

  chooseFont(w, 0);
  const bool checks[4] = {true, false, false, false};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(probe(w).fontRadios()[i]->getCheck() != FALSE, checks[i]) << i;
  EXPECT_EQ(probe(w).logView()->getFont(), probe(w).logFont());
  EXPECT_EQ(probe(w).logFont()->getSize(), 50u);
  EXPECT_TRUE(probe(w).logFont()->id() != 0);  // realised
  EXPECT_EQ(logContent(), "kept text\n");
  EXPECT_EQ(probe(w).logView()->getStyle(0), logStyleDongle);

  chooseFont(w, 0);  // the checked item again: a new font of the same kind
  for (int i = 0; i < 4; ++i) EXPECT_EQ(probe(w).fontRadios()[i]->getCheck() != FALSE, checks[i]) << i;
  EXPECT_EQ(probe(w).logFont()->getSize(), 50u);

  chooseFont(w, 1);  // back to the start font
  EXPECT_EQ(str(probe(w).logFont()->getName()), "Terminal");
  EXPECT_EQ(probe(w).logFont()->getSize(), 110u);
  EXPECT_TRUE(probe(w).fontRadios()[1]->getCheck());
  EXPECT_FALSE(probe(w).fontRadios()[0]->getCheck());
}

// ---------------------------------------------------------------- log

TEST_F(ShellTest, StylesAreKeptPerAppend) {
  w->logText(">>> REQ_UD2\n", logStylePlain);
  const uint8_t bytes[] = {0x10, 0x5B};
  w->logHexDump(bytes, sizeof bytes, logStyleDongle);
  EXPECT_EQ(logContent(), ">>> REQ_UD2\n0x10 0x5B \n");
  EXPECT_EQ(probe(w).logView()->getStyle(0), 0);
  EXPECT_EQ(probe(w).logView()->getStyle(12), 2);
  EXPECT_EQ(probe(w).logView()->getStyle(probe(w).logView()->getLength() - 1), 2);

  const FXHiliteStyle* styles = probe(w).logView()->getHiliteStyles();
  ASSERT_NE(styles, nullptr);
  EXPECT_EQ(styles[0].normalForeColor, FXRGB(0, 0, 0));
  EXPECT_EQ(styles[0].selectForeColor, FXRGB(255, 0, 0));
  EXPECT_EQ(styles[0].selectBackColor, FXRGB(128, 0, 0));
  EXPECT_EQ(styles[1].normalForeColor, FXRGB(255, 0, 0));
  EXPECT_EQ(styles[1].selectForeColor, FXRGB(100, 255, 100));
  EXPECT_EQ(styles[1].selectBackColor, FXRGB(0, 128, 0));
  EXPECT_EQ(styles[2].normalForeColor, FXRGB(0, 0, 255));
  EXPECT_EQ(styles[2].selectBackColor, FXRGB(0, 0, 128));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(styles[i].normalBackColor, FXRGB(255, 255, 255));
    EXPECT_EQ(styles[i].hiliteForeColor, FXRGB(0, 0, 0));
    EXPECT_EQ(styles[i].hiliteBackColor, FXRGB(255, 255, 255));
    EXPECT_EQ(styles[i].activeBackColor, FXRGB(255, 255, 255));
    EXPECT_EQ(styles[i].style, 0u);
  }
  EXPECT_TRUE(probe(w).logView()->isStyled());
}

TEST_F(ShellTest, TimestampIsUtcTimeOfDayAndLeavesTheLineOpen) {
  const std::time_t before = std::time(nullptr);
  w->logTimestamp();
  const std::time_t after = std::time(nullptr);
  w->logText("next\n", logStylePlain);
  const std::string text = logContent();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(text, m, std::regex(R"((\d\d):(\d\d):(\d\d):   next\n)"))) << text;
  const int seconds = std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]);
  const int low = static_cast<int>(before % 86400);
  const int high = static_cast<int>(after % 86400);
  EXPECT_TRUE((seconds >= low && seconds <= high) || (high < low && (seconds >= low || seconds <= high))) << text;
  EXPECT_EQ(probe(w).logView()->getStyle(0), 0);
}

TEST_F(ShellTest, LastLineIsScrolledIntoViewAtItsStart) {
  FXTabBook* tabs = static_cast<FXTabBook*>(probe(w).logView()->getParent()->getParent()->getParent()->getParent());
  ASSERT_TRUE(tabs->isMemberOf(FXMETACLASS(FXTabBook)));
  tabs->setCurrent(1);
  pump();
  for (int i = 0; i < 300; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "line %d\n", i);
    w->logText(line, logStylePlain);
  }
  w->logText("open end", logStylePlain);
  pump();
  FXText* log = probe(w).logView();
  EXPECT_TRUE(log->isPosVisible(log->lineStart(log->getLength())));
  EXPECT_FALSE(log->isPosVisible(0));
  EXPECT_EQ(log->getXPosition(), 0);
  tabs->setCurrent(0);
  pump();
}

TEST_F(ShellTest, BatchWritesTheWakeUpsTextAtItsEndWithEachCallsStyle) {
  const uint8_t bytes[] = {0x10, 0x5B};
  {
    LogBatch batch(probe(w).communicationLog());
    w->logText("<<< Answer\n", logStyleDongle);
    w->logHexDump(bytes, sizeof bytes, logStylePlain);
    EXPECT_EQ(logContent(), "");  // held until the batch ends
  }
  EXPECT_EQ(logContent(), "<<< Answer\n0x10 0x5B \n");
  EXPECT_EQ(probe(w).logView()->getStyle(0), logStyleDongle);
  EXPECT_EQ(probe(w).logView()->getStyle(10), logStyleDongle);
  EXPECT_EQ(probe(w).logView()->getStyle(11), logStylePlain);
  EXPECT_EQ(probe(w).logView()->getStyle(probe(w).logView()->getLength() - 1), logStylePlain);
  // A line left open, in the widget or in a batch, gets Quarn's own notice on a line of its own.
  for (bool batched : {false, true}) {
    w->clearLog();
    if (batched) probe(w).communicationLog().beginBatch();
    w->logText("Dongle ID: 0x01", logStylePlain);
    logOwnLine(*w, "Connection lost: ttyQ\n", logStylePlain);
    logOwnLine(*w, "Not sent\n", logStylePlain);
    if (batched) probe(w).communicationLog().endBatch();
    EXPECT_EQ(logContent(), "Dongle ID: 0x01\nConnection lost: ttyQ\nNot sent\n") << batched;
  }
}

TEST_F(ShellTest, LogKeepsItsNewestLinesWithinItsLimitBehindOneNotice) {
  const size_t limit = 8000;
  probe(w).communicationLog().setLimit(limit);
  const std::string notice = logDropNotice(limit);
  for (int i = 0; i < 1000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "line %04d 0x01 0x02 0x03 0x04 0x05\n", i);
    if (i % 3 == 0) {
      LogBatch batch(probe(w).communicationLog());
      w->logText(line, logStyleDongle);
    } else {
      w->logText(line, logStylePlain);
    }
    ASSERT_LE(static_cast<size_t>(probe(w).logView()->getLength()), limit) << i;
  }
  const std::string text = logContent();
  ASSERT_EQ(text.compare(0, notice.size(), notice), 0) << text.substr(0, 100);
  EXPECT_EQ(text.find("--- earlier lines dropped", 1), std::string::npos);
  // What follows the notice is whole lines, consecutive, up to the newest.
  std::istringstream rest(text.substr(notice.size()));
  std::string line;
  int expected = -1;
  while (std::getline(rest, line)) {
    int number = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "line %d ", &number), 1) << line;
    ASSERT_EQ(line.size(), 34u) << line;
    if (expected >= 0) {
      EXPECT_EQ(number, expected);
    }
    expected = number + 1;
  }
  EXPECT_EQ(expected, 1000);
  EXPECT_GT(text.size(), limit / 2);

  // Clearing starts afresh: no notice until the limit is reached again.
  w->clearLog();
  w->logText("line 0000\n", logStylePlain);
  EXPECT_EQ(logContent(), "line 0000\n");
  probe(w).communicationLog().setLimit(logLimitChars);
}

TEST_F(ShellTest, LogIsReadOnlyButSelectableWithTheMouse) {
  FXTabBook* tabs = static_cast<FXTabBook*>(probe(w).logView()->getParent()->getParent()->getParent()->getParent());
  tabs->setCurrent(1);
  w->logText("0x68 0x03 0x03 0x68\n", logStylePlain);
  pump();
  FXText* log = probe(w).logView();
  EXPECT_FALSE(log->isEditable());
  typeText(log, "xyz");
  EXPECT_NE(log->getTextStyle() & TEXT_SHOWACTIVE, 0u);
  EXPECT_NE(log->getTextStyle() & TEXT_AUTOSCROLL, 0u);
  FXEvent press;
  press.type = SEL_LEFTBUTTONPRESS;
  press.code = LEFTBUTTON;
  press.click_count = 1;
  press.win_x = log->getMarginLeft() + 1;
  press.win_y = log->getMarginTop() + 2;
  press.state = 0;
  log->handle(log, FXSEL(SEL_LEFTBUTTONPRESS, 0), &press);
  FXEvent drag = press;
  drag.type = SEL_MOTION;
  drag.state = LEFTBUTTONMASK;
  drag.win_x = press.win_x + log->getFont()->getTextWidth("0x68 0x03", 9);
  log->handle(log, FXSEL(SEL_MOTION, 0), &drag);
  FXEvent release = drag;
  release.type = SEL_LEFTBUTTONRELEASE;
  release.state = 0;
  log->handle(log, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &release);
  ASSERT_LT(log->getSelStartPos(), log->getSelEndPos());
  FXString selected;
  log->extractText(selected, log->getSelStartPos(), log->getSelEndPos() - log->getSelStartPos());
  EXPECT_EQ(str(selected), "0x68 0x03");
  // The toolkit's copy command works on the selection of a read-only text.
  EXPECT_EQ(log->handle(nullptr, FXSEL(SEL_COMMAND, FXText::ID_COPY_SEL), nullptr), 1);
  EXPECT_EQ(logContent(), "0x68 0x03 0x03 0x68\n");
  tabs->setCurrent(0);
  pump();
}

// ---------------------------------------------------------------- secured messages

TEST_F(ShellTest, SecuredMessagesToggleInWiredRunsAndStaySetInWirelessOnes) {
  for (LinkMode mode : {LinkMode::wired, LinkMode::wireless}) {
    linkRecords().state.linkMode = mode;
    linkRecords().state.securedMessages = false;
    for (int i = 0; i < 4; ++i) {
      pressKey(probe(w).securedMessagesCheck(), KEY_Return, 0, "\r");
      EXPECT_EQ(linkRecords().state.securedMessages, mode == LinkMode::wireless || i % 2 == 0) << i;
    }
  }
}

// ---------------------------------------------------------------- help

TEST_F(ShellTest, HelpOpensThePageBelowTheWorkingDirectory) {
  char pattern[] = "/tmp/quarn-gui-help-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  ASSERT_EQ(mkdir((dir + "/help").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/bin").c_str(), 0755), 0);
  std::ofstream(dir + "/help/index.html") << "<html></html>\n";
  std::ofstream(dir + "/bin/xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > '" << dir << "/seen.tmp'\nmv '" << dir
                                       << "/seen.tmp' '" << dir << "/seen'\n";
  ASSERT_EQ(chmod((dir + "/bin/xdg-open").c_str(), 0755), 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (dir + "/bin:/usr/bin:/bin").c_str(), 1);
  ASSERT_EQ(chdir(dir.c_str()), 0);

  EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_COMMAND, QuarnWindow::ID_HELP), nullptr), 1);
  std::string seen;
  for (int i = 0; i < 200 && seen.empty(); ++i) {
    std::ifstream in(dir + "/seen");
    std::stringstream s;
    s << in.rdbuf();
    seen = s.str();
    if (seen.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(seen, dir + "/help/index.html");

  // Started from a folder without the page: a trace line, nothing else.
  ASSERT_EQ(chdir((dir + "/bin").c_str()), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(w->handle(nullptr, FXSEL(SEL_COMMAND, QuarnWindow::ID_HELP), nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Help page not found: " + dir + "/bin/help/index.html\n");
  EXPECT_EQ(logContent(), "");

  ASSERT_EQ(chdir(cwd), 0);
  setenv("PATH", oldPath.c_str(), 1);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
