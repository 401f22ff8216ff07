// Identity texts shared by the wired answer handling and the wireless partner choice.
#include "codec/converter_identity.h"

#include <cstdio>
#include <cstring>

#include "text/hex_text.h"

void firmwareText(uint16_t version, char dest[8]) {
  std::snprintf(dest, 8, "%02X.%02X", unsigned(version >> 8), version & 0xFFu);
}

std::string serialNumberText(const ConverterIdentity& identity) {
  char serial[9];
  bytesToHexText(identity.serial, 4, serial);
  return serial;
}

std::string addressText(const ConverterIdentity& identity) {
  char id[17];
  bytesToHexText(identity.address, 8, id);
  return id;
}

IdentityUpdate describeConverter(const uint8_t idMsbFirst[4], const uint8_t address[8],
                                 const char* firmware, const ConverterKeyList& keys) {
  IdentityUpdate update;
  ConverterIdentity& identity = update.identity;
  identity.known = true;
  std::memcpy(identity.serial, idMsbFirst, 4);
  std::memcpy(identity.address, address, 8);
  identity.firmware = firmware;
  char text[96];
  std::snprintf(text, sizeof text, "SN: %s ID: %s FW: %s", serialNumberText(identity).c_str(),
                addressText(identity).c_str(), firmware);
  update.idTextSet = true;
  update.idText = text;

  if (keys.count > 0) {
    if (const ConverterKeyEntry* entry = findConverterKey(keys, idMsbFirst)) {
      char keyText[33];
      keyToHexText(entry->key, keyText);
      update.keyTextSet = true;
      update.keyText = keyText;
    }
  }
  return update;
}
