// The dongle poll timer, "Find converter" and the wireless partner choice.
#include "app/connection_choice.h"
#include "app/partner_dialog.h"
#include "app/quarn_window.h"
#include "serial/dongle_frame.h"

long QuarnWindow::onTimeoutDongle(FXObject*, FXSelector, void*) {
  const unsigned long writesBefore = widgetWrites;
  {
    LogBatch batch(communicationLog);
    DongleAnswerRouter router(answerTargets);
    dongleTick(state->dongleLink, state->link, state->heardConverters, *this, router, &dongleWatch);
  }
  const std::string lost = takeLostNotice(dongleWatch);
  if (!lost.empty()) showStatus(lost);
  getApp()->addTimeout(this, ID_TIMER_DONGLE, donglePollMs);
  // "Handled" makes FOX refresh every widget, 200 times a second at this rate; the log
  // repaints itself, so only a tick that wrote another widget asks for that.
  return widgetWrites != writesBefore ? 1 : 0;
}

long QuarnWindow::onCmdFindConverter(FXObject*, FXSelector, void*) {
  if (state->link.linkMode == LinkMode::wired) {
    connectWired();
    return 1;
  }
  writeDongleStart();
  partnerDialog();
  return 1;
}

void QuarnWindow::partnerDialog() {
  // The entries as listed when the dialog is built: the poll keeps recording while it is open
  // and a full list rolls, so an index into the live list could name another converter.
  const HeardConverterList shown = state->heardConverters;
  const FXint chosen = runPartnerDialog(this, shown, partnerList);
  if (chosen < 0) return;
  uint8_t frame[partnerFrameSize];
  showIdentity(choosePartner(shown.entries[chosen], state->link, state->converterKeyList, frame), *this);
  writeDongleFrame(state->dongleLink, frame, sizeof frame);
}
