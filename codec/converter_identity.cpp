// Identity texts shared by the wired answer handling and the wireless partner choice.
#include "codec/converter_identity.h"

#include <cstdio>

#include "text/hex_text.h"

void firmwareText(uint16_t version, char dest[8]) {
  std::snprintf(dest, 8, "%02X.%02X", unsigned(version >> 8), version & 0xFFu);
}

IdentityUpdate describeConverter(const uint8_t idMsbFirst[4], const uint8_t address[8],
                                 const char* firmware, const ConverterKeyList& keys) {
  IdentityUpdate update;
  char serial[9];
  bytesToHexText(idMsbFirst, 4, serial);
  char id[17];
  bytesToHexText(address, 8, id);
  char text[96];
  std::snprintf(text, sizeof text, "SN: %s ID: %s FW: %s", serial, id, firmware);
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
