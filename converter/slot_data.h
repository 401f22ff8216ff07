// Device slots: the Get Data and Set Data commands and the Get Data answer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/command_codes.h"
#include "converter/settings_view.h"

class Log;
struct CommandChannel;

constexpr int slotCount = 4;
constexpr size_t slotRecordLength = 64;
constexpr size_t getDataLength = 4;

constexpr int protocolCount = 12;
constexpr int wiredModeCount = 10;
constexpr int wirelessModeCount = 8;  // the first eight entries of the mode table
constexpr int wiredAddressCount = 251;  // entries "0" to "250"
constexpr size_t deviceIdDigits = 8;

extern const char* const protocolEntries[protocolCount];
extern const char* const modeEntries[wiredModeCount];

// Reads the converter key text of the view into the link state; every command does
// this first.
void loadKeyFromView(SettingsView& view, CommandChannel& channel);

// True when an answer holds all `needed` bytes of its layout; otherwise logs that the answer
// (named by `kind`) is ignored.
bool answerLongEnough(const uint8_t* payload, size_t length, size_t needed, const char* kind,
                      Log& log);

// Prefixes a Device ID text shorter than 8 characters with "0" to 8 characters.
// Returns true when the text changed.
bool padDeviceIdText(std::string& text);

// "Wired Address" text as a byte: optional blanks and sign, then the leading decimal
// digits, taken modulo 256 (so "-1" is 255, "99999" is 159); no digits give 0.
uint8_t wiredAddressByte(const std::string& text);

// Manufacturer letters as the 16-bit code; characters missing from a short text count
// as "@", the letter with value 0.
uint16_t manufacturerCode(const std::string& letters);

// The 64-byte Set Data record of slot s from the fields as they stand (Device ID
// already padded). Only the first 8 Device ID digits, 2 Version and Media digits and
// 32 key digits count; missing bytes are 0.
void buildSlotRecord(int s, const SlotFields& fields, const WiredSettings& wired,
                     uint8_t record[slotRecordLength]);

// Returns 1 when sent, 0 for a slot index outside 0..3. setSlotData also sends nothing,
// returning 0 with a log line, when the wired address text comes to 251..255.
int getSlotData(int s, SettingsView& view, CommandChannel& channel);
int setSlotData(int s, SettingsView& view, CommandChannel& channel);

// Get Data answer (0F 35 92 ...). An answer shorter than 64 bytes, or with a slot
// index or list entry outside its list, changes nothing and logs a "<<< Ignored"
// line. Returns true when the fields were set.
bool applyGetDataAnswer(const uint8_t* payload, size_t length, SettingsView& view, Log& log);
