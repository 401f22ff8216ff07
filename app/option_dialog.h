// "Set converter options.": the modal dialog with the eight option check buttons.
#pragma once
#include <fx.h>

constexpr int optionDialogChecks = 8;

// Builds the dialog; its check buttons are published in checks (the window's
// optionChecks) for as long as the dialog lives, so answers arriving meanwhile can
// tick them. The destructor empties checks again.
class OptionDialog {
public:
  OptionDialog(FXWindow* owner, FXCheckButton* (&checks)[optionDialogChecks],
               const bool ticks[optionDialogChecks]);
  ~OptionDialog();
  OptionDialog(const OptionDialog&) = delete;
  OptionDialog& operator=(const OptionDialog&) = delete;

  // Runs the dialog under the mouse pointer; true for "OK", false for "Cancel" or close.
  bool run();

private:
  FXDialogBox box;
  FXCheckButton* (&checks_)[optionDialogChecks];
};
