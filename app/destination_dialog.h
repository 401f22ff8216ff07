// "Choose destination meter": asks which device slot a heard meter goes to.
#pragma once
#include <fx.h>

// Runs the modal dialog under the mouse pointer. Returns the chosen slot index 0..3
// after "OK", or -1 after "Cancel" or close.
int runDestinationDialog(FXWindow* owner);
