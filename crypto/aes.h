// AES-128 (FIPS-197) with CBC, ECB, CMAC (RFC 4493) and the key-derivation block; decryption
// only for checking meter keys.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t aesBlockSize = 16;
constexpr size_t aesKeySize = 16;

// The eleven round keys in order; round key 0 is the key itself.
struct AesKeySchedule {
  uint8_t bytes[176];
};

// CBC chaining value shared by the process: the IV of the next aesCbcEncrypt, which
// leaves its last ciphertext block here. ECB and CMAC set it to zero.
extern uint8_t aesChainingBlock[aesBlockSize];

void aesExpandKey(const uint8_t key[aesKeySize], AesKeySchedule& schedule);

// in and out may be the same buffer. Returns 1.
int aesEncryptBlock(const uint8_t in[aesBlockSize], uint8_t out[aesBlockSize],
                    const AesKeySchedule& schedule);

void aesClearChainingBlock();

// In place, whole 16-byte blocks only: a trailing partial block is left untouched.
// Length 0 changes nothing, not even the chaining block.
void aesCbcEncrypt(uint8_t* buffer, uint8_t length, const AesKeySchedule& schedule);

// In place, each whole block by itself; a trailing partial block is left untouched.
// Always sets the chaining block to zero.
void aesEcbEncrypt(uint8_t* buffer, uint8_t length, const uint8_t key[aesKeySize]);

// Full 16-byte AES-CMAC tag. A length of 0 (or less) never reads the message.
void aesCmac(const uint8_t key[aesKeySize], const uint8_t* message, int32_t length,
             uint8_t tag[aesBlockSize]);

// constant, counter (4 bytes least significant first), the 4 id bytes as given, seven 0x07.
void buildDerivationBlock(uint8_t block[aesBlockSize], uint8_t constant, const uint8_t id[4],
                          uint32_t counter);

// The inverse cipher with the same schedule as aesEncryptBlock. in and out may be the same
// buffer. Returns 1.
int aesDecryptBlock(const uint8_t in[aesBlockSize], uint8_t out[aesBlockSize],
                    const AesKeySchedule& schedule);

// CBC decryption of whole blocks from in to out (which may be the same buffer) with the given
// IV; a trailing partial block is left untouched. Uses no shared chaining block.
void aesCbcDecrypt(const uint8_t* in, uint8_t* out, size_t length, const uint8_t iv[aesBlockSize],
                   const AesKeySchedule& schedule);
