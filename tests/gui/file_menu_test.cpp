// The File menu's "Save settings…", "Load settings…" and "Save log…" on the live window: the
// file choosers answered by a dialog script, files checked on disk, nothing sent on load.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/quarn_window.h"
#include "gui_support.h"

const char* const guiProgramName = "file_menu_test";

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

unsigned modeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<unsigned>(info.st_mode & 0777) : 0u;
}

// A message box: its texts kept, then the given button.
DialogStep answerBox(std::string* texts, FXSelector button) {
  return [texts, button](FXDialogBox* dialog) {
    *texts = str(dialog->getTitle());
    for (const std::string& label : labelTexts(dialog))
      if (!label.empty()) *texts += "|" + label;  // the icon's label has no text
    dialog->handle(dialog, FXSEL(SEL_COMMAND, button), nullptr);
  };
}

void runItem(QuarnWindow* w, const std::string& item, std::vector<DialogStep> steps) {
  DialogScript script(std::move(steps));
  runWithDialogs(script, [&] { chooseFileItem(w, item); });
}

SlotFields fullSlot() {
  SlotFields f;
  f.active = true;
  f.manufacturer = "KAM";
  f.version = "1B";
  f.deviceId = "12345678";
  f.media = "07";
  f.kek = "000102030405060708090A0B0C0D0E0F";
  f.masterKey = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF";
  f.wiredAddress = "17";
  f.wirelessProtocol = 11;
  f.wirelessMode = 7;
  return f;
}

class FileMenuTest : public ::testing::Test {
protected:
  void SetUp() override {
    w = shell().window;
    resetConnection(w);
    linkRecords().state.linkMode = LinkMode::wired;
    linkRecords().options = ConverterOptions{};
    for (int s = 0; s < slotCount; ++s) w->writeSlot(s, SlotFields{});
    w->writeWired(WiredSettings{});
    char pattern[] = "/tmp/quarn-file-menu-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  QuarnWindow* w = nullptr;
  std::string dir;
};

TEST_F(FileMenuTest, SettingsGoOutAndComeBackWithoutSendingAndTheLogIsSavedAsShown) {
  const std::string settings = dir + "/converter.json";
  w->writeSlot(1, fullSlot());
  w->writeWired(WiredSettings{9, 8});
  const uint8_t optionAnswer[] = {0x0F, 0x35, 0x97, 1, 0, 1, 0, 0, 0, 0, 1};
  parseConverterAnswer(optionAnswer, sizeof optionAnswer, w->link().targets());

  runItem(w, "Save settings…", {answerChooser("Save settings", settings)});
  const std::string saved = readAll(settings);
  EXPECT_EQ(modeOf(settings), 0600u);
  EXPECT_NE(saved.find("\"deviceId\": \"12345678\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"unencryptedWiredConfig\": true"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("\"slot\": 1,"), std::string::npos) << "blank slots stay out: " << saved;

  // Change what was saved; loading puts it back, options included, and sends nothing.
  SlotFields changed = fullSlot();
  changed.deviceId = "87654321";
  w->writeSlot(1, changed);
  w->writeWired(WiredSettings{});
  linkRecords().options = ConverterOptions{};
  w->clearLog();
  runItem(w, "Load settings…", {answerChooser("Load settings", settings)});
  EXPECT_TRUE(w->readSlot(1) == fullSlot());
  EXPECT_EQ(w->readWired().protocol, 9);
  EXPECT_EQ(w->readWired().mode, 8);
  EXPECT_TRUE(linkRecords().options.known);
  const std::vector<int> bits(linkRecords().options.bytes, linkRecords().options.bytes + 8);
  EXPECT_EQ(bits, (std::vector<int>{1, 0, 1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(logContent(), "Settings loaded from " + settings + "; nothing sent\n");

  // Replacing a file asks first; the links keep running while the chooser is open: a byte
  // arriving on the wired port meanwhile is logged before the log is written out.
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw{};
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  ASSERT_EQ(fcntl(slave, F_SETFL, O_NONBLOCK), 0);  // as the program opens its ports
  w->link().wiredSession().port.port.fd = slave;
  w->link().wiredSession().port.portOpen = true;
  resetReceiver(linkRecords().frames);  // as connecting does
  w->followLinks();
  w->logTimestamp();
  w->logText(">>> marker\n", 0);
  const std::string logFile = dir + "/log.txt";
  std::ofstream(logFile) << "old\n";
  std::string question;
  runItem(w, "Save log…",
          {[&](FXDialogBox*) { ASSERT_EQ(write(master, "\xE5", 1), 1); },  // stays open for the next poll
           [&](FXDialogBox* dialog) {
             EXPECT_NE(logContent().find("<<< Answer single byte ACK.\n"), std::string::npos) << "input while open";
             answerChooser("Save log", logFile)(dialog);
           },
           answerBox(&question, FXSEL(SEL_COMMAND, FXMessageBox::ID_CLICKED_YES))});
  EXPECT_EQ(question, "Quarn|" + logFile + " already exists.\nReplace it?");
  const std::string logged = readAll(logFile);
  EXPECT_EQ(logContent(), logged + "Log saved to " + logFile + "\n");
  resetConnection(w);
  close(master);
  EXPECT_EQ(modeOf(logFile), 0600u);
  EXPECT_NE(logged.find("<<< Answer single byte ACK.\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find(":   >>> marker\n"), std::string::npos) << logged;
  EXPECT_EQ(logged.substr(0, 3).find(':'), std::string::npos) << "the time stamp leads: " << logged;
  EXPECT_EQ(logged.rfind("Settings loaded from ", 0), 0u) << logged;
}

// Each refusal shows the error box and a log line and changes no field.
struct Refusal {
  const char* item;
  const char* fileText;  // written to the chosen path first when not null
  int emptiedSlot;       // a slot given a Device ID alone, or -1
  const char* reason;
};

TEST_F(FileMenuTest, RefusedFilesShowTheErrorBoxAndChangeNothing) {
  const Refusal refusals[] = {
      {"Load settings…", "{\"format\": \"quarn-settings\",", -1, "not valid JSON"},
      {"Load settings…", "{\"format\": \"quarn-settings\", \"formatVersion\": 1, \"wired\": {\"protocol\": \"X\"}}",
       -1, "wired.mode: missing"},
      {"Save settings…", nullptr, 2, "slot 3: manufacturer: expected three letters"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.reason);
    SetUp();
    w->writeSlot(0, fullSlot());
    if (r.emptiedSlot >= 0) {
      SlotFields partial;
      partial.deviceId = "1234";
      w->writeSlot(r.emptiedSlot, partial);
    }
    const std::string path = dir + "/refused.json";
    if (r.fileText != nullptr) std::ofstream(path) << r.fileText;
    w->clearLog();
    std::string box;
    const std::string title = std::string(r.item).substr(0, std::string(r.item).size() - 3);
    runItem(w, r.item,
            {answerChooser(title, path), answerBox(&box, FXSEL(SEL_COMMAND, FXMessageBox::ID_CLICKED_OK))});
    EXPECT_EQ(box.rfind("Quarn|", 0), 0u) << box;
    EXPECT_NE(box.find(r.reason), std::string::npos) << box;
    EXPECT_NE(logContent().find(r.reason), std::string::npos) << logContent();
    EXPECT_EQ(countOf(logContent(), "\n"), 1u) << logContent();
    EXPECT_TRUE(w->readSlot(0) == fullSlot());
    EXPECT_EQ(w->readWired().protocol, 0);
    if (r.fileText == nullptr) {
      EXPECT_EQ(access(path.c_str(), F_OK), -1) << "nothing written";
    }
    TearDown();
  }
}

}  // namespace

namespace {

// What a chooser showed when it came up, then the path typed and accepted.
struct ChooserSeen {
  std::string directory;
  std::string filename;  // the full path its name field gives
  int width = 0;
  int height = 0;
};

DialogStep inspectChooser(ChooserSeen* seen, const std::string& typed) {
  return [seen, typed](FXDialogBox* dialog) {
    ASSERT_TRUE(dialog->isMemberOf(FXMETACLASS(FXFileDialog)));
    FXFileDialog* chooser = static_cast<FXFileDialog*>(dialog);
    seen->directory = str(chooser->getDirectory());
    seen->filename = str(chooser->getFilename());
    seen->width = dialog->getWidth();
    seen->height = dialog->getHeight();
    chooser->setFilename(typed.c_str());
    dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  };
}

TEST_F(FileMenuTest, ChoosersStartInTheWorkingFolderSuggestANameAndRememberTheFolder) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  const std::string other = dir + "/site";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  probe(w).fileFolder().clear();  // a fresh run
  w->writeSlot(0, fullSlot());

  // The working folder itself, not its parent with the folder's name as the file's.
  ChooserSeen seen;
  runItem(w, "Save settings…", {inspectChooser(&seen, other + "/north")});
  EXPECT_EQ(seen.directory, dir);
  EXPECT_EQ(seen.filename, dir + "/quarn-settings.json");
  EXPECT_GE(seen.width, 700);
  EXPECT_GE(seen.height, 450);
  // A name typed without .json gets it; the status line confirms.
  EXPECT_EQ(access((other + "/north.json").c_str(), F_OK), 0);
  EXPECT_EQ(access((other + "/north").c_str(), F_OK), -1);
  EXPECT_EQ(str(probe(w).statusLine()->getText()), "Settings saved to " + other + "/north.json");

  // The next chooser opens where the last file went.
  runItem(w, "Load settings…", {inspectChooser(&seen, other + "/north.json")});
  EXPECT_EQ(seen.directory, other);
  EXPECT_EQ(str(probe(w).statusLine()->getText()), "Settings loaded from " + other + "/north.json; nothing sent");
  runItem(w, "Save log…", {inspectChooser(&seen, other + "/quarn-log.txt")});
  EXPECT_EQ(seen.directory, other);
  EXPECT_EQ(seen.filename, other + "/quarn-log.txt");
  EXPECT_EQ(access((other + "/quarn-log.txt").c_str(), F_OK), 0);
  EXPECT_EQ(str(probe(w).statusLine()->getText()), "Log saved to " + other + "/quarn-log.txt");
  // A name's lone UTF-8 lead byte is shown escaped, as device text is: the log stays one line a file.
  w->clearLog();
  runItem(w, "Save settings…", {inspectChooser(&seen, other + "/odd\xC3")});
  EXPECT_EQ(str(probe(w).statusLine()->getText()), "Settings saved to " + other + "/odd\\xC3.json");
  EXPECT_EQ(logContent(), "Settings saved to " + other + "/odd\\xC3.json\n");
  unlink((other + "/odd\xC3.json").c_str());

  // A command with no port open says so where the user looks, not only in the log tab.
  command(QuarnWindow::ID_GET_DATA_1);
  EXPECT_EQ(str(probe(w).statusLine()->getText()), "Get Data of slot 1 not sent: no COM port open.");
  rmdir(other.c_str());
  ASSERT_EQ(chdir(previous), 0);
}

}  // namespace
