// QuarnWindow: widget tree, menus, message map, the log and the shell's own handlers.
#include "app/quarn_window.h"

#include <string>

#include "app/about_dialog.h"
#include "app/log_font.h"
#include "app/letter_field.h"
#include "app/log_text.h"
#include "app/nearby_table.h"
#include "app/survey_tab.h"
#include "converter/nearby_devices.h"
#include "quarn_icons.h"
#include "text/printable_text.h"

namespace {

constexpr FXint windowWidth = 1340;
constexpr FXint windowHeight = 850;
constexpr FXint framePadding = 4;
constexpr FXint listVisibleItems = 5;
constexpr FXint converterFieldColumns = 40;
constexpr FXint keyFieldColumns = 32;
constexpr FXint wiredAddressColumns = 3;
constexpr const char* defaultConverterKey = "3C5A0F1E92B47D68A0E1C3F5B7092D4E";


constexpr FXint nearbyRows = nearbyTableRows;
constexpr FXint nearbyColumns = 3;
constexpr FXint nearbyVisibleRows = 8;
// The RSSI cells hold bare numbers, so the heading names their unit.
constexpr const char* nearbyHeaders[nearbyColumns] = {"Meter address", "Description", "RSSI (dBm)"};
constexpr FXint nearbyWidths[nearbyColumns] = {200, 400, 200};

constexpr FXuint limitedField = TEXTFIELD_NORMAL | TEXTFIELD_LIMITED;
constexpr FXuint ridgeGroup = GROUPBOX_NORMAL | FRAME_RIDGE;

// Styles 1 to 3 of the log; style 0 is the widget's own colours.
const FXHiliteStyle logHiliteStyles[3] = {
    {FXRGB(0, 0, 0), FXRGB(255, 255, 255), FXRGB(255, 0, 0), FXRGB(128, 0, 0),
     FXRGB(0, 0, 0), FXRGB(255, 255, 255), FXRGB(255, 255, 255), 0},
    {FXRGB(255, 0, 0), FXRGB(255, 255, 255), FXRGB(100, 255, 100), FXRGB(0, 128, 0),
     FXRGB(0, 0, 0), FXRGB(255, 255, 255), FXRGB(255, 255, 255), 0},
    {FXRGB(0, 0, 255), FXRGB(255, 255, 255), FXRGB(0, 0, 255), FXRGB(0, 0, 128),
     FXRGB(0, 0, 0), FXRGB(255, 255, 255), FXRGB(255, 255, 255), 0},
};

// "Use font 2" is built from its parts; the others from description strings.
constexpr const char* fontDescriptions[fontChoiceCount] = {
    "Courier,50,bold,,,,0", nullptr, "Fixed,105,bold,,expanded",
    "helvetica [bitstream],105,bold,,expanded,iso8859-1,0"};
constexpr int builtInFont = 1;

FXFont* makeLogFont(FXApp* app, int choice) {
  if (fontDescriptions[choice] != nullptr) return new LogFont(app, fontDescriptions[choice]);
  return new LogFont(app, "Terminal", 11, FXFont::Normal, FXFont::Straight, FONTENCODING_DEFAULT,
                     FXFont::NonExpanded, 0);
}

// The entry tables are the converter's: an entry's index is the code it exchanges.
FXListBox* makeListBox(FXComposite* container, const char* const* names, int count, FXint current) {
  FXListBox* list = new FXListBox(container, nullptr, 0, LISTBOX_NORMAL | FRAME_SUNKEN | FRAME_THICK);
  for (int i = 0; i < count; ++i) list->appendItem(names[i]);
  list->setNumVisible(listVisibleItems);
  list->setCurrentItem(current);
  return list;
}

FXColor nearbyCellColor(int rowOdd, int columnOdd) {
  if (!rowOdd) return columnOdd ? FXRGB(255, 240, 240) : FXRGB(255, 255, 255);
  return columnOdd ? FXRGB(240, 240, 255) : FXRGB(240, 255, 240);
}

}  // namespace

FXDEFMAP(QuarnWindow) QuarnWindowMap[] = {
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_ABOUT, QuarnWindow::onCmdAbout),
    FXMAPFUNC(SEL_DOUBLECLICKED, QuarnWindow::ID_NEARBY_TABLE, QuarnWindow::onDblClickNearby),
    FXMAPFUNC(SEL_TIMEOUT, QuarnWindow::ID_TIMER_WIRED, QuarnWindow::onTimeoutWired),
    FXMAPFUNC(SEL_TIMEOUT, QuarnWindow::ID_TIMER_DONGLE, QuarnWindow::onTimeoutDongle),
    FXMAPFUNC(SEL_IO_READ, QuarnWindow::ID_INPUT_WIRED, QuarnWindow::onInputWired),
    FXMAPFUNC(SEL_IO_READ, QuarnWindow::ID_INPUT_DONGLE, QuarnWindow::onInputDongle),
    FXMAPFUNC(SEL_IO_READ, QuarnWindow::ID_INPUT_DEVICES, QuarnWindow::onInputDevices),
    FXMAPFUNC(SEL_TIMEOUT, QuarnWindow::ID_TIMER_LOG_SCROLL, QuarnWindow::onTimeoutLogScroll),
    FXMAPFUNCS(SEL_COMMAND, QuarnWindow::ID_FONT_1, QuarnWindow::ID_FONT_4, QuarnWindow::onCmdFont),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_RESET_OUTPUT, QuarnWindow::onCmdResetOutput),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_FIND_CONVERTER, QuarnWindow::onCmdFindConverter),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_SECURED_MESSAGES, QuarnWindow::onCmdSecuredMessages),
    FXMAPFUNCS(SEL_COMMAND, QuarnWindow::ID_SET_DATA_1, QuarnWindow::ID_GET_DATA_4,
               QuarnWindow::onCmdConverterCommand),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_OPTION_BITS, QuarnWindow::onCmdOptionBits),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_HELP, QuarnWindow::onCmdHelp),
    FXMAPFUNC(SEL_IO_READ, QuarnWindow::ID_HELP_VIEWER, QuarnWindow::onHelpViewerEnded),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_DISCONNECT, QuarnWindow::onCmdDisconnect),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_RECONNECT, QuarnWindow::onCmdReconnect),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_SELECT_PORT, QuarnWindow::onCmdSelectPort),
    FXMAPFUNCS(SEL_COMMAND, QuarnWindow::ID_KEY_FIND_1, QuarnWindow::ID_KEY_FIND_4,
               QuarnWindow::onCmdKeyFind),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_SCAN, QuarnWindow::onCmdConverterCommand),
    FXMAPFUNCS(SEL_COMMAND, QuarnWindow::ID_GET_OPTIONS, QuarnWindow::ID_SET_OPTIONS,
               QuarnWindow::onCmdConverterCommand),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_SAVE_SETTINGS, QuarnWindow::onCmdSaveSettings),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_LOAD_SETTINGS, QuarnWindow::onCmdLoadSettings),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_SAVE_LOG, QuarnWindow::onCmdSaveLog),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_APPLY_FILE, QuarnWindow::onCmdApplyFile),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_VERIFY_FILE, QuarnWindow::onCmdVerifyFile),
    FXMAPFUNC(SEL_COMMAND, QuarnWindow::ID_SITE_PLAN, QuarnWindow::onCmdSitePlan),
    FXMAPFUNC(SEL_IO_READ, QuarnWindow::ID_JOB_INPUT, QuarnWindow::onJobWake),
    FXMAPFUNC(SEL_TIMEOUT, QuarnWindow::ID_JOB_TIMER, QuarnWindow::onJobWake),
};

FXIMPLEMENT(QuarnWindow, FXMainWindow, QuarnWindowMap, ARRAYNUMBER(QuarnWindowMap))

QuarnWindow::QuarnWindow(FXApp* application, QuarnState& quarnState)
    : FXMainWindow(application, quarnVersionText, nullptr, nullptr, DECOR_ALL, 0, 0, windowWidth, windowHeight),
      state(&quarnState) {
  bigIcon = new FXGIFIcon(application, quarnBigIcon);
  miniIcon = new FXGIFIcon(application, quarnMiniIcon);
  bigIcon->setOptions(bigIcon->getOptions() | IMAGE_OPAQUE);
  setIcon(bigIcon);
  setMiniIcon(miniIcon);

  FXMenuBar* menuBar = new FXMenuBar(this, LAYOUT_SIDE_TOP | LAYOUT_FILL_X);
  FXStatusBar* statusBar =
      new FXStatusBar(this, LAYOUT_SIDE_BOTTOM | LAYOUT_FILL_X | STATUSBAR_WITH_DRAGCORNER);
  statusLine = statusBar->getStatusLine();
  statusLine->setNormalText("Not connected.");

  FXVerticalFrame* outer = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0,
                                               framePadding, framePadding, framePadding, framePadding);
  FXTabBook* tabs = new FXTabBook(outer, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  new FXTabItem(tabs, "Settings");
  buildSettingsPage(new FXVerticalFrame(tabs, LAYOUT_FILL_X | LAYOUT_FILL_Y | FRAME_RAISED, 0, 0, 0, 0,
                                        framePadding, framePadding, framePadding, framePadding));
  new FXTabItem(tabs, "Communication log");
  buildLogPage(new FXHorizontalFrame(tabs, LAYOUT_FILL_X | LAYOUT_FILL_Y | PACK_UNIFORM_WIDTH | FRAME_RAISED,
                                     0, 0, 0, 0, framePadding, framePadding, framePadding, framePadding));
  surveyTab.reset(new SurveyTab(tabs, link_, *this));

  buildMenus();
  FXMenuPane* const* panes = menuPanes;
  new FXMenuTitle(menuBar, "&File", nullptr, panes[0]);
  new FXMenuTitle(menuBar, "&Help", nullptr, panes[1], LAYOUT_RIGHT);
  new FXMenuTitle(menuBar, "&Settings", nullptr, panes[2]);
  new FXMenuTitle(menuBar, "&Converter options", nullptr, panes[3]);
  new FXMenuTitle(menuBar, "Wired connection options", nullptr, panes[4]);
}

void QuarnWindow::buildMenus() {
  FXMenuPane* file = menuPanes[0] = new FXMenuPane(this);
  new FXMenuCommand(file, "Save settings…", nullptr, this, ID_SAVE_SETTINGS);
  new FXMenuCommand(file, "Load settings…", nullptr, this, ID_LOAD_SETTINGS);
  new FXMenuCommand(file, "Save log…", nullptr, this, ID_SAVE_LOG);
  new FXMenuSeparator(file);
  new FXMenuCommand(file, "Apply settings file…", nullptr, this, ID_APPLY_FILE);
  new FXMenuCommand(file, "Verify against settings file…", nullptr, this, ID_VERIFY_FILE);
  new FXMenuCommand(file, "Site plan…", nullptr, this, ID_SITE_PLAN);
  new FXMenuSeparator(file);
  new FXMenuCommand(file, "&quit\tctrl-q", nullptr, getApp(), FXApp::ID_QUIT);

  FXMenuPane* help = menuPanes[1] = new FXMenuPane(this);
  new FXMenuCommand(help, "Help", nullptr, this, ID_HELP);
  new FXMenuCommand(help, "&about\tctrl-a", nullptr, this, ID_ABOUT);

  FXMenuPane* settings = menuPanes[2] = new FXMenuPane(this);
  const char* fontLabels[fontChoiceCount] = {"Use font 1", "Use font 2", "Use font 3", "Use font 4"};
  for (int i = 0; i < fontChoiceCount; ++i) {
    fontRadios[i] = new FXMenuRadio(settings, fontLabels[i], this, ID_FONT_1 + i);
  }
  fontRadios[builtInFont]->setCheck(TRUE);
  new FXMenuCommand(settings, "&reset output\tctrl-r", nullptr, this, ID_RESET_OUTPUT);
  new FXMenuSeparator(settings);
  securedMessagesCheck = new FXMenuCheck(settings, "Use wired encrypted messages", this, ID_SECURED_MESSAGES);

  FXMenuPane* converterMenu = menuPanes[3] = new FXMenuPane(this);
  new FXMenuCommand(converterMenu, "Set option bits", nullptr, this, ID_OPTION_BITS);

  FXMenuPane* wired = menuPanes[4] = new FXMenuPane(this);
  new FXMenuCommand(wired, "Disconnect COM port", nullptr, this, ID_DISCONNECT);
  new FXMenuCommand(wired, "Reconnect COM port", nullptr, this, ID_RECONNECT);
  new FXMenuCommand(wired, "Select new COM port", nullptr, this, ID_SELECT_PORT);
}

void QuarnWindow::buildSettingsPage(FXComposite* page) {
  buildConverterGroups(new FXHorizontalFrame(page, LAYOUT_FILL_X));

  FXGroupBox* devices = new FXGroupBox(page, "Device settings", ridgeGroup | LAYOUT_FILL_X);
  FXHorizontalFrame* slots =
      new FXHorizontalFrame(devices, LAYOUT_FILL_X | LAYOUT_FILL_Y | PACK_UNIFORM_WIDTH);
  for (int slot = 0; slot < slotCount; ++slot) buildSlot(slots, slot);

  buildNearbyGroup(page);
}

void QuarnWindow::buildConverterGroups(FXComposite* container) {
  FXGroupBox* general = new FXGroupBox(container, "General converter settings", ridgeGroup | LAYOUT_FILL_X);
  FXHorizontalFrame* generalRow = new FXHorizontalFrame(general, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXMatrix* keyMatrix = new FXMatrix(generalRow, 2, MATRIX_BY_COLUMNS);
  new FXLabel(keyMatrix, "Converter Encryption Key");
  new FXLabel(keyMatrix, "Converter ID");
  converterKeyField = new FXTextField(keyMatrix, converterFieldColumns, nullptr, 0, limitedField);
  converterIdField = new FXTextField(keyMatrix, converterFieldColumns, nullptr, 0,
                                     limitedField | TEXTFIELD_READONLY | TEXTFIELD_AUTOGRAY);
  converterIdField->setText("None selected.");
  const ConfigFile& config = state->config;
  converterKeyField->setText(config.configLoaded ? config.configLine2 : defaultConverterKey);
  new FXButton(generalRow, "Find converter", nullptr, this, ID_FIND_CONVERTER,
               BUTTON_NORMAL | LAYOUT_CENTER_Y);

  FXGroupBox* wired = new FXGroupBox(container, "Converter wired interface settings", ridgeGroup | LAYOUT_FILL_X);
  FXHorizontalFrame* wiredRow = new FXHorizontalFrame(wired, LAYOUT_FILL_X);
  FXMatrix* wiredMatrix = new FXMatrix(wiredRow, 3, MATRIX_BY_COLUMNS | LAYOUT_FILL_X);
  new FXLabel(wiredMatrix, "Wired Protocol");
  new FXLabel(wiredMatrix, "Wired Encryption Mode");
  new FXLabel(wiredMatrix, " ");
  wiredProtocolList = makeListBox(wiredMatrix, protocolEntries, protocolCount, 0);
  wiredModeList = makeListBox(wiredMatrix, modeEntries, wiredModeCount, 0);
}

void QuarnWindow::buildSlot(FXComposite* container, int slot) {
  const char* titles[slotCount] = {"1", "2", "3", "4"};
  FXGroupBox* box = new FXGroupBox(container, titles[slot], ridgeGroup | LAYOUT_FILL_X);
  FXVerticalFrame* column = new FXVerticalFrame(box, LAYOUT_FILL_X | LAYOUT_FILL_Y | PACK_UNIFORM_WIDTH);

  FXMatrix* idMatrix = new FXMatrix(column, 4, MATRIX_BY_COLUMNS);
  activeChecks[slot] = new FXCheckButton(idMatrix, "Active");
  for (int i = 0; i < 3; ++i) new FXLabel(idMatrix, FXString::null);
  new FXLabel(idMatrix, "Manuf. ID");
  new FXLabel(idMatrix, "Version");
  new FXLabel(idMatrix, "Device ID");
  new FXLabel(idMatrix, "Media");
  manufacturerFields[slot] = new LetterField(idMatrix, 3, limitedField);
  versionFields[slot] = new FXTextField(idMatrix, 2, nullptr, 0, limitedField);
  deviceIdFields[slot] = new FXTextField(idMatrix, 8, nullptr, 0, limitedField);
  mediaFields[slot] = new FXTextField(idMatrix, 2, nullptr, 0, limitedField);

  new FXLabel(column, "Key Encryption Key");
  kekFields[slot] = new FXTextField(column, keyFieldColumns, nullptr, 0, limitedField);
  new FXLabel(column, "Master Key");
  masterKeyFields[slot] = new FXTextField(column, keyFieldColumns, nullptr, 0, limitedField);
  new FXLabel(column, "Wireless Protocol");
  wirelessProtocolLists[slot] = makeListBox(column, protocolEntries, protocolCount, defaultWirelessProtocol);
  new FXLabel(column, "Wireless Encryption Mode");
  wirelessModeLists[slot] = makeListBox(column, modeEntries, wirelessModeCount, defaultWirelessMode);

  FXMatrix* commandMatrix = new FXMatrix(column, 4, MATRIX_BY_COLUMNS);
  new FXLabel(commandMatrix, "Wired Address");
  for (int i = 0; i < 3; ++i) new FXLabel(commandMatrix, " ");
  FXComboBox* combo = wiredAddressCombos[slot] =
      new FXComboBox(commandMatrix, wiredAddressColumns, nullptr, 0, COMBOBOX_NORMAL | FRAME_SUNKEN | FRAME_THICK);
  for (int address = 0; address < wiredAddressCount; ++address) combo->appendItem(FXStringVal(address));
  combo->setNumVisible(listVisibleItems);
  combo->setText(FXString::null);
  new FXButton(commandMatrix, "Get Data", nullptr, this, ID_GET_DATA_1 + slot, BUTTON_NORMAL | LAYOUT_CENTER_X);
  new FXButton(commandMatrix, "Set Data", nullptr, this, ID_SET_DATA_1 + slot, BUTTON_NORMAL | LAYOUT_CENTER_X);
  new FXButton(commandMatrix, "Key find", nullptr, this, ID_KEY_FIND_1 + slot, BUTTON_NORMAL | LAYOUT_CENTER_X);
}

void QuarnWindow::buildNearbyGroup(FXComposite* container) {
  FXGroupBox* nearby = new FXGroupBox(container, "Devices Nearby", ridgeGroup | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXHorizontalFrame* row = new FXHorizontalFrame(nearby, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXMatrix* scanMatrix = new FXMatrix(row, 2, MATRIX_BY_COLUMNS | LAYOUT_FILL_Y);
  FXVerticalFrame* scanFrame = new FXVerticalFrame(scanMatrix, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  new FXButton(scanFrame, "Scan", nullptr, this, ID_SCAN, BUTTON_NORMAL | LAYOUT_CENTER_Y);

  NearbyTable* table = new NearbyTable(row, this, ID_NEARBY_TABLE,
                                       TABLE_READONLY | TABLE_NO_ROWSELECT | TABLE_NO_COLSELECT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  nearbyTable = table;
  nearbyTable->setVisibleRows(nearbyVisibleRows);
  nearbyTable->setVisibleColumns(nearbyColumns);
  nearbyTable->setTableSize(nearbyRows, nearbyColumns);
  nearbyTable->setBackColor(FXRGB(255, 255, 255));
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) nearbyTable->setCellColor(r, c, nearbyCellColor(r, c));
  }
  for (int c = 0; c < nearbyColumns; ++c) {
    nearbyTable->setColumnText(c, nearbyHeaders[c]);
    table->setBaseColumnWidth(c, nearbyWidths[c]);
  }
  // The rows have no headings: a row header would show as an empty sliver.
  nearbyTable->setRowHeaderMode(LAYOUT_FIX_WIDTH);
  nearbyTable->setRowHeaderWidth(0);
  nearbyTable->setColumnHeaderMode(0);
}

void QuarnWindow::buildLogPage(FXComposite* page) {
  FXGroupBox* group = new FXGroupBox(page, "Communication log", ridgeGroup | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXHorizontalFrame* frame = new FXHorizontalFrame(group, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  logView = new LogText(frame, nullptr, 0,
                        TEXT_READONLY | TEXT_SHOWACTIVE | TEXT_AUTOSCROLL | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  logView->setStyled(TRUE);
  logView->setHiliteStyles(logHiliteStyles, static_cast<int>(sizeof logHiliteStyles / sizeof logHiliteStyles[0]));
  logFont = makeLogFont(getApp(), builtInFont);
  logView->setFont(logFont);
  communicationLog.attach(logView);
}

QuarnWindow::~QuarnWindow() {
  if (watchedWired >= 0) getApp()->removeInput(asInputHandle(watchedWired), INPUT_READ);
  if (watchedDongle >= 0) getApp()->removeInput(asInputHandle(watchedDongle), INPUT_READ);
  if (watchingDevices) getApp()->removeInput(asInputHandle(deviceMonitor.handle), INPUT_READ);
  closeDeviceMonitor(deviceMonitor);
  delete logFont;  // the text widget does not own its font
  delete bigIcon;
  delete miniIcon;
  for (FXMenuPane* pane : menuPanes) delete pane;
}

void QuarnWindow::create() {
  FXMainWindow::create();
  show(PLACEMENT_SCREEN);
}

// ---- The communication log ----

void QuarnWindow::logText(const char* text, int style) { communicationLog.logText(text, style); }

void QuarnWindow::logTimestamp() { communicationLog.logTimestamp(); }

void QuarnWindow::logHexDump(const uint8_t* bytes, size_t count, int style) {
  communicationLog.logHexDump(bytes, count, style);
}

void QuarnWindow::clearLog() { communicationLog.clearLog(); }

// ---- The shell's own commands ----

long QuarnWindow::onCmdResetOutput(FXObject*, FXSelector, void*) {
  clearLog();
  return 1;
}

long QuarnWindow::onCmdFont(FXObject*, FXSelector sel, void*) {
  const int choice = FXSELID(sel) - ID_FONT_1;
  FXFont* oldFont = logFont;
  logFont = makeLogFont(getApp(), choice);
  logFont->create();
  logView->setFont(logFont);
  delete oldFont;
  for (int i = 0; i < fontChoiceCount; ++i) {
    if (i != choice) fontRadios[i]->setCheck(FALSE);
  }
  return 1;
}

FXString QuarnWindow::aboutConnectionText() const {
  if (link_.records().state.linkMode == LinkMode::wired) {
    return FXStringFormat("Wired connection COM port [%s]\r\n", printableText(link_.wiredPortName()).c_str());
  }
  // Device strings shown escaped, as on the trace output: a line break in a product name
  // would otherwise reshape the box.
  return FXStringFormat("Wireless connection\r\nID: [%s]\r\nDescription: [%s]\r\n",
                        printableText(dongleSerial(link_.records().dongleRecord)).c_str(),
                        printableText(dongleDescription(link_.records().dongleRecord)).c_str());
}

long QuarnWindow::onCmdAbout(FXObject*, FXSelector, void*) {
  runAboutDialog(this, bigIcon, aboutConnectionText());
  return 1;
}

long QuarnWindow::onCmdHelp(FXObject*, FXSelector, void*) {
  char path[4200];
  helpPageLocation(path, sizeof path);
  std::string failure;
  HelpViewers& viewers = state->helpViewers;
  if (openHelpPage(path, viewers, &failure) == 0) showStatus(failure);
  else if (viewers.lastEnd >= 0) getApp()->addInput(asInputHandle(viewers.lastEnd), INPUT_READ, this, ID_HELP_VIEWER);
  return 1;
}

long QuarnWindow::onHelpViewerEnded(FXObject*, FXSelector, void*) {
  HelpViewers& viewers = state->helpViewers;
  int watched[helpViewerSlots];
  for (int i = 0; i < helpViewerSlots; ++i) watched[i] = viewers.ends[i];
  const int failed = collectEndedHelpViewers(viewers);
  for (int i = 0; i < helpViewerSlots; ++i)
    if (watched[i] >= 0 && viewers.ends[i] != watched[i]) getApp()->removeInput(asInputHandle(watched[i]), INPUT_READ);
  if (failed > 0) {
    char path[4200];
    helpPageLocation(path, sizeof path);
    showStatus(helpNotOpenedText(path));
  }
  return 1;
}

long QuarnWindow::onCmdSecuredMessages(FXObject*, FXSelector, void*) {
  ConverterLinkState& link = link_.records().state;
  link.securedMessages = link.linkMode == LinkMode::wired ? !link.securedMessages : true;
  return 1;
}
