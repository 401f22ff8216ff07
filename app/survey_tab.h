// The "Survey" tab: every meter the stick heard and the converter's scans named, with signal,
// frames and key verdict, and "Use in slot N" to put one in a device slot.
#pragma once
#include <fx.h>

#include <memory>

#include "converter/settings_view.h"
#include "link/converter_link.h"
#include "link/survey_rows.h"
#include "text/log_pace.h"

class SurveyTab : public FXObject {
  FXDECLARE(SurveyTab)

public:
  enum {
    ID_USE_SLOT_1 = 1,
    ID_USE_SLOT_4 = ID_USE_SLOT_1 + 3,
    ID_TABLE,
    ID_TABS,        // the tab book shows another page
    ID_TIMER_PACE,  // a held refresh is due
    ID_LAST
  };

  // Adds the tab and its page to tabs (the tab book's target becomes this tab); the meters come
  // from link's records, the slots are read and written through view.
  SurveyTab(FXTabBook* tabs, ConverterLink& link, SettingsView& view);
  ~SurveyTab() override;

  // A link wake-up may have brought frames or a scan answer: refresh the table when it shows
  // and something changed, at most at the log's pace.
  void linkWoke();
  // Rebuilds the rows and writes the table now.
  void refresh();

  FXTable* table() const { return table_; }
  bool showing() const;

  long onCmdUseSlot(FXObject*, FXSelector, void*);
  long onUpdUseSlot(FXObject*, FXSelector, void*);
  long onChangedTable(FXObject*, FXSelector, void*);
  long onCmdTabs(FXObject*, FXSelector, void*);
  long onTimeoutPace(FXObject*, FXSelector, void*);

protected:
  SurveyTab() = default;  // for the metaclass only

private:
  FXTabBook* tabs_ = nullptr;
  FXint page_ = 0;  // this tab's index in the tab book
  FXTable* table_ = nullptr;
  FXLabel* summary_ = nullptr;
  ConverterLink* link_ = nullptr;
  SettingsView* view_ = nullptr;
  std::unique_ptr<SurveyRows> rows_;  // as the table shows them
  unsigned long long shownChange_ = 0;
  LogPace pace_;

  unsigned long long changeCount() const;
  void writeRow(FXint r, const SurveyRow& row, const SlotFields slots[]);
  void armPace();
  void resize(FXint rowCount);
};
