// The commands of the "Wired connection options" menu.
#include "app/connection_choice.h"
#include "app/quarn_window.h"

bool QuarnWindow::wiredOperation() {
  if (link_.records().state.linkMode == LinkMode::wired) return true;
  FXMessageBox::information(this, MBOX_OK, "Not a wired connection", "Please restart the tool for wired operation.");
  return false;
}

long QuarnWindow::onCmdDisconnect(FXObject*, FXSelector, void*) {
  if (!wiredOperation()) return 1;
  link_.disconnectWired();
  followLinks();
  FXMessageBox::information(this, MBOX_OK, "Information", "Wired connection to COM port [%s] disconnected.",
                            link_.wiredPortName().c_str());
  showStatus("Not connected.");
  return 1;
}

long QuarnWindow::onCmdReconnect(FXObject*, FXSelector, void*) {
  if (!wiredOperation()) return 1;
  // A port that did not open has said so in its error box and on the status line.
  if (!connectWired()) return 1;
  FXMessageBox::information(this, MBOX_OK, "Information", "Wired connection to COM port [%s] reconnected.",
                            link_.wiredPortName().c_str());
  return 1;
}

long QuarnWindow::onCmdSelectPort(FXObject*, FXSelector, void*) {
  if (!wiredOperation()) return 1;
  link_.disconnectWired();
  followLinks();
  selectWiredPort();
  return 1;
}
