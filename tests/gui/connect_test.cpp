// The connection choice and what follows it, on a real FOX application: the start-up dialog,
// the dongle-not-found fallback, the port dialog, the wired poll against quarn-sim, the menu
// commands of the wired connection, and the wireless run with the partner dialog.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <stdlib.h>
#include <cstdlib>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/quarn_window.h"
#include "gui_support.h"
#include "serial/com_port_list.h"
#include "sim_harness.h"

const char* const guiProgramName = "connect_test";

namespace {

void pumpFor(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    runQueuedEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Accepts the dialog with the named button after checking its title.
DialogStep acceptWith(const std::string& title, const std::string& button) {
  return [title, button](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), title);
    press(buttonNamed(dialog, button));
  };
}

// A message box: checks caption and text, then presses its OK.
DialogStep messageBox(const std::string& caption, const std::string& text) {
  return [caption, text](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), caption);
    const std::vector<std::string> labels = labelTexts(dialog);
    EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << caption << ": " << text;
    FXButton* ok = buttonNamed(dialog, "OK");
    if (ok == nullptr) ok = widgetsOf<FXButton>(dialog).front();
    press(ok);
  };
}

// Symlinks under a directory of the test that name one PTY by several port names.
struct PortNames {
  TempDir dir;
  std::string entries;  // for QUARN_VIRTUAL_PORTS
  void add(const std::string& name, const std::string& target) {
    const std::string path = dir.path() + "/" + name;
    EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0);
    entries += (entries.empty() ? "" : ";") + path;
  }
};

class ConnectTest : public ::testing::Test {
protected:
  void SetUp() override {
    w = shell().window;
    resetConnection(w);
    probe(w).statusLine()->setNormalText("Not connected.");
  }
  void TearDown() override {
    shell().app->removeTimeout(w, QuarnWindow::ID_TIMER_WIRED);
    shell().app->removeTimeout(w, QuarnWindow::ID_TIMER_DONGLE);
    closeWiredPort(w->link().wiredSession().port);
    closeSerialPort(linkRecords().dongleLink.port);
    unsetenv("QUARN_VIRTUAL_PORTS");
  }
  // Which link's descriptor the event loop watches: the run's own, once its port is open.
  bool watches(int input) const {
    return input == QuarnWindow::ID_INPUT_WIRED ? w->watchesWiredPort() : w->watchesStick();
  }
  std::string status() const { return str(probe(w).statusLine()->getNormalText()); }

  QuarnWindow* w = nullptr;
};

// ---------------------------------------------------------------- the connection dialog

TEST_F(ConnectTest, ConnectionDialogShowsItsTextsAndStartsOnWireless) {
  DialogScript script({
      [](FXDialogBox* dialog) {
        EXPECT_EQ(str(dialog->getTitle()), "Select wired or wireless operation.");
        EXPECT_EQ(dialog->getDecorations() & (DECOR_TITLE | DECOR_BORDER | DECOR_CLOSE),
                  static_cast<FXuint>(DECOR_TITLE | DECOR_BORDER));
        // 240 is the least; wider where the title needs room beside the title bar's buttons.
        EXPECT_GE(dialog->getWidth(), 240);
        EXPECT_GE(dialog->getWidth(), dialog->getApp()->getNormalFont()->getTextWidth(dialog->getTitle()) + 120);
        EXPECT_EQ(dialog->getHeight(), 140);
        std::vector<FXGroupBox*> groups = widgetsOf<FXGroupBox>(dialog);
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(str(groups[0]->getText()), "Connect using");
        std::vector<FXRadioButton*> radios = widgetsOf<FXRadioButton>(dialog);
        ASSERT_EQ(radios.size(), 2u);
        EXPECT_EQ(str(radios[0]->getText()), "Wireless connection");
        EXPECT_EQ(str(radios[1]->getText()), "Wired connection");
        EXPECT_TRUE(radios[0]->getCheck());
        EXPECT_FALSE(radios[1]->getCheck());
        EXPECT_EQ(radios[0]->getTarget(), radios[1]->getTarget());  // one integer behind both
        FXButton* ok = buttonNamed(dialog, "OK");
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(ok->getParent()->getFocus(), ok);  // the focus within the dialog
        EXPECT_EQ(dialog->getFocus(), ok->getParent());
        EXPECT_EQ(ok->getPadLeft(), 32);
        EXPECT_EQ(ok->getPadRight(), 32);
        EXPECT_EQ(ok->getSelector(), static_cast<FXSelector>(FXDialogBox::ID_ACCEPT));
        // A click on wired and back on wireless moves the one check mark each time.
        clickRadio(radios[1]);
        shell().app->forceRefresh();
        EXPECT_FALSE(radios[0]->getCheck());
        EXPECT_TRUE(radios[1]->getCheck());
        clickRadio(radios[0]);
        shell().app->forceRefresh();
        EXPECT_TRUE(radios[0]->getCheck());
        EXPECT_FALSE(radios[1]->getCheck());
        press(ok);
      },
      [this](FXDialogBox* dialog) {
        // No dongle anywhere: the fallback box, with the window's icon.
        EXPECT_EQ(str(dialog->getTitle()), "USB wireless MBUS dongle not found!");
        const std::vector<std::string> expected = {
            "", "A USB wireless MBUS dongle was not found!",
            "\nA USB wireless MBUS dongle is needed to operate.\n\nWill revert to wired operation.\n"};
        EXPECT_EQ(labelTexts(dialog), expected);
        EXPECT_EQ(widgetsOf<FXLabel>(dialog).front()->getIcon(), probe(w).bigIcon());
        EXPECT_EQ(dialog->getDecorations() & (DECOR_TITLE | DECOR_BORDER | DECOR_CLOSE),
                  static_cast<FXuint>(DECOR_TITLE | DECOR_BORDER));
        FXButton* ok = buttonNamed(dialog, "OK");
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isDefault());
        press(ok);
      },
      choosePort(""),
  });
  setenv("QUARN_VIRTUAL_PORTS", "", 1);
  script.tolerated = {"Quarn"};  // the port dialog connects to whatever port the system has first
  runWithDialogs(script, [&] { w->connectionChoice(); });
  // Wireless asked for, no dongle: the run goes on wired, listening to the wired port only.
  EXPECT_EQ(linkRecords().state.linkMode, LinkMode::wired);
  EXPECT_FALSE(linkRecords().state.securedMessages);
  EXPECT_EQ(watches(QuarnWindow::ID_INPUT_WIRED), w->link().wiredSession().port.portOpen);
  EXPECT_FALSE(watches(QuarnWindow::ID_INPUT_DONGLE));
  EXPECT_EQ(linkRecords().dongleLink.port.fd, -1);
}

struct CloseCase {
  bool clickWired;
  bool byOk;
  LinkMode mode;
  const char* second;  // title of the dialog that follows
};

TEST_F(ConnectTest, TheChoiceIsTakenHoweverTheDialogCloses) {
  const CloseCase cases[] = {
      {false, false, LinkMode::wired, "USB wireless MBUS dongle not found!"},  // closed: wireless, falls back
      {true, false, LinkMode::wired, "Select wired parameters."},            // closed after clicking wired
      {true, true, LinkMode::wired, "Select wired parameters."},
  };
  setenv("QUARN_VIRTUAL_PORTS", "", 1);
  for (const CloseCase& c : cases) {
    SetUp();
    setenv("QUARN_VIRTUAL_PORTS", "", 1);
    std::vector<DialogStep> steps = {chooseConnection(c.clickWired, c.byOk)};
    if (!c.clickWired) steps.push_back(acceptWith("USB wireless MBUS dongle not found!", "OK"));
    steps.push_back(choosePort(""));
    DialogScript script(steps);
    script.tolerated = {"Quarn"};
    runWithDialogs(script, [&] { w->connectionChoice(); });
    ASSERT_GE(script.titles.size(), 2u);
    EXPECT_EQ(script.titles[1], c.second);
    EXPECT_EQ(linkRecords().state.linkMode, c.mode);
    EXPECT_EQ(watches(QuarnWindow::ID_INPUT_WIRED), w->link().wiredSession().port.portOpen);
    EXPECT_FALSE(watches(QuarnWindow::ID_INPUT_DONGLE));
  }
}

// ---------------------------------------------------------------- wired run against quarn-sim

class WiredRunTest : public ConnectTest {
protected:
  void SetUp() override {
    ConnectTest::SetUp();
    sim = std::make_unique<SimProcess>("wired", simArgs);
    ASSERT_TRUE(sim->running()) << sim->failure();
    names.add("ttyQB", sim->linkPath());
    names.add("ttyQA", names.dir.path() + "/absent");  // listed, but nothing behind it
    setenv("QUARN_VIRTUAL_PORTS", (names.entries + ";" + sim->portEntry()).c_str(), 1);
  }
  void TearDown() override {
    ConnectTest::TearDown();
    if (sim) sim->stop();
  }
  // Starts a wired run on the named port through the two start-up dialogs.
  void startWired(const std::string& port, std::vector<std::string>* listed = nullptr) {
    DialogScript script({chooseConnection(true, true), choosePort(port, listed)});
    runWithDialogs(script, [&] { w->connectionChoice(); });
  }
  size_t requestsSeen() const { return sim->transcriptMatching({"REQ_UD2", "105BFB5616"}).size(); }
  bool answered(size_t answers) const { return countOf(logContent(), "<<< Answer\n") >= answers; }

  std::unique_ptr<SimProcess> sim;
  std::vector<std::string> simArgs;
  PortNames names;
};

TEST_F(WiredRunTest, PortDialogListsThePortsSortedAndTheAnswerFillsTheConverterId) {
  std::vector<std::string> listed;
  startWired("ttySIM0", &listed);
  // Virtual ports among whatever the system has, in byte order.
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
  const auto at = [&](const char* name) { return std::find(listed.begin(), listed.end(), name) - listed.begin(); };
  ASSERT_LT(at("ttyQA"), static_cast<long>(listed.size()));
  EXPECT_LT(at("ttyQA"), at("ttyQB"));
  EXPECT_LT(at("ttyQB"), at("ttySIM0"));

  EXPECT_EQ(linkRecords().state.linkMode, LinkMode::wired);
  EXPECT_TRUE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(w->link().wiredSession().port.portName, "ttySIM0");
  EXPECT_EQ(status(), "Connected to serial [ttySIM0]");
  EXPECT_EQ(logContent().rfind(">>> REQ_UD2\n0x10 0x5B 0xFB 0x56 0x16 \n", 0), 0u) << logContent();
  // The wired port, watched by the event loop, brings in the answer.
  ASSERT_TRUE(pumpUntil([&] { return answered(1) && str(probe(w).converterIdField()->getText()).rfind("SN:", 0) == 0; }))
      << logContent();
  EXPECT_EQ(requestsSeen(), 1u);
  EXPECT_EQ(str(probe(w).converterIdField()->getText()).substr(0, 17), "SN: 12345678 ID: ");
  EXPECT_EQ(str(probe(w).converterIdField()->getText()).substr(33), " FW: 01.02");
  EXPECT_NE(logContent().find("Message counter found: "), std::string::npos);
  EXPECT_TRUE(watches(QuarnWindow::ID_INPUT_WIRED));
  EXPECT_FALSE(watches(QuarnWindow::ID_INPUT_DONGLE));
  EXPECT_EQ(linkRecords().dongleLink.port.fd, -1);  // a wired run never opens the stick
  EXPECT_EQ(str(w->aboutConnectionText()), "Wired connection COM port [ttySIM0]\r\n");
}

TEST_F(WiredRunTest, AFailedReconnectShowsTheErrorAndSaysSoWithoutClaimingItReconnected) {
  startWired("ttyQB");
  ASSERT_TRUE(w->link().wiredSession().port.portOpen);
  ASSERT_EQ(unlink((names.dir.path() + "/ttyQB").c_str()), 0);  // the port goes away
  DialogScript reconnect({messageBox("Quarn", "Serial Error\nCOM port ttyQB not found")});
  runWithDialogs(reconnect, [&] { command(QuarnWindow::ID_RECONNECT); });
  EXPECT_EQ(reconnect.titles, std::vector<std::string>{"Quarn"});
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(w->link().wiredSession().port.port.fd, -1);
  EXPECT_EQ(status(), "Not connected: COM port ttyQB not found");
  EXPECT_EQ(countOf(logContent(), ">>> REQ_UD2\n"), 1u);
  EXPECT_EQ(countOf(logContent(), "Not connected: COM port ttyQB not found\n"), 1u);
}

// A converter that never answers: every command's end reaches the status line, not only the log.
class SilentWiredTest : public WiredRunTest {
protected:
  void SetUp() override {
    simArgs = {"--silent"};
    WiredRunTest::SetUp();
  }
};

TEST_F(SilentWiredTest, EveryCommandsOutcomeReachesTheStatusLine) {
  const std::string causes = ": wrong address, or converter out of reach.";
  startWired("ttySIM0");
  ASSERT_TRUE(pumpUntil([&] { return status() == "No answer to REQ_UD2 on ttySIM0" + causes; })) << status();
  probe(w).wiredAddressCombos()[2]->setText("5");
  struct Sent {
    int id;
    const char* name;
  };
  const Sent sent[] = {{QuarnWindow::ID_GET_DATA_1, "Get Data of slot 1"},
                       {QuarnWindow::ID_SET_DATA_3, "Set Data of slot 3"},
                       {QuarnWindow::ID_SCAN, "Scan"},
                       {QuarnWindow::ID_GET_OPTIONS, "Read option bits"}};
  for (const Sent& c : sent) {
    SCOPED_TRACE(c.name);
    probe(w).statusLine()->setNormalText("Settings not saved: an earlier failure");
    command(c.id);
    EXPECT_EQ(status(), "Settings not saved: an earlier failure");  // nothing has ended yet
    w->link().boundAnswer(300);  // the bound shortened: the test waits for its end, not its length
    w->followLinks();
    EXPECT_TRUE(pumpUntil([&] { return status() == "No answer to " + std::string(c.name) + causes; })) << status();
  }
  // Refused before it left: the slot's wired address is no entry.
  probe(w).wiredAddressCombos()[3]->setText("251");
  command(QuarnWindow::ID_SET_DATA_4);
  EXPECT_EQ(status(), "Set Data of slot 4 not sent: the wired address must be 0 to 250.");

  // Key find, which sends nothing, says when the meter has no keys.
  linkRecords().meterKeys.count = 0;
  probe(w).deviceIdFields()[1]->setText("12345678");
  probe(w).statusLine()->setNormalText("Settings not saved: an earlier failure");
  command(QuarnWindow::ID_KEY_FIND_2);
  EXPECT_EQ(status(), "No key for meter 12345678 in meterKeys/");

  // The converter goes while a command waits: it is lost.
  command(QuarnWindow::ID_GET_DATA_1);
  sim->stop();
  ASSERT_TRUE(pumpUntil([&] { return status() == "Get Data of slot 1 lost: Connection lost: ttySIM0."; })) << status();
  // Until the port is connected again, each command says the connection is lost.
  command(QuarnWindow::ID_GET_DATA_2);
  EXPECT_EQ(status(), "Get Data of slot 2 lost: Connection lost: ttySIM0.");
}

// A stick plugged in after a wired run started is said, with how to use it; another port is not.
TEST_F(WiredRunTest, AStickPluggedInDuringAWiredRunIsNamedWithHowToUseIt) {
  startWired("ttySIM0");
  ASSERT_TRUE(pumpUntil([&] { return answered(1); }));
  const std::string connected = status();
  const auto added = [](const char* name, const char* instanceId) {
    DeviceEvent event{};
    event.kind = deviceAdded;
    std::snprintf(event.port.name, sizeof event.port.name, "%s", name);
    std::snprintf(event.port.devicePath, sizeof event.port.devicePath, "/dev/%s", name);
    std::snprintf(event.port.instanceId, sizeof event.port.instanceId, "%s", instanceId);
    return event;
  };
  const DeviceEvent adapter = added("ttyUSB3", "USB\\VID_0403&PID_6001\\A10K1234");
  w->deviceEvents(&adapter, 1);
  EXPECT_EQ(status(), connected);
  const DeviceEvent stick = added("ttyACM1", "USB\\VID_10C4&PID_0003\\ZJ000777");
  w->deviceEvents(&stick, 1);
  const std::string said =
      "Stick ZJ000777 was plugged in on ttyACM1. This run works by wire: restart Quarn and choose \"Wireless "
      "connection\" to use the stick.";
  EXPECT_EQ(status(), said);
  EXPECT_EQ(countOf(logContent(), said + "\n"), 1u);
  EXPECT_TRUE(w->link().wiredSession().port.portOpen);  // the wired link goes on
}

TEST_F(WiredRunTest, DisconnectReconnectAndFindConverter) {
  startWired("ttyQB");
  ASSERT_TRUE(w->link().wiredSession().port.portOpen);
  ASSERT_TRUE(pumpUntil([&] { return answered(1); }));

  DialogScript disconnect({messageBox("Information", "Wired connection to COM port [ttyQB] disconnected.")});
  runWithDialogs(disconnect, [&] { command(QuarnWindow::ID_DISCONNECT); });
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(w->link().wiredSession().port.port.fd, -1);
  EXPECT_EQ(status(), "Not connected.");

  DialogScript reconnect({messageBox("Information", "Wired connection to COM port [ttyQB] reconnected.")});
  runWithDialogs(reconnect, [&] { command(QuarnWindow::ID_RECONNECT); });
  EXPECT_TRUE(w->link().wiredSession().port.portOpen);
  ASSERT_TRUE(pumpUntil([&] { return requestsSeen() == 2 && answered(2); })) << logContent();
  // Connected, then the converter's answer to REQ_UD2 (while the box was up, or after).
  ASSERT_TRUE(pumpUntil([&] { return status() == "REQ_UD2 on ttyQB answered."; })) << status();

  // Find converter in a wired run opens the port again and asks once more.
  DialogScript none;
  runWithDialogs(none, [&] { command(QuarnWindow::ID_FIND_CONVERTER); });
  EXPECT_TRUE(w->link().wiredSession().port.portOpen);
  ASSERT_TRUE(pumpUntil([&] { return requestsSeen() == 3 && answered(3); })) << logContent();
  EXPECT_EQ(countOf(logContent(), ">>> REQ_UD2\n"), 3u);
}

TEST_F(WiredRunTest, SelectNewPortPreselectsTheLastChoice) {
  startWired("ttyQB");
  ASSERT_TRUE(w->link().wiredSession().port.portOpen);
  std::string preselected;
  DialogScript select({choosePort("ttySIM0", nullptr, &preselected)});
  runWithDialogs(select, [&] { command(QuarnWindow::ID_SELECT_PORT); });
  EXPECT_EQ(preselected, "ttyQB");
  EXPECT_EQ(w->link().wiredSession().port.portName, "ttySIM0");
  EXPECT_TRUE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(shell().app->getModalWindow(), nullptr);  // the list box went with its dialog
  ASSERT_TRUE(pumpUntil([&] { return requestsSeen() == 2; }));
}

TEST_F(WiredRunTest, APortThatCannotBeOpenedShowsTheErrorAndStaysClosed) {
  DialogScript script({chooseConnection(true, true), choosePort("ttyQA"),
                       messageBox("Quarn", "Serial Error\nCOM port ttyQA not found")});
  runWithDialogs(script, [&] { w->connectionChoice(); });
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(status(), "Not connected: COM port ttyQA not found");
  EXPECT_EQ(logContent(), "Not connected: COM port ttyQA not found\n");
  // Nothing watches the closed port, and no answer is waited for.
  EXPECT_FALSE(watches(QuarnWindow::ID_INPUT_WIRED));
  EXPECT_FALSE(shell().app->hasTimeout(w, QuarnWindow::ID_TIMER_WIRED));
}

TEST_F(WiredRunTest, AnEmptyPortListConnectsNothing) {
  setenv("QUARN_VIRTUAL_PORTS", "", 1);
  ComPortList ports{};
  if (listComPorts(ports) != 0) {
    // Run under umockdev-run (see connect.cmake), udev has no ports and this must not happen.
    ASSERT_EQ(std::getenv("QUARN_EXPECT_NO_PORTS"), nullptr) << "udev still lists " << comPortName(ports, 0);
    GTEST_SKIP() << "this machine has serial ports of its own";
  }
  std::vector<std::string> listed = {"not called"};
  DialogScript script({chooseConnection(true, true), choosePort("", &listed)});
  runWithDialogs(script, [&] { w->connectionChoice(); });
  EXPECT_TRUE(listed.empty());
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(w->link().wiredSession().port.portName, "");
  EXPECT_EQ(logContent(), "");
}

// ---------------------------------------------------------------- wireless run

TEST_F(ConnectTest, WiredMenuCommandsInAWirelessRunOnlySaySo) {
  linkRecords().state.linkMode = LinkMode::wireless;
  for (int id : {QuarnWindow::ID_DISCONNECT, QuarnWindow::ID_RECONNECT, QuarnWindow::ID_SELECT_PORT}) {
    DialogScript script({messageBox("Not a wired connection", "Please restart the tool for wired operation.")});
    runWithDialogs(script, [&] { command(id); });
    EXPECT_EQ(script.titles.size(), 1u) << id;
  }
  EXPECT_FALSE(w->link().wiredSession().port.portOpen);
  EXPECT_EQ(logContent(), "");
  EXPECT_EQ(status(), "Not connected.");
}

// Fifty converters heard, then a fifty-first while the dialog is open: the list rolls, and
// the choice is still the converter that was shown.
TEST_F(ConnectTest, ThePartnerIsTheConverterShownEvenWhenTheListRollsMeanwhile) {
  LinkRecords& s = linkRecords();
  s.state.linkMode = LinkMode::wireless;
  for (int i = 0; i < heardConverterCapacity; ++i) {
    const uint8_t address[8] = {0x8F, 0x19, static_cast<uint8_t>(i), 0x00, 0x00, 0x10, 0x01, 0x36};
    recordHeardConverter(s.heard, address, 100 + i, 0x0102);
  }
  std::vector<std::string> items;
  DialogScript script({[&](FXDialogBox* dialog) {
    items = itemsOf(listBoxOf(dialog));
    const uint8_t newcomer[8] = {0x8F, 0x19, 0x99, 0x99, 0x99, 0x99, 0x01, 0x36};
    recordHeardConverter(s.heard, newcomer, 7, 0x0304);  // heard by the poll meanwhile
    listBoxOf(dialog)->setCurrentItem(0);
    press(buttonNamed(dialog, "Select"));
  }});
  runWithDialogs(script, [&] { command(QuarnWindow::ID_FIND_CONVERTER); });
  ASSERT_EQ(items.size(), 50u);
  EXPECT_EQ(items.front(), "10000000");
  EXPECT_EQ(items.back(), "10000031");
  EXPECT_EQ(s.heard.entries[0].address[2], 1);  // the live list has rolled
  EXPECT_EQ(str(probe(w).converterIdField()->getText()), "SN: 10000000 ID: 8F19000000100136 FW: 01.02");
  EXPECT_EQ(s.state.messageCounter, 100u);
  EXPECT_EQ(s.state.converterAddress[0], 0x00);
  EXPECT_EQ(s.state.converterAddress[3], 0x10);
}

class WirelessRunTest : public ConnectTest {
protected:
  void SetUp() override {
    ConnectTest::SetUp();
    sim = std::make_unique<SimProcess>("dongle", std::vector<std::string>{"--beacon-ms", beaconMs});
    ASSERT_TRUE(sim->running()) << sim->failure();
    setenv("QUARN_VIRTUAL_PORTS", sim->portEntry().c_str(), 1);
  }
  void TearDown() override {
    ConnectTest::TearDown();
    if (sim) sim->stop();
  }
  void startWireless() {
    DialogScript script({chooseConnection(false, true)});
    runWithDialogs(script, [&] { w->connectionChoice(); });
  }
  size_t framesSeen(const std::vector<std::string>& texts) const { return sim->transcriptMatching(texts).size(); }
  // What a stick run that heard nothing leaves to look at: the log, and the stick's transcript.
  std::string heardNothing() const {
    std::string text = "log:\n" + logContent() + "\ntranscript:\n";
    for (const std::string& line : sim->transcript()) text += line + "\n";
    return text + "watching the stick: " + (w->watchesStick() ? "yes" : "no");
  }

  std::unique_ptr<SimProcess> sim;
  const char* beaconMs = "100";
};

// The stick hears nothing: the converter sends no beacons.
class QuietAirTest : public WirelessRunTest {
protected:
  void SetUp() override {
    beaconMs = "0";
    WirelessRunTest::SetUp();
  }
};

TEST_F(QuietAirTest, FindConverterWithNothingHeardStillAsksTheStickAndSelectChangesNothing) {
  startWireless();
  std::vector<std::string> items = {"not called"};
  DialogScript script({[&](FXDialogBox* dialog) {
    items = itemsOf(listBoxOf(dialog));
    press(buttonNamed(dialog, "Select"));
  }});
  runWithDialogs(script, [&] { command(QuarnWindow::ID_FIND_CONVERTER); });
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(str(probe(w).converterIdField()->getText()), "None selected.");
  ASSERT_TRUE(pumpUntil([&] { return framesSeen({"dongle 0xAB", "AB0000"}) == 2; }));
  pumpFor(500);
  EXPECT_EQ(framesSeen({"dongle 0x01"}), 0u);
}

// Two sticks plugged in: the window asks which, and the one chosen is the one used; cancelled,
// the run works by wire.
TEST_F(WirelessRunTest, WithTwoSticksTheUserChoosesOne) {
  SimProcess other("dongle", {"--beacon-ms", "100", "--serial", "000043"});
  ASSERT_TRUE(other.running()) << other.failure();
  setenv("QUARN_VIRTUAL_PORTS", (sim->portEntry() + ";" + other.portEntry()).c_str(), 1);
  std::vector<std::string> listed;
  DialogScript script({chooseConnection(false, true), [&](FXDialogBox* dialog) {
                         EXPECT_EQ(str(dialog->getTitle()), "Select the stick.");
                         std::vector<FXList*> lists = widgetsOf<FXList>(dialog);
                         ASSERT_EQ(lists.size(), 1u);
                         for (int i = 0; i < lists[0]->getNumItems(); ++i) listed.push_back(str(lists[0]->getItemText(i)));
                         const auto it = std::find_if(listed.begin(), listed.end(),
                                                      [](const std::string& t) { return t.rfind("ZJ000043 on ", 0) == 0; });
                         ASSERT_NE(it, listed.end());
                         lists[0]->setCurrentItem(static_cast<FXint>(it - listed.begin()));
                         press(buttonNamed(dialog, "OK"));
                       }});
  runWithDialogs(script, [&] { w->connectionChoice(); });
  EXPECT_EQ(listed.size(), 2u);
  EXPECT_EQ(linkRecords().state.linkMode, LinkMode::wireless);
  EXPECT_EQ(status(), "Connected via wireless dongle ID: [ZJ000043]");
  ASSERT_TRUE(pumpUntil([&] { return other.transcriptMatching({"dongle 0xAB", "AB0000"}).size() == 1; }));
  EXPECT_EQ(framesSeen({"dongle 0xAB"}), 0u);  // the other stick is left alone
  other.stop();
}

TEST_F(WirelessRunTest, CancellingTheStickChoiceWorksByWire) {
  SimProcess other("dongle", {"--beacon-ms", "100", "--serial", "000043"});
  ASSERT_TRUE(other.running()) << other.failure();
  TempDir dir;
  const std::string absent = dir.path() + "/ttyQZ";  // listed, nothing behind it: no port opens
  setenv("QUARN_VIRTUAL_PORTS", (sim->portEntry() + ";" + other.portEntry() + ";" + absent).c_str(), 1);
  std::string said;
  const DialogStep pickAbsent = choosePort("ttyQZ");
  DialogScript script({chooseConnection(false, true), acceptWith("Select the stick.", "Cancel"),
                       [&](FXDialogBox* dialog) {
                         said = status();
                         pickAbsent(dialog);
                       }});
  script.tolerated = {"Quarn"};
  runWithDialogs(script, [&] { w->connectionChoice(); });
  EXPECT_EQ(linkRecords().state.linkMode, LinkMode::wired);
  EXPECT_EQ(said, "No stick chosen: wired operation.");
  pumpFor(300);
  EXPECT_TRUE(sim->transcript().empty());  // neither stick was spoken to
  EXPECT_TRUE(other.transcript().empty());
  other.stop();
}

TEST_F(WirelessRunTest, TheDongleIsFoundAndAskedFirstWithAB) {
  startWireless();
  EXPECT_EQ(linkRecords().state.linkMode, LinkMode::wireless);
  EXPECT_TRUE(linkRecords().state.securedMessages);
  EXPECT_EQ(status(), "Connected via wireless dongle ID: [ZJ000042]");
  EXPECT_TRUE(watches(QuarnWindow::ID_INPUT_DONGLE));
  EXPECT_FALSE(watches(QuarnWindow::ID_INPUT_WIRED));
  ASSERT_TRUE(pumpUntil([&] { return framesSeen({"dongle 0xAB", "accepted"}) == 1; }));
  const std::vector<std::string> lines = sim->transcript();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find("dongle 0xAB"), std::string::npos) << lines.front();
  EXPECT_NE(lines.front().find("AB0000"), std::string::npos) << lines.front();
  EXPECT_EQ(str(w->aboutConnectionText()),
            "Wireless connection\r\nID: [ZJ000042]\r\nDescription: [" +
                dongleDescription(linkRecords().dongleRecord) + "]\r\n");
  EXPECT_FALSE(dongleDescription(linkRecords().dongleRecord).empty());
  // The dongle timer, re-armed every 5 ms, hears the converter.
  ASSERT_TRUE(pumpUntil([&] { return linkRecords().heard.count == 1; })) << logContent();
  EXPECT_NE(logContent().find("<<< ACK received.\n"), std::string::npos);
}

TEST_F(WirelessRunTest, AStickHeldByAnotherProgramIsInUseNotMissing) {
  const int holder = open(sim->linkPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::string port = sim->linkPath().substr(sim->linkPath().rfind('/') + 1);
  // The wired fallback is refused as well (the same port, still held): both are said.
  const std::string inUse = "Error opening COM port " + port + " The port is in use by another program.";
  DialogScript script({chooseConnection(false, true),
                       messageBox("Quarn", "Serial Error\nError opening COM port " + port +
                                               "\nThe port is in use by another program."),
                       choosePort(port),
                       messageBox("Quarn", "Serial Error\nError opening COM port " + port +
                                               "\nThe port is in use by another program.")});
  runWithDialogs(script, [&] { w->connectionChoice(); });
  close(holder);
  ASSERT_GE(script.titles.size(), 2u);
  EXPECT_EQ(script.titles[1], "Quarn");
  EXPECT_EQ(linkRecords().state.linkMode, LinkMode::wired);
  EXPECT_EQ(status(), "Not connected: " + inUse);
  EXPECT_EQ(logContent(), inUse + "\nNot connected: " + inUse + "\n");
}

TEST_F(WirelessRunTest, FindConverterListsTheHeardConverterAndSelectMakesItThePartner) {
  startWireless();
  ASSERT_TRUE(pumpUntil([&] { return linkRecords().heard.count == 1; })) << heardNothing();
  std::vector<std::string> items;
  DialogScript script({[&](FXDialogBox* dialog) {
    EXPECT_EQ(str(dialog->getTitle()), "Select wireless partner.");
    EXPECT_EQ(dialog->getWidth(), 260);
    EXPECT_EQ(dialog->getHeight(), 90);
    EXPECT_EQ(labelTexts(dialog), std::vector<std::string>{"ID "});
    ASSERT_NE(listBoxOf(dialog), nullptr);
    EXPECT_EQ(listBoxOf(dialog)->getNumVisible(), 5);
    items = itemsOf(listBoxOf(dialog));
    ASSERT_NE(buttonNamed(dialog, "Cancel"), nullptr);
    press(buttonNamed(dialog, "Select"));
  }});
  runWithDialogs(script, [&] { command(QuarnWindow::ID_FIND_CONVERTER); });
  EXPECT_EQ(items, std::vector<std::string>{"12345678"});
  EXPECT_EQ(shell().app->getModalWindow(), nullptr);
  EXPECT_EQ(str(probe(w).converterIdField()->getText()), "SN: 12345678 ID: 8F19785634120136 FW: 01.02");
  const uint8_t expected[8] = {0x78, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36};
  EXPECT_EQ(std::memcmp(linkRecords().state.converterAddress, expected, sizeof expected), 0);
  // AB 00 00 went out twice (start and Find converter), then the partner frame.
  ASSERT_TRUE(pumpUntil([&] { return framesSeen({"dongle 0x01", "0108008F19785634120136", "accepted"}) == 1; }));
  EXPECT_EQ(framesSeen({"dongle 0xAB", "AB0000"}), 2u);
}

TEST_F(WirelessRunTest, CancellingThePartnerDialogChangesNothing) {
  startWireless();
  ASSERT_TRUE(pumpUntil([&] { return linkRecords().heard.count == 1; })) << heardNothing();
  const uint32_t counter = linkRecords().state.messageCounter;
  DialogScript script({acceptWith("Select wireless partner.", "Cancel")});
  runWithDialogs(script, [&] { command(QuarnWindow::ID_FIND_CONVERTER); });
  EXPECT_EQ(str(probe(w).converterIdField()->getText()), "None selected.");
  EXPECT_EQ(linkRecords().state.converterAddress[0], 0);
  EXPECT_GE(linkRecords().state.messageCounter, counter);
  ASSERT_TRUE(pumpUntil([&] { return framesSeen({"dongle 0xAB", "AB0000"}) == 2; }));
  pumpFor(1000);  // a while longer: no partner frame may follow
  EXPECT_EQ(framesSeen({"dongle 0x01"}), 0u);
}

}  // namespace
