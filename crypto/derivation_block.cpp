// The 16-byte block whose CMAC under the converter key gives one message key.
#include <cstring>

#include "crypto/aes.h"

namespace {

constexpr size_t derivationCounterOffset = 1;
constexpr size_t derivationIdOffset = 5;
constexpr size_t derivationIdSize = 4;
constexpr size_t derivationFillOffset = 9;
constexpr uint8_t derivationFill = 0x07;

}  // namespace

void buildDerivationBlock(uint8_t block[aesBlockSize], uint8_t constant, const uint8_t id[4],
                          uint32_t counter) {
  block[0] = constant;
  for (size_t i = 0; i < 4; ++i) {
    block[derivationCounterOffset + i] = static_cast<uint8_t>(counter >> (8 * i));
  }
  std::memcpy(block + derivationIdOffset, id, derivationIdSize);
  std::memset(block + derivationFillOffset, derivationFill, aesBlockSize - derivationFillOffset);
}
