// The start-up dialogs that settle wired or wireless operation for the run.
#pragma once
#include <fx.h>

// The values the two radio buttons give the dialog's integer.
constexpr FXint connectionWireless = 0;
constexpr FXint connectionWired = 1;

// Runs "Select wired or wireless operation." under the cursor and returns the radio choice,
// however the dialog was closed.
FXint runConnectionDialog(FXWindow* owner);

// Runs "USB wireless MBUS dongle not found!" under the cursor; it has no result.
void runDongleNotFoundDialog(FXWindow* owner, FXIcon* icon);

// Where several sticks are plugged in: "Select the stick." lists them ("ZJ000042 on ttyACM0")
// and returns the index chosen, or -1 when the user cancelled.
FXint runStickChoiceDialog(FXWindow* owner, const FXString& choices);
