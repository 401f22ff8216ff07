// The heard-converter list and the wireless partner choice.
#include "link/heard_converters.h"

#include <cstring>

#include "dongle/dongle_frame.h"
#include "text/bytes.h"
#include "text/hex_text.h"

void recordHeardConverter(HeardConverterList& list, const uint8_t address[8], uint32_t counter,
                          uint16_t version) {
  if (list.count < 0 || list.count > heardConverterCapacity) list.count = 0;
  for (int i = 0; i < list.count; ++i) {
    if (std::memcmp(list.entries[i].address, address, 8) == 0) {
      list.entries[i].counter = counter;
      return;
    }
  }
  if (list.count == heardConverterCapacity) {
    std::memmove(&list.entries[0], &list.entries[1],
                 sizeof(HeardConverter) * (heardConverterCapacity - 1));
    list.count = heardConverterCapacity - 1;
  }
  HeardConverter& entry = list.entries[list.count++];
  std::memcpy(entry.address, address, 8);
  entry.counter = counter;
  entry.version = version;
}

void partnerLabel(const HeardConverter& entry, char text[9]) {
  idToHexText(entry.address + 2, text);
}

IdentityUpdate choosePartner(HeardConverter entry, ConverterLinkState& link,
                             const ConverterKeyList& keys, uint8_t frame[partnerFrameSize]) {
  const uint8_t* a = entry.address;
  char firmware[8];
  firmwareText(entry.version, firmware);
  const uint8_t idMsbFirst[4] = {a[5], a[4], a[3], a[2]};
  IdentityUpdate update = describeConverter(idMsbFirst, a, firmware, keys);
  update.identity.manufacturer = uint16_t(a[0] | a[1] << 8);
  update.identity.version = a[6];

  // Long-header order: identification, manufacturer, version, device type.
  const uint8_t longOrder[8] = {a[2], a[3], a[4], a[5], a[0], a[1], a[6], a[7]};
  std::memcpy(link.converterAddress, longOrder, 8);
  link.messageCounter = entry.counter;

  buildDongleFrame(dongleCodePartner, a, 8, frame, partnerFrameSize);
  return update;
}
