// The choice between wired and wireless operation, made once at start.
#include "app/connection_choice.h"

#include "app/title_width.h"

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

FXint runStickChoiceDialog(FXWindow* owner, const FXString& choices) {
  return FXChoiceBox::ask(owner, DECOR_TITLE | DECOR_BORDER, "Select the stick.",
                          "More than one USB wireless MBUS dongle is plugged in.\nWhich one should Quarn use?",
                          nullptr, choices);
}
