// The About box.
#include "app/about_dialog.h"

namespace {
constexpr FXint aboutSidePadding = 10;
constexpr FXint aboutTextPadding = 10;
constexpr FXint okPadX = 32;
constexpr FXint okPadY = 2;
}  // namespace

void runAboutDialog(FXWindow* owner, FXIcon* icon, const FXString& connectionText) {
  FXDialogBox about(owner, "About Quarn", DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0,
                    aboutSidePadding, aboutSidePadding, 0, 0, 0, 0);
  new FXLabel(&about, FXString::null, icon,
              FRAME_GROOVE | LAYOUT_SIDE_LEFT | LAYOUT_CENTER_Y | JUSTIFY_CENTER_X | JUSTIFY_CENTER_Y);
  FXVerticalFrame* side =
      new FXVerticalFrame(&about, LAYOUT_SIDE_RIGHT | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0,
                          aboutTextPadding, aboutTextPadding, aboutTextPadding, aboutTextPadding, 0, 0);
  new FXLabel(side, quarnVersionText, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X);
  new FXHorizontalSeparator(side, SEPARATOR_GROOVE | LAYOUT_FILL_X);
  new FXLabel(side, "\nQuarn\nTool to configure a M-Bus converter dongle.", nullptr,
              JUSTIFY_LEFT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  new FXHorizontalSeparator(side, SEPARATOR_GROOVE | LAYOUT_FILL_X);
  // The text is written with Windows line ends; X11 fonts would draw each CR as a box.
  FXString shown(connectionText);
  shown.substitute("\r\n", "\n");
  new FXLabel(side, shown, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXButton* ok = new FXButton(side, "&OK", nullptr, &about, FXDialogBox::ID_ACCEPT,
                              BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X,
                              0, 0, 0, 0, okPadX, okPadX, okPadY, okPadY);
  ok->setFocus();
  about.execute(PLACEMENT_CURSOR);
}
