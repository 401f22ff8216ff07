// What the window shows once the converter's identity is known, wired or over the air.
#pragma once
#include <cstdint>
#include <string>

#include "codec/key_list.h"

// Shown in place of the firmware version when the converter did not send one.
constexpr const char* unknownFirmwareText = "--.--";

// The converter's identity as a record: the window formats it for its field, quarn-cli prints it.
struct ConverterIdentity {
  bool known = false;
  uint8_t serial[4] = {};   // identification number as printed on the device, most significant first
  uint8_t address[8] = {};  // the link address in the order the identity shows it
  uint16_t manufacturer = 0;
  uint8_t version = 0;
  std::string firmware;     // "%02X.%02X", or unknownFirmwareText when none was sent
  uint32_t counter = 0;     // the message counter the next request carries
};

// Hex texts of the record's serial number and address, as the "Converter ID" field shows them.
std::string serialNumberText(const ConverterIdentity& identity);
std::string addressText(const ConverterIdentity& identity);

// Texts for the "Converter ID" and "Converter Encryption Key" fields; a key text is only
// given when the converter key list knows the converter.
struct IdentityUpdate {
  ConverterIdentity identity;
  bool idTextSet = false;
  std::string idText;
  bool keyTextSet = false;
  std::string keyText;
};


// The version record's value as the "Converter ID" field shows it: high byte, ".", low byte.
void firmwareText(uint16_t version, char dest[8]);

// idMsbFirst: identification number as printed on the device; address: the 8 link-address
// bytes in the order the caller shows them; firmware: "%02X.%02X" text or unknownFirmwareText.
IdentityUpdate describeConverter(const uint8_t idMsbFirst[4], const uint8_t address[8],
                                 const char* firmware, const ConverterKeyList& keys);
