// The dialog that picks the wireless partner among the converters heard.
#pragma once
#include <fx.h>

#include "link/heard_converters.h"

// Runs "Select wireless partner." under the cursor with one item per entry of heard, in list
// order. listBox names the list box while the dialog runs and is cleared afterwards. Returns
// the chosen entry's index, or -1 when the list was empty or the dialog was cancelled.
FXint runPartnerDialog(FXWindow* owner, const HeardConverterList& heard, FXListBox*& listBox);
