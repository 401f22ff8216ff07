// QuarnWindow's converter commands: Get/Set Data, Scan, option bits, Key find and the
// destination meter choice. Each handler picks the slot from its id and hands over to
// the converter logic.
#include "app/destination_dialog.h"
#include "app/option_dialog.h"
#include "app/quarn_window.h"
#include "converter/destination_meter.h"
#include "link/outcome_text.h"

static_assert(optionBitCount == optionCount, "one check button per option bit");

long QuarnWindow::onCmdConverterCommand(FXObject*, FXSelector sel, void*) {
  const FXint id = FXSELID(sel);
  // A job's requests and answers must not meet another command's.
  if (jobRunning_) {
    showStatus("A job is still running.");
    return 1;
  }
  bool sent = true;
  if (id >= ID_GET_DATA_1 && id <= ID_GET_DATA_4) {
    link_.getData(id - ID_GET_DATA_1);
  } else if (id >= ID_SET_DATA_1 && id <= ID_SET_DATA_4) {
    link_.setData(id - ID_SET_DATA_1);
  } else if (id == ID_SCAN) {
    link_.scan();
  } else if (id == ID_GET_OPTIONS) {
    link_.readOptions();
  } else if (id == ID_SET_OPTIONS) {
    sent = writeOptionChecks();
  }
  followLinks();  // a request sent arms its answer's bound
  // The log tab may not be the one shown: a request that did not leave is said where it is seen.
  if (sent && link_.settled()) showStatus(outcomeText(link_.commandName(), link_.outcome()));
  return 1;
}

// Writes what the option dialog's checks show. Without the dialog there is nothing the
// user has confirmed, so nothing is sent (false).
bool QuarnWindow::writeOptionChecks() {
  if (!optionDialogOpen()) return false;
  bool ticks[optionCount];
  for (int i = 0; i < optionCount; ++i) ticks[i] = optionChecks[i]->getCheck() == TRUE;
  link_.writeOptions(ticks);
  return true;
}

long QuarnWindow::onCmdOptionBits(FXObject*, FXSelector, void*) {
  if (optionDialogOpen()) return 1;  // one option dialog at a time
  handle(this, FXSEL(SEL_COMMAND, ID_GET_OPTIONS), nullptr);
  bool ticks[optionCount];
  optionChecksForDialog(link_.records().options, ticks);
  OptionDialog dialog(this, optionChecks, ticks, link_.records().options, this, ID_GET_OPTIONS);
  if (dialog.run()) handle(this, FXSEL(SEL_COMMAND, ID_SET_OPTIONS), nullptr);
  return 1;
}

long QuarnWindow::onCmdKeyFind(FXObject*, FXSelector sel, void*) {
  const int s = FXSELID(sel) - ID_KEY_FIND_1;
  const bool found = link_.keyFind(s);
  showStatus(keyFindText(found, readSlot(s).deviceId));
  return 1;
}

long QuarnWindow::onDblClickNearby(FXObject*, FXSelector, void* ptr) {
  const FXTablePos* position = static_cast<const FXTablePos*>(ptr);
  const FXint row = position != nullptr ? position->row : nearbyTable->getCurrentRow();
  const int s = runDestinationDialog(this);
  if (s >= 0) chooseDestinationMeter(row, s, *this, *this);
  return 1;
}
