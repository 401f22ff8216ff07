// Converters heard over the air, and the choice of one of them as the wireless partner.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/converter_identity.h"
#include "codec/key_list.h"
#include "codec/link_state.h"
#include "dongle/dongle_codes.h"

constexpr int heardConverterCapacity = 50;

struct HeardConverter {
  uint8_t address[8];  // radio order: manufacturer (2), identification (4, LSB first), version, type
  uint32_t counter;
  uint16_t version;    // firmware version: low byte first as received
};

// Keeps the order in which converters were first heard; when full the oldest goes.
struct HeardConverterList {
  HeardConverter entries[heardConverterCapacity];
  int32_t count;
};

// Adds a converter, or refreshes the counter of one already heard (its version stays).
void recordHeardConverter(HeardConverterList& list, const uint8_t address[8], uint32_t counter,
                          uint16_t version);

// The partner dialog's item: the identification number as printed on the device.
void partnerLabel(const HeardConverter& entry, char text[9]);

constexpr size_t partnerFrameSize = dongleFrameHeaderSize + 8;  // 01 08 00 and the 8 address bytes

// Makes the converter the partner: identity, counter, and the dongle frame telling it so.
// The entry is passed by value, so a list that rolls meanwhile cannot change the choice.
IdentityUpdate choosePartner(HeardConverter entry, ConverterLinkState& link,
                             const ConverterKeyList& keys, uint8_t frame[partnerFrameSize]);
