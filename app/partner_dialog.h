// The dialog that picks the wireless partner among the converters heard.
#pragma once
#include <fx.h>

#include <optional>

#include "link/heard_converters.h"

// Runs "Select wireless partner." under the cursor with one item per entry of heard, in list
// order. Returns the chosen entry's index; none when the list was empty or the dialog was
// cancelled.
std::optional<int> runPartnerDialog(FXWindow* owner, const HeardConverterList& heard);
