// The simulator's cryptography, all of it from OpenSSL's libcrypto.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t simKeySize = 16;
constexpr size_t simBlockSize = 16;

// Full 16-byte AES-128-CMAC tag of data under key. Returns false when OpenSSL fails.
bool simCmac(const uint8_t key[simKeySize], const uint8_t* data, size_t n, uint8_t tag[16]);

// Message key: CMAC under the converter key of the block
// constant, counter (LSB first), 4 identification bytes, seven 0x07.
bool simDeriveKey(const uint8_t converterKey[simKeySize], uint8_t constant, const uint8_t id[4],
                  uint32_t counter, uint8_t out[simKeySize]);

// AES-128-CBC with a zero IV and no padding; n must be a multiple of 16.
bool simCbcDecrypt(const uint8_t key[simKeySize], const uint8_t* in, size_t n, uint8_t* out);
bool simCbcEncrypt(const uint8_t key[simKeySize], const uint8_t* in, size_t n, uint8_t* out);

// The same with the given IV (a meter's mode 5 IV).
bool simCbcEncryptIv(const uint8_t key[simKeySize], const uint8_t iv[simBlockSize], const uint8_t* in, size_t n,
                     uint8_t* out);
