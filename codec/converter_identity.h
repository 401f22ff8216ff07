// What the window shows once the converter's identity is known, wired or over the air.
#pragma once
#include <cstdint>
#include <string>

#include "codec/key_list.h"

// Texts for the "Converter ID" and "Converter Encryption Key" fields; a key text is only
// given when the converter key list knows the converter.
struct IdentityUpdate {
  bool idTextSet = false;
  std::string idText;
  bool keyTextSet = false;
  std::string keyText;
};

// Shown in place of the firmware version when the converter did not send one.
constexpr const char* unknownFirmwareText = "--.--";

// The version record's value as the "Converter ID" field shows it: high byte, ".", low byte.
void firmwareText(uint16_t version, char dest[8]);

// idMsbFirst: identification number as printed on the device; address: the 8 link-address
// bytes in the order the caller shows them; firmware: "%02X.%02X" text or unknownFirmwareText.
IdentityUpdate describeConverter(const uint8_t idMsbFirst[4], const uint8_t address[8],
                                 const char* firmware, const ConverterKeyList& keys);
