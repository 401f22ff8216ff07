// Settings files to and from the settings fields and the option record: the one mapping
// quarn-cli and the window share.
#pragma once
#include <string>

#include "converter/option_bits.h"
#include "converter/settings_view.h"
#include "settings/settings_file.h"

// Each option byte as on (non-zero) or off.
void optionBitsOf(const ConverterOptions& options, bool bits[optionCount]);

// True when every text of the slot is empty and "Active" is clear; the lists do not count.
bool slotBlank(const SlotFields& fields);

// The fields as a file holds them: every slot that is not blank, checked and normalised as a
// file's are (a short Device ID padded as Set Data pads it), the wired lists, and the option
// bits when known. Fails at the first field a file cannot hold, error "slot N: field: reason";
// settings is then unspecified.
bool settingsFromView(SettingsView& view, const ConverterOptions& options, SettingsFile& settings,
                      std::string& error);

// Puts what the file holds into the fields and the option record; sections the file lacks
// keep what they hold. Sends nothing.
void settingsToView(const SettingsFile& settings, SettingsView& view, ConverterOptions& options);

// The fields and option bits to a settings file at path (written privately, replaced whole).
// Errors name the slot and field, or begin with the path.
bool saveSettingsFile(const std::string& path, SettingsView& view, const ConverterOptions& options,
                      std::string& error);

// A settings file into the fields and the option record; nothing changes when it is refused.
bool loadSettingsFile(const std::string& path, SettingsView& view, ConverterOptions& options, std::string& error);
