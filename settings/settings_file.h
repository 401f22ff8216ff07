// Settings files: a converter's four slots, wired settings and option bits as versioned JSON,
// shared by quarn-cli and the window.
#pragma once
#include <cstddef>
#include <string>

#include "converter/option_bits.h"
#include "converter/settings_view.h"
#include "converter/slot_data.h"
#include "text/output_file.h"

constexpr int settingsFormatVersion = 1;
constexpr const char* settingsFormatName = "quarn-settings";
// Far above any real file (a full one is about 2 kB); larger files are refused unread.
constexpr size_t settingsFileByteLimit = 64 * 1024;

// Names of the option bits in files, in index order.
extern const char* const optionKeys[optionCount];

// What a file holds; each section is optional, and only what is present is written.
struct SettingsFile {
  bool slotPresent[slotCount] = {};
  SlotFields slots[slotCount];  // texts normalised: hex upper case, Device ID 8 digits
  bool wiredPresent = false;
  WiredSettings wired;
  bool optionsPresent = false;
  bool options[optionCount] = {};
};

// Parses and checks a whole file text. On failure error reads "<field path>: <reason>" (or
// just the reason for the text as a whole) and settings is left unspecified.
bool parseSettingsText(const std::string& text, SettingsFile& settings, std::string& error);

// Reads and parses a file; errors begin with the path. Refuses files over the byte limit and
// anything but a regular file before reading them.
bool readSettingsFile(const std::string& path, SettingsFile& settings, std::string& error);

// Reads a whole regular file of at most limit bytes into text; kind names it in the "too large"
// error ("settings file"). Errors begin with the path.
bool readBoundedTextFile(const std::string& path, size_t limit, const char* kind, std::string& text,
                         std::string& error);

// The file text: stable key order, two-space indent, a final line end.
std::string settingsText(const SettingsFile& settings);

// Writes the text to path with writePrivateTextFile (replaced whole, mode 0600: the slots hold
// keys; never over a file of reads).
bool writeSettingsFile(const std::string& path, const SettingsFile& settings, std::string& error,
                       const ReadFiles* reads = nullptr);

// One slot or wired field from command-line text ("active", "deviceId", "wiredProtocol", ...),
// checked as in a file; error names the field and the allowed values.
bool setSettingsField(const std::string& name, const std::string& value, SlotFields& slot,
                      WiredSettings& wired, std::string& error);

// Option bits as "10100000" (index order) or "name=0|1,..." on top of bits.
bool parseOptionBits(const std::string& text, bool bits[optionCount], std::string& error);
