// The About box: icon, version, purpose and the connection in use.
#pragma once
#include <fx.h>

constexpr const char* quarnVersionText = "Quarn v1.3.0";

// Runs the modal box under the mouse cursor until "OK" or Escape; the connection text is
// shown as given (never formatted again), its CR LF line ends drawn as plain line breaks.
void runAboutDialog(FXWindow* owner, FXIcon* icon, const FXString& connectionText);
