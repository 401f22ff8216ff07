// The wired poll timer and the commands of the "Wired connection options" menu.
#include "app/connection_choice.h"
#include "app/quarn_window.h"

bool QuarnWindow::wiredOperation() {
  if (state->link.linkMode == LinkMode::wired) return true;
  FXMessageBox::information(this, MBOX_OK, "Not a wired connection", "Please restart the tool for wired operation.");
  return false;
}

long QuarnWindow::onTimeoutWired(FXObject*, FXSelector, void*) {
  const unsigned long writesBefore = widgetWrites;
  {
    LogBatch batch(communicationLog);
    WiredAnswerRouter router(answerTargets, state->link, state->converterKeyList);
    wiredTick(wiredPort, state->linkFrame, *this, router);
  }
  const std::string lost = takeLostNotice(wiredPort);
  if (!lost.empty()) showStatus(lost);
  getApp()->addTimeout(this, ID_TIMER_WIRED, wiredPollMs);
  // "Handled" makes FOX refresh every widget; the log repaints itself, so only a tick that
  // wrote another widget asks for that.
  return widgetWrites != writesBefore ? 1 : 0;
}

long QuarnWindow::onCmdDisconnect(FXObject*, FXSelector, void*) {
  if (!wiredOperation()) return 1;
  closeWiredPort(wiredPort);
  FXMessageBox::information(this, MBOX_OK, "Information", "Wired connection to COM port [%s] disconnected.",
                            wiredPort.portName.c_str());
  showStatus("Not connected.");
  return 1;
}

long QuarnWindow::onCmdReconnect(FXObject*, FXSelector, void*) {
  if (!wiredOperation()) return 1;
  connectWired();
  FXMessageBox::information(this, MBOX_OK, "Information", "Wired connection to COM port [%s] reconnected.",
                            wiredPort.portName.c_str());
  return 1;
}

long QuarnWindow::onCmdSelectPort(FXObject*, FXSelector, void*) {
  if (!wiredOperation()) return 1;
  closeWiredPort(wiredPort);
  selectWiredPort();
  return 1;
}
