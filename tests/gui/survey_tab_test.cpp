// The Survey tab in a wireless run against quarn-sim playing meters of modes 0, 5 and 7: the
// table refreshes from the stick's frames and the converter's scans, says every verdict as the
// key list makes it, and "Use in slot 2" fills slot 2 with the heard address and working key.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/quarn_window.h"
#include "app/survey_tab.h"
#include "gui_support.h"
#include "sim_harness.h"

const char* const guiProgramName = "survey_tab_test";

namespace {

const std::string keyA = "000102030405060708090A0B0C0D0E0F";
const std::string simConverterKey = keyA;  // quarn-sim's default
const std::string keyB = "F0E1D2C3B4A5968778695A4B3C2D1E0F";
const std::string keyC = "11111111222222223333333344444444";
const std::string keyD = "DEADBEEF00112233445566778899AABB";
const std::string keyE = "55555555555555555555555555555555";
const std::string keyF = "0123456789ABCDEF0123456789ABCDEF";

std::string reversedHex(const std::string& hex) {
  std::string out;
  for (size_t i = hex.size(); i >= 2; i -= 2) out += hex.substr(i - 2, 2);
  return out;
}

// id man version type mode key interval rssi wander
const std::string metersFile = "12345678 KAM 1B 07 5 " + keyA + " 200 -70 8\n" +
                               "00000002 KAM 1B 07 7 " + keyB + " 250 -88 4\n" +
                               "00000003 ABB 01 02 0 - 300 -60 0\n" +
                               "00000004 KAM 1B 07 5 " + keyD + " 200 -75 2\n" +
                               "00000005 KAM 1B 07 7 " + keyE + " 200 -80 2\n" +
                               "00000006 KAM 1B 07 5 " + keyF + " 200 -65 2\n";
const std::string keysFile = "m1;12345678;" + keyA + "\n" + "m2;00000002;" + keyC + ";" + keyB + "\n" +
                             "m4;00000004;" + reversedHex(keyD) + "\n" + "m5;00000005;" + keyC + "\n" +
                             "holder;00000099;" + keyF + "\n";

// Each meter's verdict and key entry as the CLI's survey says them for the same air.
const std::map<std::string, std::vector<std::string>> expectedRows = {
    {"12345678", {"mode 5", "right", "12345678"}},     {"00000002", {"mode 7", "right", "00000002"}},
    {"00000003", {"none", "plain", ""}},              {"00000004", {"mode 5", "reversed", "00000004"}},
    {"00000005", {"mode 7", "wrong", "00000005"}},     {"00000006", {"mode 5", "other-entry", "00000099"}},
};
constexpr int securityColumn = 7;
constexpr int verdictColumn = 8;
constexpr int entryColumn = 9;
constexpr int kcvColumn = 10;
constexpr int slotColumn = 11;

template <typename Condition>
bool pumpUntil(Condition condition, int ms = 8000) {
  for (int i = 0; i < ms / 10; ++i) {
    runQueuedEvents();
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

class SurveyTabTest : public ::testing::Test {
protected:
  void SetUp() override {
    w = shell().window;
    resetConnection(w);
    meters = dir.write("meters.txt", metersFile);
    sim = std::make_unique<SimProcess>("dongle", std::vector<std::string>{"--beacon-ms", "100", "--meters", meters});
    ASSERT_TRUE(sim->running()) << sim->failure();
    setenv("QUARN_VIRTUAL_PORTS", sim->portEntry().c_str(), 1);
    keyDir.write("site.txt", keysFile);
    // Each test starts from an empty survey: what it shows came in by this run's wake-ups.
    linkRecords().meters.count = 0;
    linkRecords().meters.framesNotListed = 0;
    linkRecords().nearby.count = 0;
    linkRecords().nearby.answers = 0;
    linkRecords().meterKeys.count = 0;
    loadKeyList(keyDir.path().c_str(), linkRecords().meterKeys);
    tabs = widgetsOf<FXTabBook>(w).front();
    table = probe(w).surveyTab()->table();
    probe(w).surveyTab()->refresh();
    ASSERT_EQ(table->getNumRows(), 0);
  }
  void TearDown() override {
    tabs->setCurrent(0, TRUE);
    resetConnection(w);
    if (sim) sim->stop();
  }
  std::string cell(int r, int c) const { return str(table->getItemText(r, c)); }
  int rowOf(const std::string& id) const {
    for (int r = 0; r < table->getNumRows(); ++r)
      if (cell(r, 0) == id) return r;
    return -1;
  }
  bool everyRowScanned() const {
    if (table->getNumRows() != int(expectedRows.size())) return false;
    for (int r = 0; r < table->getNumRows(); ++r)
      if (cell(r, 4) == "-" || cell(r, 5) == "0") return false;
    return true;
  }
  std::string tableText() const {
    std::string text;
    for (int r = 0; r < table->getNumRows(); ++r) {
      for (int c = 0; c < table->getNumColumns(); ++c) text += cell(r, c) + " | ";
      text += "\n";
    }
    return text;
  }
  // Connects through the stick, makes the heard converter the partner and asks it to scan.
  void startAndScan() {
    DialogScript start({chooseConnection(false, true)});
    runWithDialogs(start, [&] { w->connectionChoice(); });
    ASSERT_TRUE(pumpUntil([&] { return linkRecords().heard.count == 1; })) << logContent();
    DialogScript select({[&](FXDialogBox* dialog) { press(buttonNamed(dialog, "Select")); }});
    runWithDialogs(select, [&] { command(QuarnWindow::ID_FIND_CONVERTER); });
    w->setConverterKeyText(simConverterKey);
    // The tab shows before the frames and the answer come: what follows reaches it by the wake-ups.
    tabs->setCurrent(2, TRUE);
    ASSERT_TRUE(probe(w).surveyTab()->showing());
    command(QuarnWindow::ID_SCAN);
    ASSERT_TRUE(pumpUntil([&] { return everyRowScanned(); })) << tableText() << logContent();
  }

  QuarnWindow* w = nullptr;
  FXTabBook* tabs = nullptr;
  FXTable* table = nullptr;
  TempDir dir;
  TempDir keyDir;
  std::string meters;
  std::unique_ptr<SimProcess> sim;
};

TEST_F(SurveyTabTest, EveryMeterHeardShowsItsVerdictEntryAndCheckValueNeverAKey) {
  startAndScan();
  for (const auto& [id, expected] : expectedRows) {
    const int r = rowOf(id);
    ASSERT_GE(r, 0) << id << "\n" << tableText();
    EXPECT_EQ(cell(r, securityColumn), expected[0]) << id;
    EXPECT_EQ(cell(r, verdictColumn), expected[1]) << id;
    EXPECT_EQ(cell(r, entryColumn), expected[2]) << id;
    EXPECT_EQ(cell(r, kcvColumn).size(), expected[2].empty() ? 0u : 6u) << id;
  }
  // Sorted as the nearby list sorts: ABB before KAM, then by ID.
  EXPECT_EQ(cell(0, 0), "00000003");
  EXPECT_EQ(cell(1, 0), "00000002");
  EXPECT_EQ(cell(5, 0), "12345678");
  const std::string shown = tableText();
  for (const std::string& key : {keyA, keyB, keyC, keyD, keyE, keyF, reversedHex(keyD)})
    EXPECT_EQ(shown.find(key), std::string::npos) << key;
}

// A hidden tab costs nothing per frame; it catches up when it is shown.
TEST_F(SurveyTabTest, AHiddenTabIsWrittenWhenItIsShown) {
  DialogScript start({chooseConnection(false, true)});
  runWithDialogs(start, [&] { w->connectionChoice(); });
  ASSERT_TRUE(pumpUntil([&] { return linkRecords().meters.count == expectedRows.size(); })) << logContent();
  EXPECT_EQ(table->getNumRows(), 0);
  tabs->setCurrent(2, TRUE);
  EXPECT_EQ(table->getNumRows(), int(expectedRows.size())) << tableText();
  EXPECT_EQ(cell(rowOf("00000005"), verdictColumn), "wrong");
  EXPECT_EQ(cell(rowOf("00000005"), 4), "-");  // no Scan yet
}

TEST_F(SurveyTabTest, UseInSlot2FillsSlot2AndAChangedVersionIsMarked) {
  startAndScan();
  SlotFields before = w->readSlot(1);
  before.kek = "00112233445566778899AABBCCDDEEFF";
  w->writeSlot(1, before);
  const int reversed = rowOf("00000004");
  ASSERT_GE(reversed, 0);
  // The buttons work on the meter selected, so they wait for one.
  table->setCurrentItem(-1, -1, TRUE);
  shell().app->forceRefresh();
  EXPECT_FALSE(buttonNamed(w, "Use in slot 2")->isEnabled());
  table->setCurrentItem(reversed, 3, TRUE);
  shell().app->forceRefresh();
  EXPECT_TRUE(buttonNamed(w, "Use in slot 2")->isEnabled());
  press(buttonNamed(w, "Use in slot 2"));
  const SlotFields slot = w->readSlot(1);
  EXPECT_EQ(slot.manufacturer, "KAM");
  EXPECT_EQ(slot.deviceId, "00000004");
  EXPECT_EQ(slot.version, "1B");
  EXPECT_EQ(slot.media, "07");
  EXPECT_EQ(slot.masterKey, keyD);  // as it decrypts, not as listed
  EXPECT_EQ(slot.kek, before.kek);
  EXPECT_EQ(w->readSlot(0), SlotFields{});
  EXPECT_EQ(cell(rowOf("00000004"), slotColumn), "slot 2");

  // A slot edited on the Settings page is compared again when the tab shows.
  tabs->setCurrent(0, TRUE);
  probe(w).versionFields()[1]->setText("1C");
  probe(w).mediaFields()[1]->setText("04");
  tabs->setCurrent(2, TRUE);
  EXPECT_EQ(cell(rowOf("00000004"), slotColumn), "slot 2 differs: version, media");

  // A wrong key is never put in a slot: only the address.
  table->setCurrentItem(rowOf("00000005"), 0, TRUE);
  press(buttonNamed(w, "Use in slot 3"));
  EXPECT_EQ(w->readSlot(2).deviceId, "00000005");
  EXPECT_EQ(w->readSlot(2).masterKey, "");
  for (int s = 1; s < 3; ++s) w->writeSlot(s, SlotFields{});
}

// With QUARN_SCREENSHOT_DIR set, saves the window showing the tab, for the documentation.
TEST_F(SurveyTabTest, ScreenshotOfTheTabWhenAsked) {
  const char* shots = std::getenv("QUARN_SCREENSHOT_DIR");
  if (shots == nullptr) GTEST_SKIP() << "QUARN_SCREENSHOT_DIR not set";
  startAndScan();
  table->setCurrentItem(rowOf("12345678"), 0, TRUE);
  press(buttonNamed(w, "Use in slot 1"));
  shell().app->forceRefresh();
  runQueuedEvents();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  runQueuedEvents();
  const std::string command = "import -window " + std::to_string(static_cast<unsigned long>(w->id())) + " " +
                              std::string(shots) + "/screenshot-survey.png";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  w->writeSlot(0, SlotFields{});
}

}  // namespace
