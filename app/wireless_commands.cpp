// "Find converter" and the wireless partner choice.
#include "app/connection_choice.h"
#include "app/partner_dialog.h"
#include "app/quarn_window.h"

long QuarnWindow::onCmdFindConverter(FXObject*, FXSelector, void*) {
  if (link_.records().state.linkMode == LinkMode::wired) {
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
  const HeardConverterList shown = link_.records().heard;
  if (const std::optional<int> chosen = runPartnerDialog(this, shown)) link_.choosePartner(shown.entries[*chosen]);
}
