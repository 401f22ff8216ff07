// The start-up dialogs that settle wired or wireless operation for the run.
#pragma once
#include <fx.h>

// The values the two radio buttons give the dialog's integer.
constexpr FXint connectionWireless = 0;
constexpr FXint connectionWired = 1;

// The receive timers: the wired poll re-arms every 200 ms; the dongle poll starts after 200 ms and
// then re-arms every 5 ms.
constexpr FXuint wiredPollMs = 200;
constexpr FXuint firstDonglePollMs = 200;
constexpr FXuint donglePollMs = 5;

// Runs "Select wired or wireless operation." under the cursor and returns the radio choice,
// however the dialog was closed.
FXint runConnectionDialog(FXWindow* owner);

// Runs "USB wireless MBUS dongle not found!" under the cursor; it has no result.
void runDongleNotFoundDialog(FXWindow* owner, FXIcon* icon);
