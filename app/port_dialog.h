// The dialog that picks the COM port of the wired connection.
#pragma once
#include <fx.h>

#include "serial/com_port_list.h"

// Runs "Select wired parameters." under the cursor with the ports' names in slot order,
// preselecting slot `preselect` when it is listed. Returns the current item when the dialog
// closed (0 for an empty list); however the dialog closes, the choice stands.
FXint runPortDialog(FXWindow* owner, const ComPortList& ports, int preselect);
