// QuarnWindow: the main window, target of every menu command, button and timer.
#pragma once
#include <fx.h>

#include <memory>

#include "app/log_view.h"
#include "app/quarn_state.h"
#include "link/converter_link.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "converter/settings_view.h"
#include "converter/slot_data.h"
#include "serial/device_monitor.h"
#include "text/log.h"

class SurveyTab;

constexpr int optionBitCount = 8;
constexpr int fontChoiceCount = 4;

class QuarnWindow : public FXMainWindow, public Log, public SettingsView {
  FXDECLARE(QuarnWindow)

private:
  // Set by the real constructor: the configuration and help viewers of the run.
  QuarnState* state = nullptr;

public:
  enum {
    ID_ABOUT = FXMainWindow::ID_LAST,
    ID_NEARBY_TABLE = ID_ABOUT + 2,
    ID_TIMER_WIRED = ID_ABOUT + 8,
    ID_TIMER_DONGLE,
    ID_FONT_1 = ID_ABOUT + 11,
    ID_FONT_2,
    ID_FONT_3,
    ID_FONT_4,
    ID_RESET_OUTPUT,
    ID_FIND_CONVERTER = ID_ABOUT + 17,
    ID_SECURED_MESSAGES = ID_ABOUT + 20,
    ID_SET_DATA_1,
    ID_SET_DATA_2,
    ID_SET_DATA_3,
    ID_SET_DATA_4,
    ID_GET_DATA_1,
    ID_GET_DATA_2,
    ID_GET_DATA_3,
    ID_GET_DATA_4,
    ID_OPTION_BITS = ID_ABOUT + 31,
    ID_HELP,
    ID_DISCONNECT,
    ID_RECONNECT,
    ID_SELECT_PORT,
    ID_KEY_FIND_1,
    ID_KEY_FIND_2,
    ID_KEY_FIND_3,
    ID_KEY_FIND_4,
    ID_SCAN,
    ID_GET_OPTIONS = ID_ABOUT + 43,
    ID_SET_OPTIONS,
    ID_INPUT_WIRED,    // the wired port is readable
    ID_INPUT_DONGLE,   // the stick's port is readable
    ID_INPUT_DEVICES,  // the system reports a serial port added or removed
    ID_TIMER_LOG_SCROLL,  // a follow of the log held to a display's pace is due
    ID_SAVE_SETTINGS,
    ID_LOAD_SETTINGS,
    ID_SAVE_LOG,
    ID_APPLY_FILE,   // "Apply settings file…"
    ID_VERIFY_FILE,  // "Verify against settings file…"
    ID_SITE_PLAN,    // "Site plan…"
    ID_JOB_INPUT,    // a job's own link is readable
    ID_JOB_TIMER,    // a job's wait is due
    ID_HELP_VIEWER,  // a help viewer started by Help has ended
    ID_LAST
  };

  QuarnWindow(FXApp* application, QuarnState& quarnState);
  ~QuarnWindow() override;
  void create() override;

  // Log
  void logText(const char* text, int style) override;
  void logTimestamp() override;
  void logHexDump(const uint8_t* bytes, size_t count, int style) override;
  void clearLog() override;
  bool atLineStart() override { return communicationLog.atLineStart(); }

  // SettingsView: the settings widgets as the converter logic reads and writes them
  SlotFields readSlot(int s) override;
  void writeSlot(int s, const SlotFields& fields) override;
  void setDeviceIdText(int s, const std::string& text) override;
  WiredSettings readWired() override;
  void writeWired(const WiredSettings& wired) override;
  std::string converterKeyText() override;
  void setConverterKeyText(const std::string& text) override;
  void setConverterIdText(const std::string& text) override;
  bool optionDialogOpen() override;
  void setOptionCheck(int index, bool ticked) override;
  std::string nearbyAddressText(int row) override;
  void setNearbyRow(int row, const NearbyRowTexts& texts) override;

  // The connection line of the About box, formatted once.
  FXString aboutConnectionText() const;

  // The connection: chosen once at start, then the wired port or the dongle.
  void connectionChoice();
  void selectWiredPort();
  // Reconnects the port last chosen, or connects the one named; false when it did not open.
  bool connectWired();
  bool connectWired(const std::string& portName, const std::string& devicePath);
  void partnerDialog();

  long onCmdAbout(FXObject*, FXSelector, void*);
  long onCmdFont(FXObject*, FXSelector, void*);
  long onCmdResetOutput(FXObject*, FXSelector, void*);
  long onCmdSecuredMessages(FXObject*, FXSelector, void*);
  long onCmdHelp(FXObject*, FXSelector, void*);
  long onHelpViewerEnded(FXObject*, FXSelector, void*);
  long onDblClickNearby(FXObject*, FXSelector, void*);
  long onTimeoutWired(FXObject*, FXSelector, void*);
  long onTimeoutDongle(FXObject*, FXSelector, void*);
  long onInputWired(FXObject*, FXSelector, void*);
  long onInputDongle(FXObject*, FXSelector, void*);
  long onInputDevices(FXObject*, FXSelector, void*);
  // Ports that came or went, as udev reported them: a lost stick, one back, or one that came
  // to a wired run. True when a port came that is the recorded stick.
  bool deviceEvents(const DeviceEvent* events, int count);
  long onTimeoutLogScroll(FXObject*, FXSelector, void*);

  // Makes the event loop watch the descriptors the links have now and the bound timers follow
  // their deadlines. Every handler that opens, closes or sends on a link calls it, before any
  // modal dialog runs the loop again.
  void followLinks();
  bool watchesWiredPort() const { return watchedWired >= 0; }
  bool watchesStick() const { return watchedDongle >= 0; }
  long onCmdFindConverter(FXObject*, FXSelector, void*);
  long onCmdConverterCommand(FXObject*, FXSelector, void*);
  long onCmdOptionBits(FXObject*, FXSelector, void*);
  long onCmdDisconnect(FXObject*, FXSelector, void*);
  long onCmdReconnect(FXObject*, FXSelector, void*);
  long onCmdSelectPort(FXObject*, FXSelector, void*);
  long onCmdKeyFind(FXObject*, FXSelector, void*);
  long onCmdSaveSettings(FXObject*, FXSelector, void*);
  long onCmdLoadSettings(FXObject*, FXSelector, void*);
  long onCmdSaveLog(FXObject*, FXSelector, void*);
  long onCmdApplyFile(FXObject*, FXSelector, void*);
  long onCmdVerifyFile(FXObject*, FXSelector, void*);
  long onCmdSitePlan(FXObject*, FXSelector, void*);
  long onJobWake(FXObject*, FXSelector, void*);

  // Runs the event loop until the link was woken (its port readable, its bound due) or untilMs
  // passed: how a job waits in the window without blocking it. False with no port to wait on.
  bool waitForJob(ConverterLink& link, long long untilMs);
  bool jobRunning() const { return jobRunning_; }

  // The one link: records, sessions, transport and command channel.
  ConverterLink& link() { return link_; }
  const ConverterLink& link() const { return link_; }

protected:
  QuarnWindow() = default;  // for the metaclass only; builds nothing

private:
  // Widgets and state the handlers of the other subsystems work on; tests and benchmarks look
  // at them through QuarnWindowProbe.
  friend struct QuarnWindowProbe;
  FXCheckButton* optionChecks[optionBitCount] = {};
  FXStatusLine* statusLine = nullptr;
  FXMenuRadio* fontRadios[fontChoiceCount] = {};
  FXMenuCheck* securedMessagesCheck = nullptr;
  FXGIFIcon* bigIcon = nullptr;
  FXGIFIcon* miniIcon = nullptr;
  FXTable* nearbyTable = nullptr;
  FXCheckButton* activeChecks[slotCount] = {};
  FXTextField* manufacturerFields[slotCount] = {};
  FXTextField* versionFields[slotCount] = {};
  FXTextField* deviceIdFields[slotCount] = {};
  FXTextField* mediaFields[slotCount] = {};
  FXTextField* kekFields[slotCount] = {};
  FXTextField* masterKeyFields[slotCount] = {};
  FXListBox* wirelessProtocolLists[slotCount] = {};
  FXListBox* wirelessModeLists[slotCount] = {};
  FXComboBox* wiredAddressCombos[slotCount] = {};
  FXListBox* wiredProtocolList = nullptr;
  FXListBox* wiredModeList = nullptr;
  FXTextField* converterKeyField = nullptr;
  FXTextField* converterIdField = nullptr;
  LogText* logView = nullptr;
  // What the Log calls above write through: batches, scrolling and the bound on logView.
  LogView communicationLog;
  FXFont* logFont = nullptr;
  // The folder the file choosers open in: the last one used in this run, empty for the working folder.
  std::string fileFolder;

  void buildMenus();
  void buildSettingsPage(FXComposite* page);
  void buildConverterGroups(FXComposite* container);
  void buildSlot(FXComposite* container, int slot);
  void buildNearbyGroup(FXComposite* container);
  void buildLogPage(FXComposite* page);
  void showStatus(const std::string& text);
  // How the command waited for ended, or the link's loss, on the status line.
  void showWakeOutcome(const LinkEvents& events);
  bool wiredOperation();  // false, after saying so, in a wireless run
  void showStickOpenError();
  // Where several sticks are plugged in, asks which; false when the user chose none.
  bool chooseStick(std::string& stick);
  void writeDongleStart();
  bool writeOptionChecks();
  // A file command's outcome: a log line, and the error box when it failed.
  void reportFile(bool ok, const std::string& done, const std::string& failed, const std::string& error);

  FXMenuPane* menuPanes[5] = {};
  // What the event loop watches for the links (-1: none), and the device monitor.
  intptr_t watchedWired = -1;
  intptr_t watchedDongle = -1;
  DeviceMonitor deviceMonitor;
  bool watchingDevices = false;
  void watchInput(intptr_t& watched, intptr_t handle, FXSelector id);
  static FXInputHandle asInputHandle(intptr_t handle);
  void armBound(FXSelector id, long long dueMs);
  bool wakeEnds(unsigned long writesBefore);
  // Counts writes to widgets other than the log, so a wake-up can tell whether FOX's refresh
  // of every widget has anything to show.
  unsigned long widgetWrites = 0;
  ConverterLink link_{*this, *this};
  std::unique_ptr<SurveyTab> surveyTab;  // after link_: it reads the link's records
  // A job under way: its own link when it is not link_, and whether the loop has woken it.
  bool jobRunning_ = false;
  ConverterLink* jobLink_ = nullptr;
  FXuint jobWoken_ = 0;
  intptr_t watchedJob_ = -1;
  // The site plan dialog's fields, kept for the next run.
  struct SitePlanFields {
    std::string plan, settingsTemplate, report;
    int action = 0;
  } sitePlanFields_;
  // Runs a single-converter job on link_ if it is connected; false, after saying so, when not.
  bool readyForJob();
  // The settings file a job works from, chosen in a file chooser; false when none was read.
  bool chooseJobFile(const char* chooserTitle, std::string& path, struct SettingsFile& file);
  void runSitePlanRequest(const std::string& plan, const std::string& settingsTemplate, const std::string& report,
                          int action);
};

static_assert(QuarnWindow::ID_ABOUT == 60, "command ids start at the toolkit's 60");
static_assert(QuarnWindow::ID_NEARBY_TABLE == 62);
static_assert(QuarnWindow::ID_TIMER_WIRED == 68);
static_assert(QuarnWindow::ID_TIMER_DONGLE == 69);
static_assert(QuarnWindow::ID_FONT_1 == 71 && QuarnWindow::ID_FONT_4 == 74);
static_assert(QuarnWindow::ID_RESET_OUTPUT == 75);
static_assert(QuarnWindow::ID_FIND_CONVERTER == 77);
static_assert(QuarnWindow::ID_SECURED_MESSAGES == 80);
static_assert(QuarnWindow::ID_SET_DATA_1 == 81 && QuarnWindow::ID_SET_DATA_4 == 84);
static_assert(QuarnWindow::ID_GET_DATA_1 == 85 && QuarnWindow::ID_GET_DATA_4 == 88);
static_assert(QuarnWindow::ID_OPTION_BITS == 91);
static_assert(QuarnWindow::ID_HELP == 92);
static_assert(QuarnWindow::ID_DISCONNECT == 93);
static_assert(QuarnWindow::ID_RECONNECT == 94);
static_assert(QuarnWindow::ID_SELECT_PORT == 95);
static_assert(QuarnWindow::ID_KEY_FIND_1 == 96 && QuarnWindow::ID_KEY_FIND_4 == 99);
static_assert(QuarnWindow::ID_SCAN == 100);
static_assert(QuarnWindow::ID_GET_OPTIONS == 103);
static_assert(QuarnWindow::ID_SET_OPTIONS == 104);
