// "Set converter options.": the modal dialog with the eight option check buttons.
#pragma once
#include <fx.h>

#include "converter/option_bits.h"

constexpr int optionDialogChecks = 8;

// Builds the dialog; its check buttons are published in checks (the window's
// optionChecks) for as long as the dialog lives, so answers arriving meanwhile can
// tick them. The destructor empties checks again.
//
// Bits not known (options.known false: nothing read, written or loaded) show unticked under a
// note that offers "Read", which sends readMessage to reader. A bit counts as seen once the
// bits are known, or once the user clicked its box; OK is enabled, and run() true, only when
// every bit was seen, so nothing the user never saw is written.
class OptionDialog : public FXObject {
  FXDECLARE(OptionDialog)
public:
  enum { ID_CHECK_FIRST = 1, ID_CHECK_LAST = ID_CHECK_FIRST + optionDialogChecks - 1, ID_OK, ID_NOTE };

  OptionDialog(FXWindow* owner, FXCheckButton* (&checks)[optionDialogChecks],
               const bool ticks[optionDialogChecks], const ConverterOptions& options, FXObject* reader,
               FXSelector readMessage);
  ~OptionDialog() override;
  OptionDialog(const OptionDialog&) = delete;
  OptionDialog& operator=(const OptionDialog&) = delete;

  // Runs the dialog under the mouse pointer; true for "OK" with every bit seen, false for
  // "Cancel", close, or bits left unseen.
  bool run();
  // Whether every bit is known or was set by the user.
  bool everyBitSeen() const;

  long onCmdCheck(FXObject*, FXSelector, void*);
  long onCmdOk(FXObject*, FXSelector, void*);
  long onUpdOk(FXObject*, FXSelector, void*);
  long onUpdNote(FXObject*, FXSelector, void*);

protected:
  OptionDialog() = default;  // for the metaclass only; builds nothing

private:
  FXDialogBox* box = nullptr;
  FXCheckButton** checks_ = nullptr;
  const ConverterOptions* options_ = nullptr;
  bool set_[optionDialogChecks] = {};
};

// The note's text while the bits are not known, and once an answer made them known.
extern const char* const optionsUnknownText;
extern const char* const optionsReadText;
