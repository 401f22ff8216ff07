// AES-CMAC (RFC 4493) built on single-block ECB calls with the raw key.
#include <cstring>

#include "crypto/aes.h"

namespace {

constexpr uint8_t cmacRb = 0x87;       // reduction constant for 128-bit blocks
constexpr uint8_t cmacPadByte = 0x80;  // first padding byte of an incomplete last block

// Shift left by one bit as a big-endian 128-bit number; fold the lost top bit back in.
void doubleSubkey(const uint8_t in[aesBlockSize], uint8_t out[aesBlockSize]) {
  const bool topBit = (in[0] & 0x80) != 0;
  for (size_t i = 0; i < aesBlockSize; ++i) {
    const uint8_t carry = (i + 1 < aesBlockSize) ? static_cast<uint8_t>(in[i + 1] >> 7) : 0;
    out[i] = static_cast<uint8_t>((in[i] << 1) | carry);
  }
  if (topBit) out[aesBlockSize - 1] ^= cmacRb;
}

// X = E(X xor block)
void cmacAbsorb(const uint8_t key[aesKeySize], uint8_t x[aesBlockSize],
                const uint8_t block[aesBlockSize]) {
  for (size_t i = 0; i < aesBlockSize; ++i) x[i] ^= block[i];
  aesEcbEncrypt(x, static_cast<uint8_t>(aesBlockSize), key);
}

}  // namespace

void aesCmac(const uint8_t key[aesKeySize], const uint8_t* message, int32_t length,
             uint8_t tag[aesBlockSize]) {
  // A negative length counts as an empty message, so the message is never touched.
  const size_t messageLength = length > 0 ? static_cast<size_t>(length) : 0;

  uint8_t subkeyL[aesBlockSize] = {};
  aesEcbEncrypt(subkeyL, static_cast<uint8_t>(aesBlockSize), key);
  uint8_t k1[aesBlockSize];
  uint8_t k2[aesBlockSize];
  doubleSubkey(subkeyL, k1);
  doubleSubkey(k1, k2);

  const size_t blockCount = (messageLength + aesBlockSize - 1) / aesBlockSize;
  const bool lastComplete = blockCount > 0 && messageLength % aesBlockSize == 0;
  const size_t leadingBlocks = blockCount > 0 ? blockCount - 1 : 0;

  uint8_t lastBlock[aesBlockSize] = {};
  const size_t lastOffset = leadingBlocks * aesBlockSize;
  const size_t lastLength = messageLength - lastOffset;
  if (lastLength > 0) std::memcpy(lastBlock, message + lastOffset, lastLength);
  if (lastComplete) {
    for (size_t i = 0; i < aesBlockSize; ++i) lastBlock[i] ^= k1[i];
  } else {
    lastBlock[lastLength] = cmacPadByte;
    for (size_t i = 0; i < aesBlockSize; ++i) lastBlock[i] ^= k2[i];
  }

  uint8_t x[aesBlockSize] = {};
  for (size_t b = 0; b < leadingBlocks; ++b) cmacAbsorb(key, x, message + b * aesBlockSize);
  cmacAbsorb(key, x, lastBlock);
  std::memcpy(tag, x, aesBlockSize);
}
