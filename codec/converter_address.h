// The converter's link address over the air: how Quarn addresses it and knows its frames.
#pragma once
#include <cstdint>

constexpr uint8_t converterRadioManufacturer[2] = {0x8F, 0x19};
constexpr uint8_t converterDeviceType = 0x36;

// address: 8 bytes in radio order (manufacturer 2, identification 4, version, device type).
inline bool isConverterRadioAddress(const uint8_t* address) {
  return address[0] == converterRadioManufacturer[0] && address[1] == converterRadioManufacturer[1] &&
         address[7] == converterDeviceType;
}
