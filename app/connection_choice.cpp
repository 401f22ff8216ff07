// The choice between wired and wireless operation, made once at start.
#include "app/connection_choice.h"

#include "app/quarn_window.h"
#include "app/title_width.h"
#include "serial/dongle_frame.h"
#include "serial/dongle_link.h"
#include "text/printable_text.h"

namespace {

constexpr FXint choiceWidth = 240;
constexpr FXint choiceHeight = 140;
constexpr FXint dialogPadding = 10;
constexpr FXint dialogSpacing = 4;
constexpr FXint buttonSidePadding = 32;
constexpr FXuint titleAndBorder = DECOR_TITLE | DECOR_BORDER;

}  // namespace

FXint runConnectionDialog(FXWindow* owner) {
  FXint choice = connectionWireless;
  FXDataTarget choiceTarget(choice);
  const FXString title = "Select wired or wireless operation.";
  FXDialogBox dialog(owner, title, titleAndBorder, 0, 0, widthForTitle(owner->getApp(), title, choiceWidth),
                     choiceHeight, dialogPadding, dialogPadding, dialogPadding, dialogPadding,
                     dialogSpacing, dialogSpacing);
  FXVerticalFrame* frame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXGroupBox* group = new FXGroupBox(frame, "Connect using",
                                     GROUPBOX_NORMAL | FRAME_GROOVE | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  new FXRadioButton(group, "Wireless connection", &choiceTarget, FXDataTarget::ID_OPTION + connectionWireless);
  new FXRadioButton(group, "Wired connection", &choiceTarget, FXDataTarget::ID_OPTION + connectionWired);
  FXButton* ok = new FXButton(frame, "OK", nullptr, &dialog, FXDialogBox::ID_ACCEPT,
                              BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X,
                              0, 0, 0, 0, buttonSidePadding, buttonSidePadding);
  ok->setFocus();
  dialog.execute(PLACEMENT_CURSOR);
  return choice;  // whatever the radio buttons last set, also when the dialog was closed
}

void runDongleNotFoundDialog(FXWindow* owner, FXIcon* icon) {
  FXDialogBox dialog(owner, "USB wireless MBUS dongle not found!", titleAndBorder, 0, 0, 0, 0,
                     dialogPadding, dialogPadding, 0, 0, 0, 0);
  new FXLabel(&dialog, FXString::null, icon, LAYOUT_SIDE_LEFT | LAYOUT_CENTER_Y);
  FXVerticalFrame* right = new FXVerticalFrame(&dialog, LAYOUT_SIDE_RIGHT | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0,
                                               0, 0, dialogPadding, dialogPadding, dialogPadding, dialogPadding);
  new FXLabel(right, "A USB wireless MBUS dongle was not found!", nullptr, JUSTIFY_LEFT);
  new FXHorizontalSeparator(right, SEPARATOR_GROOVE | LAYOUT_FILL_X);
  new FXLabel(right, "\nA USB wireless MBUS dongle is needed to operate.\n\nWill revert to wired operation.\n",
              nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  new FXButton(right, "&OK", nullptr, &dialog, FXDialogBox::ID_ACCEPT,
               BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X, 0, 0, 0, 0,
               buttonSidePadding, buttonSidePadding);
  dialog.execute(PLACEMENT_CURSOR);
}

void QuarnWindow::showStatus(const std::string& text) {
  ++widgetWrites;
  statusLine->setNormalText(text.c_str());
  statusLine->setText(text.c_str());
}

void QuarnWindow::connectionChoice() {
  ConverterLinkState& link = state->link;
  link.linkMode = runConnectionDialog(this) == connectionWired ? LinkMode::wired : LinkMode::wireless;
  if (link.linkMode == LinkMode::wireless) {
    if (findDongle(state->dongleRecord, state->dongleLink) && dongleSession.open()) {
      showStatus("Connected via wireless dongle ID: [" + printableText(dongleSerial(state->dongleRecord).c_str()) + "]");
    } else {
      runDongleNotFoundDialog(this, bigIcon);
      link.linkMode = LinkMode::wired;
    }
  }
  // The links wake the window when their port is readable; nothing polls.
  if (link.linkMode == LinkMode::wired) {
    selectWiredPort();
  } else {
    link.securedMessages = true;
    commandChannel.answerWait = &dongleWatch.answerWait;
#ifndef _WIN32  // Windows has no udev events to watch; a lost stick is looked for periodically
    if (!watchingDevices && openDeviceMonitor(deviceMonitor)) {
      watchingDevices = true;
      getApp()->addInput(deviceMonitor.fd, INPUT_READ, this, ID_INPUT_DEVICES);
    }
#endif
    writeDongleStart();
  }
  followLinks();
}

void QuarnWindow::writeDongleStart() { dongleSession.writeStart(); }
