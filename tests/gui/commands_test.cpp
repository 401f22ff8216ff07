// QuarnWindow's converter commands on a real FOX application under Xvfb: per-slot
// routing, Get/Set Data, answers through the window's answer targets, the option and
// destination dialogs, Scan and Key find. Bytes are checked in the communication log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fxkeys.h>

#include "app/option_dialog.h"
#include "app/quarn_window.h"
#include "gui_support.h"

const char* const guiProgramName = "commands_test";

namespace {

using Bytes = std::vector<uint8_t>;

// The hex dumps of the log, one byte vector per dump, in order.
std::vector<Bytes> loggedDumps() {
  std::vector<Bytes> dumps;
  std::istringstream lines(logContent());
  std::string line;
  bool inDump = false;
  while (std::getline(lines, line)) {
    if (line.rfind("0x", 0) != 0) {
      inDump = false;
      continue;
    }
    if (!inDump) dumps.emplace_back();
    inDump = true;
    std::istringstream tokens(line);
    std::string token;
    while (tokens >> token) dumps.back().push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  }
  return dumps;
}

// The converter command inside a plain wired long frame: after 68 L L 68, C, A, CI and
// the access number, status and configuration field; before checksum and stop byte.
constexpr size_t plainFramePayloadOffset = 11;

Bytes payloadOfFrame(const Bytes& frame) {
  if (frame.size() < plainFramePayloadOffset + 2) return {};
  return Bytes(frame.begin() + plainFramePayloadOffset, frame.end() - 2);
}

// The payloads of every frame sent since the log was last cleared.
std::vector<Bytes> sentPayloads() {
  std::vector<Bytes> payloads;
  for (const Bytes& dump : loggedDumps()) payloads.push_back(payloadOfFrame(dump));
  return payloads;
}

// An M-Bus long frame built here from the rules of the link layer, not by the program.
Bytes expectedPlainFrame(uint8_t accessNumber, const Bytes& payload) {
  Bytes userData = {0x53, 0xFB, 0x5A, accessNumber, 0x00, 0x00, 0x00};
  for (uint8_t b : payload) userData.push_back(b);
  const uint8_t l = static_cast<uint8_t>(userData.size());
  Bytes frame = {0x68, l, l, 0x68};
  uint8_t sum = 0;
  for (uint8_t b : userData) {
    sum = static_cast<uint8_t>(sum + b);
    frame.push_back(b);
  }
  frame.push_back(sum);
  frame.push_back(0x16);
  return frame;
}

// Finds the modal dialog a command opens and acts on it from a timer, since the command
// does not return while the dialog runs.
class DialogDriver : public FXObject {
  FXDECLARE(DialogDriver)
public:
  enum { ID_LOOK = 1 };
  std::function<void(FXDialogBox*)> action;
  bool acted = false;
  int attempts = 0;

  void arm() { shell().app->addTimeout(this, ID_LOOK, 50); }

  long onLook(FXObject*, FXSelector, void*) {
    FXWindow* modal = shell().app->getModalWindow();
    if (modal == nullptr || !modal->isMemberOf(FXMETACLASS(FXDialogBox))) {
      if (++attempts < 200) arm();
      return 1;
    }
    acted = true;
    action(static_cast<FXDialogBox*>(modal));
    return 1;
  }
};

FXDEFMAP(DialogDriver) DialogDriverMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, DialogDriver::ID_LOOK, DialogDriver::onLook),
};
FXIMPLEMENT(DialogDriver, FXObject, DialogDriverMap, ARRAYNUMBER(DialogDriverMap))

// Counts the commands and changes a widget sends to its target.
class MessageRecorder : public FXObject {
  FXDECLARE(MessageRecorder)
public:
  int received = 0;
  long onAnything(FXObject*, FXSelector, void*) {
    ++received;
    return 1;
  }
};

FXDEFMAP(MessageRecorder) MessageRecorderMap[] = {
    FXMAPTYPE(SEL_COMMAND, MessageRecorder::onAnything),
    FXMAPTYPE(SEL_CHANGED, MessageRecorder::onAnything),
};
FXIMPLEMENT(MessageRecorder, FXObject, MessageRecorderMap, ARRAYNUMBER(MessageRecorderMap))

// A left click in the top left corner of a widget, as the mouse delivers it.
void click(FXWindow* target) {
  FXEvent event;
  event.code = LEFTBUTTON;
  event.click_count = 1;
  event.win_x = 2;
  event.win_y = 2;
  event.type = SEL_LEFTBUTTONPRESS;
  target->handle(target, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
  event.type = SEL_LEFTBUTTONRELEASE;
  target->handle(target, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
}

void accept(FXDialogBox* dialog) { dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr); }
void cancel(FXDialogBox* dialog) { dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr); }

// The end of a window's focus chain: the widget that gets the keys the window gets.
FXWindow* focusedWidget(FXWindow* top) {
  FXWindow* w = top;
  while (w->getFocus() != nullptr) w = w->getFocus();
  return w;
}

// A key press with its release, delivered to a dialog as the keyboard would.
void pressKey(FXWindow* target, FXuint code, const char* text) {
  FXEvent event;
  event.code = code;
  event.text = text;
  event.type = SEL_KEYPRESS;
  target->handle(target, FXSEL(SEL_KEYPRESS, 0), &event);
  event.type = SEL_KEYRELEASE;
  target->handle(target, FXSEL(SEL_KEYRELEASE, 0), &event);
}

// Everything a slot's widgets show, as one comparable text.
std::string slotSnapshot(QuarnWindow* w, int s) {
  std::ostringstream out;
  out << probe(w).activeChecks()[s]->getCheck() << '|' << str(probe(w).manufacturerFields()[s]->getText()) << '|'
      << str(probe(w).versionFields()[s]->getText()) << '|' << str(probe(w).deviceIdFields()[s]->getText()) << '|'
      << str(probe(w).mediaFields()[s]->getText()) << '|' << str(probe(w).kekFields()[s]->getText()) << '|'
      << str(probe(w).masterKeyFields()[s]->getText()) << '|' << probe(w).wirelessProtocolLists()[s]->getCurrentItem() << '|'
      << probe(w).wirelessModeLists()[s]->getCurrentItem() << '|' << str(probe(w).wiredAddressCombos()[s]->getText());
  return out.str();
}

std::string windowSnapshot(QuarnWindow* w) {
  std::string all;
  for (int s = 0; s < slotCount; ++s) all += slotSnapshot(w, s) + "\n";
  all += std::to_string(probe(w).wiredProtocolList()->getCurrentItem()) + "|" +
         std::to_string(probe(w).wiredModeList()->getCurrentItem());
  return all;
}

// A Get Data answer for slot s with recognisable values.
Bytes getDataAnswer(uint8_t s) {
  Bytes a(64, 0);
  a[0] = 0x0F;
  a[1] = 0x35;
  a[2] = 0x92;
  a[3] = s;
  a[4] = 1;  // active
  const uint8_t address[8] = {0x78, 0x56, 0x34, 0x12, 0x43, 0x04, 0x01, 0x07};
  std::memcpy(&a[8], address, 8);
  for (int i = 0; i < 16; ++i) a[24 + i] = static_cast<uint8_t>(0xA0 + i);  // Master Key
  for (int i = 0; i < 16; ++i) a[40 + i] = static_cast<uint8_t>(0x10 + i);  // Key Encryption Key
  a[56] = 9;    // wired protocol "KAMSTRUP"
  a[57] = 8;    // wired mode "DES MODE2"
  a[58] = 11;   // wireless protocol "RAW WMBUS"
  a[59] = 7;    // wireless mode "Legacy HYDROMETER"
  a[61] = 250;  // wired address
  return a;
}

// A scan answer carrying up to eight entries of address and RSSI.
Bytes scanAnswer(const std::vector<Bytes>& entries) {
  Bytes a(84, 0);
  a[0] = 0x0F;
  a[1] = 0x35;
  a[2] = 0x96;
  for (size_t i = 0; i < entries.size() && i < 8; ++i) std::memcpy(&a[4 + 10 * i], entries[i].data(), 9);
  return a;
}

class CommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    w = shell().window;
    LinkRecords& records = linkRecords();
    records.state = ConverterLinkState{};
    records.state.linkMode = LinkMode::wired;  // no port open: frames are built and logged only
    records.options = ConverterOptions{};
    records.nearby = NearbyDeviceList{};
    records.meterKeys.count = 0;
    for (int s = 0; s < slotCount; ++s) w->writeSlot(s, SlotFields{});
    w->writeWired(WiredSettings{});
    for (int row = 0; row < 4; ++row) w->setNearbyRow(row, NearbyRowTexts{});
    w->clearLog();
  }

  void command(int id) { w->handle(w, FXSEL(SEL_COMMAND, id), nullptr); }

  void answer(const Bytes& payload) { parseConverterAnswer(payload.data(), payload.size(), w->link().targets()); }

  // Runs a command that opens a modal dialog; the action answers it.
  bool commandWithDialog(FXSelector sel, void* data, std::function<void(FXDialogBox*)> action) {
    DialogDriver driver;
    driver.action = std::move(action);
    driver.arm();
    w->handle(w, sel, data);
    shell().app->removeTimeout(&driver, DialogDriver::ID_LOOK);
    return driver.acted;
  }

  QuarnWindow* w = nullptr;
};

// ---------------------------------------------------------------- Get and Set Data

struct SlotCommandCase {
  int firstId;
  uint8_t code;
};

TEST_F(CommandsTest, GetAndSetDataOfEachSlotSendTheirOwnSlotIndex) {
  const SlotCommandCase cases[] = {{QuarnWindow::ID_GET_DATA_1, 0x92}, {QuarnWindow::ID_SET_DATA_1, 0x93}};
  for (const SlotCommandCase& c : cases) {
    for (int s = 0; s < slotCount; ++s) {
      w->clearLog();
      command(c.firstId + s);
      const std::vector<Bytes> payloads = sentPayloads();
      ASSERT_EQ(payloads.size(), 1u) << c.firstId + s;
      ASSERT_GE(payloads[0].size(), 4u);
      EXPECT_EQ(payloads[0][0], 0x0F);
      EXPECT_EQ(payloads[0][1], 0x35);
      EXPECT_EQ(payloads[0][2], c.code);
      EXPECT_EQ(payloads[0][3], s) << "id " << c.firstId + s;
      EXPECT_EQ(payloads[0].size(), c.code == 0x92 ? 4u : 64u);
    }
  }
}

TEST_F(CommandsTest, GetDataOfSlotThreeLogsTheWholeFrameAndWritesNothingWithoutAPort) {
  command(QuarnWindow::ID_GET_DATA_3);
  EXPECT_EQ(logContent().rfind(">>> Send meter config message\n", 0), 0u);
  const std::vector<Bytes> dumps = loggedDumps();
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0], expectedPlainFrame(0, {0x0F, 0x35, 0x92, 0x02}));
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(linkRecords().state.accessNumber, 1);
}

TEST_F(CommandsTest, GetDataGoesOutOnAnOpenWiredPortExactlyAsLogged) {
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw{};
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  w->link().wiredSession().port.port.fd = slave;
  w->link().wiredSession().port.portOpen = true;

  command(QuarnWindow::ID_GET_DATA_2);

  Bytes written(64);
  pollfd ready = {master, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 2000), 1);
  const ssize_t n = read(master, written.data(), written.size());
  w->link().wiredSession().port.portOpen = false;
  w->link().wiredSession().port.port.fd = -1;
  close(slave);
  close(master);
  ASSERT_GT(n, 0);
  written.resize(static_cast<size_t>(n));
  EXPECT_EQ(written, expectedPlainFrame(0, {0x0F, 0x35, 0x92, 0x01}));
  const std::vector<Bytes> dumps = loggedDumps();
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0], written);
}

TEST_F(CommandsTest, SetDataPadsTheDeviceIdAndSendsTheSlotAndWiredSettings) {
  SlotFields fields;
  fields.active = true;
  fields.manufacturer = "ABC";
  fields.version = "01";
  fields.deviceId = "1234";
  fields.media = "07";
  fields.wiredAddress = "17";
  fields.wirelessProtocol = 3;
  fields.wirelessMode = 6;
  w->writeSlot(1, fields);
  w->writeWired(WiredSettings{5, 9});
  const std::string otherSlots = slotSnapshot(w, 0) + slotSnapshot(w, 2) + slotSnapshot(w, 3);

  command(QuarnWindow::ID_SET_DATA_2);

  EXPECT_EQ(str(probe(w).deviceIdFields()[1]->getText()), "00001234");
  EXPECT_EQ(slotSnapshot(w, 0) + slotSnapshot(w, 2) + slotSnapshot(w, 3), otherSlots);
  const std::vector<Bytes> payloads = sentPayloads();
  ASSERT_EQ(payloads.size(), 1u);
  const Bytes& r = payloads[0];
  ASSERT_EQ(r.size(), 64u);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), (Bytes{0x0F, 0x35, 0x93, 0x01, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 24),
            (Bytes{0x34, 0x12, 0x00, 0x00, 0x43, 0x04, 0x01, 0x07, 0x43, 0x04, 0x34, 0x12, 0x00, 0x00, 0x01, 0x07}));
  EXPECT_EQ(Bytes(r.begin() + 56, r.end()), (Bytes{5, 9, 3, 6, 0x01, 17, 0x00, 0x00}));
}

TEST_F(CommandsTest, SecuredGetDataLogsTheCounterInRed) {
  linkRecords().state.securedMessages = true;
  command(QuarnWindow::ID_GET_DATA_1);
  const std::string log = logContent();
  const std::string line = "Counter now: 0x00000004";
  const size_t at = log.find(line);
  ASSERT_NE(at, std::string::npos) << log;
  for (size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(probe(w).logView()->getStyle(static_cast<FXint>(at + i)), logStyleDongle) << i;
  }
  EXPECT_EQ(linkRecords().state.messageCounter, 8u);
  const std::vector<Bytes> dumps = loggedDumps();
  ASSERT_EQ(dumps.size(), 1u);
  ASSERT_GT(dumps[0].size(), 7u);
  EXPECT_EQ(dumps[0][6], 0x90);  // the authentication layer, not a plain message
}

// ---------------------------------------------------------------- answers

TEST_F(CommandsTest, GetDataAnswerFillsItsSlotAndTheWiredListsWithoutRaisingCommands) {
  MessageRecorder recorder;
  FXWindow* watched[] = {probe(w).activeChecks()[1], probe(w).deviceIdFields()[1], probe(w).kekFields()[1],
                         probe(w).wirelessProtocolLists()[1], probe(w).wiredAddressCombos()[1], probe(w).wiredModeList()};
  for (FXWindow* widget : watched) widget->setTarget(&recorder);
  const std::string otherSlots = slotSnapshot(w, 0) + slotSnapshot(w, 2) + slotSnapshot(w, 3);

  answer(getDataAnswer(1));
  pump();
  for (FXWindow* widget : watched) widget->setTarget(nullptr);

  EXPECT_EQ(recorder.received, 0);
  EXPECT_TRUE(probe(w).activeChecks()[1]->getCheck());
  EXPECT_EQ(str(probe(w).manufacturerFields()[1]->getText()), "ABC");
  EXPECT_EQ(str(probe(w).deviceIdFields()[1]->getText()), "12345678");
  EXPECT_EQ(str(probe(w).versionFields()[1]->getText()), "01");
  EXPECT_EQ(str(probe(w).mediaFields()[1]->getText()), "07");
  EXPECT_EQ(str(probe(w).masterKeyFields()[1]->getText()), "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
  EXPECT_EQ(str(probe(w).kekFields()[1]->getText()), "101112131415161718191A1B1C1D1E1F");
  EXPECT_EQ(str(probe(w).wirelessProtocolLists()[1]->getItemText(probe(w).wirelessProtocolLists()[1]->getCurrentItem())),
            "RAW WMBUS");
  EXPECT_EQ(str(probe(w).wirelessModeLists()[1]->getItemText(probe(w).wirelessModeLists()[1]->getCurrentItem())),
            "Legacy HYDROMETER");
  EXPECT_EQ(probe(w).wiredAddressCombos()[1]->getCurrentItem(), 250);
  EXPECT_EQ(str(probe(w).wiredAddressCombos()[1]->getText()), "250");
  EXPECT_EQ(str(probe(w).wiredProtocolList()->getItemText(probe(w).wiredProtocolList()->getCurrentItem())), "KAMSTRUP");
  EXPECT_EQ(str(probe(w).wiredModeList()->getItemText(probe(w).wiredModeList()->getCurrentItem())), "DES MODE2");
  EXPECT_EQ(slotSnapshot(w, 0) + slotSnapshot(w, 2) + slotSnapshot(w, 3), otherSlots);
  EXPECT_EQ(logContent(), "");
}

TEST_F(CommandsTest, SetDataThenItsEchoedAnswerLeavesTheSlotAsItWas) {
  SlotFields fields;
  fields.active = true;
  fields.manufacturer = "XYZ";
  fields.version = "2A";
  fields.deviceId = "87654321";
  fields.media = "0E";
  fields.kek = "00112233445566778899AABBCCDDEEFF";
  fields.masterKey = "FFEEDDCCBBAA99887766554433221100";
  fields.wiredAddress = "3";
  fields.wirelessProtocol = 10;
  fields.wirelessMode = 0;
  w->writeSlot(3, fields);
  w->writeWired(WiredSettings{11, 4});
  const std::string before = windowSnapshot(w);
  command(QuarnWindow::ID_SET_DATA_4);
  Bytes record = sentPayloads().at(0);
  record[2] = 0x92;
  for (int s = 0; s < slotCount; ++s) w->writeSlot(s, SlotFields{});
  w->writeWired(WiredSettings{});
  answer(record);
  EXPECT_EQ(windowSnapshot(w), before);
}

struct OutOfRangeCase {
  size_t offset;
  uint8_t value;
  const char* line;
};

TEST_F(CommandsTest, AnswersOutsideTheListsChangeNoWidgetAndSaySo) {
  const OutOfRangeCase cases[] = {
      {3, 4, "<<< Ignored Get Data answer: slot 4 out of range.\n"},
      {56, 12, "<<< Ignored Get Data answer: wired protocol 12 out of range.\n"},
      {57, 10, "<<< Ignored Get Data answer: wired encryption mode 10 out of range.\n"},
      {58, 12, "<<< Ignored Get Data answer: wireless protocol 12 out of range.\n"},
      {59, 8, "<<< Ignored Get Data answer: wireless encryption mode 8 out of range.\n"},
      {61, 251, "<<< Ignored Get Data answer: wired address 251 out of range.\n"},
  };
  const std::string before = windowSnapshot(w);
  for (const OutOfRangeCase& c : cases) {
    w->clearLog();
    Bytes a = getDataAnswer(2);
    a[c.offset] = c.value;
    answer(a);
    EXPECT_EQ(windowSnapshot(w), before) << c.line;
    EXPECT_EQ(logContent(), c.line);
  }
  w->clearLog();
  Bytes shortAnswer = getDataAnswer(2);
  shortAnswer.resize(63);
  answer(shortAnswer);
  EXPECT_EQ(windowSnapshot(w), before);
  EXPECT_EQ(logContent(), "<<< Ignored Get Data answer: 63 bytes, 64 expected.\n");
}

// ---------------------------------------------------------------- option bits

struct OptionView {
  std::string title;
  int width = 0;
  int height = 0;
  std::vector<std::string> labels;
  std::vector<bool> ticks;
  bool checksPublished = false;
  bool okHasFocus = false;
  bool haveCancel = false;
};

OptionView lookAtOptionDialog(QuarnWindow* w, FXDialogBox* dialog) {
  OptionView view;
  view.title = str(dialog->getTitle());
  view.width = dialog->getWidth();
  view.height = dialog->getHeight();
  const std::vector<FXCheckButton*> checks = widgetsOf<FXCheckButton>(dialog);
  for (size_t i = 0; i < checks.size(); ++i) {
    view.labels.push_back(str(checks[i]->getText()));
    view.ticks.push_back(checks[i]->getCheck() == TRUE);
  }
  view.checksPublished = checks.size() == optionBitCount;
  for (size_t i = 0; i < checks.size() && i < optionBitCount; ++i) {
    if (probe(w).optionChecks()[i] != checks[i]) view.checksPublished = false;
  }
  FXButton* ok = buttonNamed(dialog, "OK");
  view.okHasFocus = ok != nullptr && focusedWidget(dialog) == ok;
  view.haveCancel = buttonNamed(dialog, "Cancel") != nullptr;
  return view;
}

std::vector<bool> ticksOf(QuarnWindow* w) {
  std::vector<bool> ticks;
  for (FXCheckButton* check : probe(w).optionChecks()) ticks.push_back(check != nullptr && check->getCheck() == TRUE);
  return ticks;
}

const Bytes readOptions = {0x0F, 0x35, 0x97};
const Bytes mixedOptionsAnswer = {0x0F, 0x35, 0x97, 0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0xFF};

// OK's state as the next refresh of the dialog leaves it.
bool okEnabled(FXDialogBox* dialog) {
  FXButton* ok = buttonNamed(dialog, "OK");
  if (ok == nullptr) return false;
  ok->handle(ok, FXSEL(SEL_UPDATE, 0), nullptr);
  return ok->isEnabled() == TRUE;
}

const Bytes allOnesAnswer = {0x0F, 0x35, 0x97, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};

TEST_F(CommandsTest, OptionDialogBeforeAnyReadSaysTheBitsAreUnknownAndOkWritesNothing) {
  OptionView seen;
  std::vector<Bytes> sentWhileOpen;
  std::vector<std::string> labels;
  bool okOn = true;
  bool haveRead = false;
  const bool acted = commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr,
                                       [&](FXDialogBox* dialog) {
                                         seen = lookAtOptionDialog(w, dialog);
                                         sentWhileOpen = sentPayloads();
                                         labels = labelTexts(dialog);
                                         okOn = okEnabled(dialog);
                                         haveRead = buttonNamed(dialog, "Read") != nullptr;
                                         accept(dialog);  // as Enter would, past the disabled button
                                       });
  ASSERT_TRUE(acted);
  EXPECT_EQ(seen.title, "Set converter options.");
  EXPECT_GE(seen.width, 240);  // the least; wider where the title needs it
  EXPECT_GE(seen.width, w->getApp()->getNormalFont()->getTextWidth(FXString(seen.title.c_str())) + 120);
  EXPECT_GE(seen.height, 280);  // taller by the note
  const std::vector<std::string> optionLabels = {"Unencrypted wired config.", "Converter secondary address", "option 3",
                                                 "option 4", "option 5", "option 6", "option 7", "option 8"};
  EXPECT_EQ(seen.labels, optionLabels);
  EXPECT_EQ(seen.ticks, std::vector<bool>(8, false));
  EXPECT_NE(std::find(labels.begin(), labels.end(), optionsUnknownText), labels.end());
  EXPECT_TRUE(haveRead);
  EXPECT_FALSE(okOn);
  EXPECT_TRUE(seen.checksPublished);
  EXPECT_TRUE(seen.okHasFocus);
  EXPECT_TRUE(seen.haveCancel);
  EXPECT_EQ(sentWhileOpen, std::vector<Bytes>{readOptions});

  for (FXCheckButton* check : probe(w).optionChecks()) EXPECT_EQ(check, nullptr);
  EXPECT_EQ(sentPayloads(), std::vector<Bytes>{readOptions});
  for (uint8_t b : linkRecords().options.bytes) EXPECT_EQ(b, 0xFF);
}

TEST_F(CommandsTest, UnknownOptionBitsAreWrittenOnceTheUserSetEachOne) {
  std::vector<bool> okAfter;
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr, [&](FXDialogBox* dialog) {
    // "option 3" clicked twice is set (to off) all the same.
    click(probe(w).optionChecks()[2]);
    for (int i = 0; i < optionBitCount; ++i) {
      okAfter.push_back(okEnabled(dialog));
      click(probe(w).optionChecks()[i]);
    }
    okAfter.push_back(okEnabled(dialog));
    press(buttonNamed(dialog, "OK"));
  }));
  std::vector<bool> expected(8, false);
  expected.push_back(true);
  EXPECT_EQ(okAfter, expected);
  const std::vector<Bytes> sent = sentPayloads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], (Bytes{0x0F, 0x35, 0x98, 0x01, 0x01, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01}));
}

TEST_F(CommandsTest, ReadOnTheOptionDialogAsksAgainAndItsAnswerEnablesOk) {
  std::vector<Bytes> afterRead;
  bool okBefore = true;
  bool okAfter = false;
  std::vector<std::string> labelsAfter;
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr, [&](FXDialogBox* dialog) {
    press(buttonNamed(dialog, "Read"));
    afterRead = sentPayloads();
    okBefore = okEnabled(dialog);
    answer(mixedOptionsAnswer);
    okAfter = okEnabled(dialog);
    FXLabel* note = nullptr;
    for (FXLabel* label : widgetsOf<FXLabel>(dialog))
      if (!label->isMemberOf(FXMETACLASS(FXButton))) note = label;
    if (note != nullptr) note->handle(note, FXSEL(SEL_UPDATE, 0), nullptr);
    labelsAfter = labelTexts(dialog);
    press(buttonNamed(dialog, "OK"));
  }));
  EXPECT_EQ(afterRead, (std::vector<Bytes>{readOptions, readOptions}));
  EXPECT_FALSE(okBefore);
  EXPECT_TRUE(okAfter);
  EXPECT_EQ(std::find(labelsAfter.begin(), labelsAfter.end(), optionsUnknownText), labelsAfter.end());
  const std::vector<Bytes> sent = sentPayloads();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2], (Bytes{0x0F, 0x35, 0x98, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(CommandsTest, OptionAnswerDuringTheDialogTicksByItsRulesAndIsStoredAsReceived) {
  std::vector<bool> ticksAfterAnswer;
  const bool acted = commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr,
                                       [&](FXDialogBox* dialog) {
                                         answer(mixedOptionsAnswer);
                                         ticksAfterAnswer = ticksOf(w);
                                         accept(dialog);
                                       });
  ASSERT_TRUE(acted);
  EXPECT_EQ(ticksAfterAnswer, (std::vector<bool>{true, false, true, false, false, false, false, false}));
  const std::vector<Bytes> sent = sentPayloads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], readOptions);
  EXPECT_EQ(sent[1], (Bytes{0x0F, 0x35, 0x98, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(CommandsTest, OptionAnswerBeforeTheDialogTicksEveryNonZeroByte) {
  answer(mixedOptionsAnswer);
  for (FXCheckButton* check : probe(w).optionChecks()) EXPECT_EQ(check, nullptr);
  const Bytes stored(linkRecords().options.bytes, linkRecords().options.bytes + 8);
  EXPECT_EQ(stored, Bytes(mixedOptionsAnswer.begin() + 3, mixedOptionsAnswer.end()));

  std::vector<bool> ticks;
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr,
                                [&](FXDialogBox* dialog) {
                                  ticks = ticksOf(w);
                                  accept(dialog);
                                }));
  EXPECT_EQ(ticks, (std::vector<bool>{true, false, true, true, false, false, false, true}));
  const std::vector<Bytes> sent = sentPayloads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], (Bytes{0x0F, 0x35, 0x98, 0x01, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01}));
}

TEST_F(CommandsTest, SpaceOnTheOptionDialogPressesOk) {
  answer(allOnesAnswer);
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr,
                                [](FXDialogBox* dialog) { pressKey(dialog, KEY_space, " "); }));
  const std::vector<Bytes> sent = sentPayloads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1][2], 0x98);
}

TEST_F(CommandsTest, SpaceOnTheDestinationDialogPressesOk) {
  answer(scanAnswer({{0x43, 0x04, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 200}}));
  w->clearLog();
  FXTablePos position;
  position.row = 0;
  position.col = 0;
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_DOUBLECLICKED, QuarnWindow::ID_NEARBY_TABLE), &position,
                                [](FXDialogBox* dialog) { pressKey(dialog, KEY_space, " "); }));
  EXPECT_EQ(logContent(), "Sending data [4304785634120107] to meter 1\n");
}

TEST_F(CommandsTest, OptionDialogSendsWhatTheUserTicked) {
  answer(allOnesAnswer);
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr,
                                [&](FXDialogBox* dialog) {
                                  // A mouse click on "option 5" clears it; "option 8" is cleared directly.
                                  click(probe(w).optionChecks()[4]);
                                  probe(w).optionChecks()[7]->setCheck(FALSE);
                                  accept(dialog);
                                }));
  const std::vector<Bytes> sent = sentPayloads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], (Bytes{0x0F, 0x35, 0x98, 0x01, 0x01, 0x01, 0x01, 0x00, 0x01, 0x01, 0x00}));
}

TEST_F(CommandsTest, OptionDialogCancelOrCloseSendsNothingButKeepsTheAnswer) {
  const std::function<void(FXDialogBox*)> endings[] = {
      [](FXDialogBox* dialog) { cancel(dialog); },
      [](FXDialogBox* dialog) { dialog->handle(dialog, FXSEL(SEL_CLOSE, 0), nullptr); },
  };
  for (const auto& ending : endings) {
    SetUp();
    ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr,
                                  [&](FXDialogBox* dialog) {
                                    answer(mixedOptionsAnswer);
                                    ending(dialog);
                                  }));
    EXPECT_EQ(sentPayloads(), std::vector<Bytes>{readOptions});
    for (FXCheckButton* check : probe(w).optionChecks()) EXPECT_EQ(check, nullptr);
    const Bytes stored(linkRecords().options.bytes, linkRecords().options.bytes + 8);
    EXPECT_EQ(stored, Bytes(mixedOptionsAnswer.begin() + 3, mixedOptionsAnswer.end()));
  }
}

TEST_F(CommandsTest, OptionIdsWithoutTheDialogReadButNeverWrite) {
  command(QuarnWindow::ID_GET_OPTIONS);
  command(QuarnWindow::ID_SET_OPTIONS);
  EXPECT_EQ(sentPayloads(), std::vector<Bytes>{readOptions});
  for (uint8_t b : linkRecords().options.bytes) EXPECT_EQ(b, 0xFF);
}

// ---------------------------------------------------------------- scan and nearby table


std::vector<std::string> tableRow(QuarnWindow* w, int row) {
  return {str(probe(w).nearbyTable()->getItemText(row, 0)), str(probe(w).nearbyTable()->getItemText(row, 1)),
          str(probe(w).nearbyTable()->getItemText(row, 2))};
}

TEST_F(CommandsTest, ScanSendsItsRequestAndTheAnswerFillsTheTableSorted) {
  command(QuarnWindow::ID_SCAN);
  EXPECT_EQ(sentPayloads(), std::vector<Bytes>{(Bytes{0x0F, 0x35, 0x96})});

  answer(scanAnswer({
      {0x43, 0x04, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 200},  // ABC 12345678
      {0x8F, 0x19, 0x01, 0x00, 0x00, 0x00, 0x01, 0x36, 100},  // the converter itself
      {0x42, 0x04, 0x02, 0x00, 0x00, 0x00, 0x10, 0x04, 10},   // ABB 00000002
      {0x43, 0x04, 0x01, 0x00, 0x00, 0x00, 0x02, 0x03, 90},   // ABC 00000001
  }));
  EXPECT_EQ(linkRecords().nearby.count, 3u);
  EXPECT_EQ(tableRow(w, 0),
            (std::vector<std::string>{"4204020000001004", "ABB ID: 00000002 type: 04 version: 10", "-69"}));
  EXPECT_EQ(tableRow(w, 1),
            (std::vector<std::string>{"4304010000000203", "ABC ID: 00000001 type: 03 version: 02", "-29"}));
  EXPECT_EQ(tableRow(w, 2),
            (std::vector<std::string>{"4304785634120107", "ABC ID: 12345678 type: 07 version: 01", "-102"}));
  EXPECT_EQ(tableRow(w, 3), (std::vector<std::string>{"", "", ""}));
  // Address and description read from the left, the dBm figure from the right.
  EXPECT_EQ(probe(w).nearbyTable()->getItemJustify(0, 0) & FXTableItem::LEFT, FXTableItem::LEFT);
  EXPECT_EQ(probe(w).nearbyTable()->getItemJustify(0, 1) & FXTableItem::LEFT, FXTableItem::LEFT);
  EXPECT_EQ(probe(w).nearbyTable()->getItemJustify(0, 2) & FXTableItem::RIGHT, FXTableItem::RIGHT);
}

// ---------------------------------------------------------------- destination meter

struct DestinationView {
  std::string title;
  int width = 0;
  int height = 0;
  std::vector<std::string> labels;
  std::vector<std::string> entries;
  int visible = 0;
  int current = -1;
  bool okHasFocus = false;
  bool haveCancel = false;
};

DestinationView lookAtDestinationDialog(FXDialogBox* dialog) {
  DestinationView view;
  view.title = str(dialog->getTitle());
  view.width = dialog->getWidth();
  view.height = dialog->getHeight();
  for (FXLabel* label : widgetsOf<FXLabel>(dialog)) {
    // Buttons, and the list box's own parts, are not labels of the dialog.
    if (label->isMemberOf(FXMETACLASS(FXButton)) || label->getParent()->isMemberOf(FXMETACLASS(FXListBox))) continue;
    view.labels.push_back(str(label->getText()));
  }
  const std::vector<FXListBox*> lists = widgetsOf<FXListBox>(dialog);
  if (lists.size() == 1) {
    for (int i = 0; i < lists[0]->getNumItems(); ++i) view.entries.push_back(str(lists[0]->getItemText(i)));
    view.visible = lists[0]->getNumVisible();
    view.current = lists[0]->getCurrentItem();
  }
  FXButton* ok = buttonNamed(dialog, "OK");
  view.okHasFocus = ok != nullptr && focusedWidget(dialog) == ok;
  view.haveCancel = buttonNamed(dialog, "Cancel") != nullptr;
  return view;
}

// Picks the entry of the dialog's list box, then accepts.
std::function<void(FXDialogBox*)> chooseEntry(int entry, DestinationView* seen = nullptr) {
  return [entry, seen](FXDialogBox* dialog) {
    if (seen != nullptr) *seen = lookAtDestinationDialog(dialog);
    widgetsOf<FXListBox>(dialog).at(0)->setCurrentItem(entry, TRUE);
    accept(dialog);
  };
}

class DestinationTest : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    answer(scanAnswer({{0x43, 0x04, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 200}}));
    w->clearLog();
  }

  // A double-click on a row as the table reports it to its target.
  bool doubleClick(int row, std::function<void(FXDialogBox*)> action) {
    FXTablePos position;
    position.row = row;
    position.col = 0;
    return commandWithDialog(FXSEL(SEL_DOUBLECLICKED, QuarnWindow::ID_NEARBY_TABLE), &position, std::move(action));
  }
};

TEST_F(DestinationTest, OkCopiesTheRowIntoTheChosenSlotAndLogsIt) {
  SlotFields kept;
  kept.active = true;
  kept.kek = "00112233445566778899AABBCCDDEEFF";
  kept.wiredAddress = "12";
  kept.wirelessProtocol = 1;
  w->writeSlot(1, kept);
  const std::string otherSlots = slotSnapshot(w, 0) + slotSnapshot(w, 2) + slotSnapshot(w, 3);
  DestinationView seen;
  ASSERT_TRUE(doubleClick(0, chooseEntry(1, &seen)));

  EXPECT_EQ(seen.title, "Choose destination meter");
  EXPECT_EQ(seen.width, 300);
  EXPECT_EQ(seen.height, 90);
  EXPECT_EQ(seen.labels, std::vector<std::string>{"Send to device config:"});
  EXPECT_EQ(seen.entries, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(seen.visible, 4);
  EXPECT_EQ(seen.current, 0);
  EXPECT_TRUE(seen.okHasFocus);
  EXPECT_TRUE(seen.haveCancel);

  EXPECT_EQ(logContent(), "Sending data [4304785634120107] to meter 2\n");
  SlotFields expected = kept;
  expected.manufacturer = "ABC";
  expected.deviceId = "12345678";
  expected.version = "01";
  expected.media = "07";
  w->writeSlot(3, expected);  // slot 4 as scratch: the same texts through the same widgets
  EXPECT_EQ(slotSnapshot(w, 1), slotSnapshot(w, 3));
  w->writeSlot(3, SlotFields{});
  EXPECT_EQ(slotSnapshot(w, 0) + slotSnapshot(w, 2) + slotSnapshot(w, 3), otherSlots);
  EXPECT_EQ(sentPayloads().size(), 0u);
}

TEST_F(DestinationTest, EmptyRowLogsNothingSelected) {
  const std::string before = windowSnapshot(w);
  ASSERT_TRUE(doubleClick(5, chooseEntry(3)));
  EXPECT_EQ(logContent(), ">>> Nothing selected\n");
  EXPECT_EQ(windowSnapshot(w), before);
}

TEST_F(DestinationTest, CancelOrCloseChangesNothing) {
  const std::string before = windowSnapshot(w);
  ASSERT_TRUE(doubleClick(0, [](FXDialogBox* dialog) {
    widgetsOf<FXListBox>(dialog).at(0)->setCurrentItem(2, TRUE);
    cancel(dialog);
  }));
  ASSERT_TRUE(doubleClick(0, [](FXDialogBox* dialog) { dialog->handle(dialog, FXSEL(SEL_CLOSE, 0), nullptr); }));
  EXPECT_EQ(logContent(), "");
  EXPECT_EQ(windowSnapshot(w), before);
}

TEST_F(DestinationTest, MouseDoubleClickOnTheTableReachesTheDialog) {
  FXTable* table = probe(w).nearbyTable();
  pump();
  FXEvent event;
  event.type = SEL_LEFTBUTTONPRESS;
  event.code = LEFTBUTTON;
  event.click_count = 2;
  // The middle of row 0, column 0, in the table's own coordinates.
  event.win_x = table->getRowHeader()->getWidth() + table->getColumnWidth(0) / 2;
  event.win_y = table->getColumnHeader()->getHeight() + table->getRowHeight(0) / 2;
  event.root_x = event.win_x;
  event.root_y = event.win_y;
  DialogDriver driver;
  driver.action = chooseEntry(2);
  driver.arm();
  table->handle(table, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
  event.type = SEL_LEFTBUTTONRELEASE;
  table->handle(table, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
  shell().app->removeTimeout(&driver, DialogDriver::ID_LOOK);
  ASSERT_TRUE(driver.acted);
  EXPECT_EQ(logContent(), "Sending data [4304785634120107] to meter 3\n");
  EXPECT_EQ(str(probe(w).deviceIdFields()[2]->getText()), "12345678");
}

// ---------------------------------------------------------------- key find

TEST_F(CommandsTest, KeyFindOfSlotThreeFillsOnlySlotThreesKeys) {
  MeterKeyList& keys = linkRecords().meterKeys;
  keys.count = 2;
  MeterKeyEntry other{};
  const uint8_t otherId[4] = {0x00, 0x00, 0x12, 0x35};
  std::memcpy(other.id, otherId, 4);
  std::memset(other.firstKey, 0xEE, 16);
  MeterKeyEntry match{};
  const uint8_t matchId[4] = {0x00, 0x00, 0x12, 0x34};
  std::memcpy(match.id, matchId, 4);
  for (int i = 0; i < 16; ++i) {
    match.firstKey[i] = static_cast<uint8_t>(0x30 + i);
    match.secondKey[i] = static_cast<uint8_t>(0xC0 + i);
  }
  keys.entries[0] = other;
  keys.entries[1] = match;
  for (int s = 0; s < slotCount; ++s) w->setDeviceIdText(s, "1234");
  const std::string otherSlots = slotSnapshot(w, 0) + slotSnapshot(w, 1) + slotSnapshot(w, 3);

  command(QuarnWindow::ID_KEY_FIND_3);

  EXPECT_EQ(str(probe(w).deviceIdFields()[2]->getText()), "00001234");
  EXPECT_EQ(str(probe(w).masterKeyFields()[2]->getText()), "303132333435363738393A3B3C3D3E3F");
  EXPECT_EQ(str(probe(w).kekFields()[2]->getText()), "C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF");
  EXPECT_EQ(slotSnapshot(w, 0) + slotSnapshot(w, 1) + slotSnapshot(w, 3), otherSlots);
  EXPECT_EQ(logContent(), "");

  w->setDeviceIdText(0, "99");
  const std::string before = windowSnapshot(w);
  command(QuarnWindow::ID_KEY_FIND_1);  // no entry: only the padding shows
  EXPECT_EQ(str(probe(w).deviceIdFields()[0]->getText()), "00000099");
  w->setDeviceIdText(0, "99");
  EXPECT_EQ(windowSnapshot(w), before);
  keys.count = 0;
}

TEST_F(CommandsTest, EachKeyFindButtonActsOnItsOwnSlot) {
  MeterKeyList& keys = linkRecords().meterKeys;
  keys.count = 1;
  keys.entries[0] = MeterKeyEntry{};
  keys.entries[0].id[3] = 0x07;
  std::memset(keys.entries[0].firstKey, 0x5A, 16);
  for (int target = 0; target < slotCount; ++target) {
    for (int s = 0; s < slotCount; ++s) w->writeSlot(s, SlotFields{});
    for (int s = 0; s < slotCount; ++s) w->setDeviceIdText(s, "7");
    command(QuarnWindow::ID_KEY_FIND_1 + target);
    for (int s = 0; s < slotCount; ++s) {
      EXPECT_EQ(str(probe(w).masterKeyFields()[s]->getText()), s == target ? "5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A" : "")
          << "button " << target + 1 << ", slot " << s + 1;
      EXPECT_EQ(str(probe(w).deviceIdFields()[s]->getText()), s == target ? "00000007" : "7");
    }
  }
  keys.count = 0;
}

// ---------------------------------------------------------------- the view itself

TEST_F(CommandsTest, WiredAddressTextsSelectTheirEntryOrStayAsTyped) {
  struct Case {
    const char* text;
    int entry;
  };
  const Case cases[] = {{"0", 0}, {"7", 7}, {"250", 250}, {"", -1}, {"251", -1}, {"07", -1}, {"abc", -1}};
  for (const Case& c : cases) {
    SlotFields fields;
    fields.wiredAddress = c.text;
    w->writeSlot(0, fields);
    EXPECT_EQ(str(probe(w).wiredAddressCombos()[0]->getText()), c.text);
    EXPECT_EQ(w->readSlot(0).wiredAddress, c.text);
    if (c.entry >= 0) {
      EXPECT_EQ(probe(w).wiredAddressCombos()[0]->getCurrentItem(), c.entry) << c.text;
    }
  }
}

TEST_F(CommandsTest, OptionChecksAreUntouchableWithoutTheDialog) {
  EXPECT_FALSE(w->optionDialogOpen());
  w->setOptionCheck(0, true);  // no dialog: nothing to tick, and no crash
  w->setOptionCheck(-1, true);
  w->setOptionCheck(8, true);
  EXPECT_EQ(w->nearbyAddressText(-1), "");
  EXPECT_EQ(w->nearbyAddressText(250), "");
  for (FXCheckButton* check : probe(w).optionChecks()) EXPECT_EQ(check, nullptr);
}

// ---------------------------------------------------------------- screenshots on request

// With QUARN_SCREENSHOT_DIR set, saves both dialogs as they open, for the documentation.
TEST_F(CommandsTest, ScreenshotsOfTheDialogsWhenAsked) {
  const char* dir = std::getenv("QUARN_SCREENSHOT_DIR");
  if (dir == nullptr) GTEST_SKIP() << "QUARN_SCREENSHOT_DIR not set";
  auto shoot = [dir](FXWindow* dialog, const char* name) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pump();
    const std::string command = "import -window " + std::to_string(static_cast<unsigned long>(dialog->id())) + " " +
                                std::string(dir) + "/" + name;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  };
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr, [&](FXDialogBox* dialog) {
    shoot(dialog, "screenshot-options-unknown.png");
    cancel(dialog);
  }));
  answer(mixedOptionsAnswer);
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS), nullptr, [&](FXDialogBox* dialog) {
    shoot(dialog, "screenshot-options.png");
    cancel(dialog);
  }));
  answer(scanAnswer({{0x43, 0x04, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07, 200}}));
  // The settings page with the table filled and a wide manufacturer code in slot 1.
  w->writeSlot(0, SlotFields{});
  probe(w).manufacturerFields()[0]->setText("@@@");
  probe(w).manufacturerFields()[1]->setText("DME");
  // Painted afresh: the dialogs just closed leave nothing behind.
  w->update();
  w->getApp()->repaint();
  w->getApp()->flush(TRUE);
  shoot(w, "screenshot-window.png");
  FXTablePos position;
  position.row = 0;
  position.col = 0;
  ASSERT_TRUE(commandWithDialog(FXSEL(SEL_DOUBLECLICKED, QuarnWindow::ID_NEARBY_TABLE), &position,
                                [&](FXDialogBox* dialog) {
                                  shoot(dialog, "screenshot-destination.png");
                                  cancel(dialog);
                                }));
}

}  // namespace
