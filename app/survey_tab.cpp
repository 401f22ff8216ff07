// The Survey tab: the table of heard meters written from survey rows, and "Use in slot N".
#include "app/survey_tab.h"

#include <cstring>
#include <string>

#include "converter/slot_data.h"
#include "link/survey_slot.h"
#include "codec/answer_wait.h"

namespace {

constexpr FXint framePadding = 4;
constexpr FXint surveyColumns = 12;
constexpr FXint surveyVisibleRows = 20;
constexpr const char* surveyHeaders[surveyColumns] = {
    "ID",    "Manuf.",  "Version", "Type",      "RSSI min/mean/max (dBm)", "Frames",
    "Scans", "Security", "Verdict", "Key entry", "Key check value",        "Planned slot"};
constexpr FXint surveyWidths[surveyColumns] = {90, 60, 60, 50, 180, 70, 60, 100, 100, 90, 120, 260};
enum SurveyColumn { frameColumn = 5, scanColumn = 6 };

constexpr const char* useSlotHint =
    "Fills the slot's Manuf. ID, Device ID, Version, Media and, when a listed key decrypts the meter, "
    "its Master Key. Nothing is sent until Set Data.";

FXString countText(unsigned long count) { return FXStringVal(static_cast<FXuint>(count)); }

}  // namespace

FXDEFMAP(SurveyTab) SurveyTabMap[] = {
    FXMAPFUNCS(SEL_COMMAND, SurveyTab::ID_USE_SLOT_1, SurveyTab::ID_USE_SLOT_4, SurveyTab::onCmdUseSlot),
    FXMAPFUNCS(SEL_UPDATE, SurveyTab::ID_USE_SLOT_1, SurveyTab::ID_USE_SLOT_4, SurveyTab::onUpdUseSlot),
    FXMAPFUNC(SEL_CHANGED, SurveyTab::ID_TABLE, SurveyTab::onChangedTable),
    FXMAPFUNC(SEL_COMMAND, SurveyTab::ID_TABS, SurveyTab::onCmdTabs),
    FXMAPFUNC(SEL_TIMEOUT, SurveyTab::ID_TIMER_PACE, SurveyTab::onTimeoutPace),
};

FXIMPLEMENT(SurveyTab, FXObject, SurveyTabMap, ARRAYNUMBER(SurveyTabMap))

SurveyTab::SurveyTab(FXTabBook* tabs, ConverterLink& link, SettingsView& view)
    : tabs_(tabs), link_(&link), view_(&view), rows_(new SurveyRows()) {
  page_ = tabs->numChildren() / 2;
  new FXTabItem(tabs, "Survey");
  FXVerticalFrame* page = new FXVerticalFrame(tabs, LAYOUT_FILL_X | LAYOUT_FILL_Y | FRAME_RAISED, 0, 0, 0, 0,
                                              framePadding, framePadding, framePadding, framePadding);
  tabs->setTarget(this);
  tabs->setSelector(ID_TABS);
  summary_ = new FXLabel(page, "No meters heard yet.", nullptr, LABEL_NORMAL | LAYOUT_FILL_X | JUSTIFY_LEFT);
  table_ = new FXTable(page, this, ID_TABLE, TABLE_READONLY | TABLE_NO_COLSELECT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  table_->setVisibleRows(surveyVisibleRows);
  table_->setVisibleColumns(surveyColumns);
  table_->setBackColor(FXRGB(255, 255, 255));
  table_->setCellColor(1, 0, FXRGB(240, 244, 255));
  table_->setCellColor(1, 1, FXRGB(240, 244, 255));
  table_->setRowHeaderWidth(0);
  resize(0);
  FXHorizontalFrame* buttons = new FXHorizontalFrame(page, LAYOUT_FILL_X);
  const char* labels[slotCount] = {"Use in slot 1", "Use in slot 2", "Use in slot 3", "Use in slot 4"};
  for (int s = 0; s < slotCount; ++s) new FXButton(buttons, labels[s], nullptr, this, ID_USE_SLOT_1 + s);
  new FXLabel(buttons, useSlotHint, nullptr, LABEL_NORMAL | LAYOUT_CENTER_Y);
}

SurveyTab::~SurveyTab() {
  if (tabs_ != nullptr) tabs_->getApp()->removeTimeout(this, ID_TIMER_PACE);
}

bool SurveyTab::showing() const { return tabs_->getCurrent() == page_; }

// Anything new to show: a frame heard, a meter added, a scan answered.
unsigned long long SurveyTab::changeCount() const {
  const LinkRecords& records = link_->records();
  unsigned long long count = records.meters.count + records.meters.framesNotListed + records.nearby.answers;
  const uint32_t listed = records.meters.count < heardMeterCapacity ? records.meters.count : heardMeterCapacity;
  for (uint32_t i = 0; i < listed; ++i) count += records.meters.entries[i].frames;
  return count;
}

void SurveyTab::linkWoke() {
  if (!showing() || changeCount() == shownChange_) return;
  if (logPaceChange(pace_, answerClockMs())) refresh();
  else armPace();
}

void SurveyTab::armPace() {
  const long long due = logPaceDueMs(pace_);
  if (due < 0) return;
  const long long left = due - answerClockMs();
  tabs_->getApp()->addTimeout(this, ID_TIMER_PACE, left > 0 ? static_cast<FXuint>(left) : 1u);
}

long SurveyTab::onTimeoutPace(FXObject*, FXSelector, void*) {
  if (logPaceDue(pace_, answerClockMs())) refresh();
  return 1;
}

long SurveyTab::onCmdTabs(FXObject*, FXSelector, void*) {
  if (showing()) refresh();
  return 1;
}

void SurveyTab::refresh() {
  logPaceShown(pace_, answerClockMs());
  tabs_->getApp()->removeTimeout(this, ID_TIMER_PACE);
  shownChange_ = changeCount();
  const LinkRecords& records = link_->records();
  // The selection follows its meter to wherever the sort puts it now.
  const FXint selected = table_->getCurrentRow();
  uint8_t selectedAddress[linkAddressBytes] = {};
  const bool keep = selected >= 0 && static_cast<size_t>(selected) < rows_->count;
  if (keep) std::memcpy(selectedAddress, rows_->rows[selected].address, linkAddressBytes);
  buildSurveyRows(records.meters, &records.nearby, records.meterKeys, *rows_);

  SlotFields slots[slotCount];
  for (int s = 0; s < slotCount; ++s) slots[s] = view_->readSlot(s);
  table_->killSelection(FALSE);
  resize(static_cast<FXint>(rows_->count));
  FXint reselect = -1;
  for (size_t r = 0; r < rows_->count; ++r) {
    writeRow(static_cast<FXint>(r), rows_->rows[r], slots);
    if (keep && std::memcmp(rows_->rows[r].address, selectedAddress, linkAddressBytes) == 0) reselect = FXint(r);
  }
  if (reselect >= 0) {
    table_->setCurrentItem(reselect, 0, FALSE);
    table_->selectRow(reselect, FALSE);
  }
  summary_->setText(FXStringFormat("Meters heard or scanned: %u. Scan answers: %u. Select a meter, then use it in a slot.",
                                   static_cast<unsigned>(rows_->count), static_cast<unsigned>(records.nearby.answers)));
}

// A new size clears the column headers and widths: set them again.
void SurveyTab::resize(FXint rowCount) {
  table_->setTableSize(rowCount, surveyColumns);
  for (FXint c = 0; c < surveyColumns; ++c) {
    table_->setColumnText(c, surveyHeaders[c]);
    table_->setColumnWidth(c, surveyWidths[c]);
  }
}

void SurveyTab::writeRow(FXint r, const SurveyRow& row, const SlotFields slots[]) {
  const SurveyRowTexts t = surveyRowTexts(row);
  const std::string mark = surveySlotMark(row, slots);
  const std::string* texts[surveyColumns] = {&t.id,       &t.manufacturer, &t.version, &t.type,
                                             &t.rssi,     nullptr,         nullptr,    &t.security,
                                             &t.verdict,  &t.keyEntry,     &t.kcv,     &mark};
  for (FXint c = 0; c < surveyColumns; ++c) {
    if (texts[c] != nullptr) table_->setItemText(r, c, texts[c]->c_str(), FALSE);
    const bool number = c == frameColumn || c == scanColumn;
    table_->setItemJustify(r, c, (number ? FXTableItem::RIGHT : FXTableItem::LEFT) | FXTableItem::CENTER_Y);
  }
  table_->setItemText(r, frameColumn, countText(row.frames), FALSE);
  table_->setItemText(r, scanColumn, countText(row.scans), FALSE);
}

long SurveyTab::onChangedTable(FXObject*, FXSelector, void*) {
  const FXint r = table_->getCurrentRow();
  if (r >= 0) table_->selectRow(r, FALSE);
  return 1;
}

long SurveyTab::onUpdUseSlot(FXObject* sender, FXSelector, void*) {
  const FXint r = table_->getCurrentRow();
  const bool usable = r >= 0 && static_cast<size_t>(r) < rows_->count;
  sender->handle(this, FXSEL(SEL_COMMAND, usable ? FXWindow::ID_ENABLE : FXWindow::ID_DISABLE), nullptr);
  return 1;
}

long SurveyTab::onCmdUseSlot(FXObject*, FXSelector sel, void*) {
  const int s = FXSELID(sel) - ID_USE_SLOT_1;
  const FXint r = table_->getCurrentRow();
  if (r < 0 || static_cast<size_t>(r) >= rows_->count) return 1;
  view_->writeSlot(s, slotFieldsFromSurvey(rows_->rows[r], link_->records().meterKeys, view_->readSlot(s)));
  refresh();  // the planned-slot column names the slot now
  return 1;
}
