// AES-128 block cipher (FIPS-197, encrypt direction only), key expansion, CBC and ECB.
#include "crypto/aes.h"

#include <cstring>

uint8_t aesChainingBlock[aesBlockSize] = {};

namespace {

constexpr int aesRounds = 10;
constexpr int aesKeyWords = 4;
constexpr int aesScheduleWords = 4 * (aesRounds + 1);
constexpr uint8_t gfReduction = 0x1B;  // x^8 = x^4 + x^3 + x + 1

const uint8_t sBox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

// Round constants for rounds 1 to 10.
const uint8_t roundConstants[aesRounds] = {0x01, 0x02, 0x04, 0x08, 0x10,
                                           0x20, 0x40, 0x80, 0x1B, 0x36};

uint8_t times2(uint8_t value) {
  const bool topBit = (value & 0x80) != 0;
  uint8_t doubled = static_cast<uint8_t>(value << 1);
  if (topBit) doubled ^= gfReduction;
  return doubled;
}

uint8_t times3(uint8_t value) { return static_cast<uint8_t>(times2(value) ^ value); }

void addRoundKey(uint8_t state[aesBlockSize], const AesKeySchedule& schedule, int round) {
  const uint8_t* roundKey = schedule.bytes + round * aesBlockSize;
  for (size_t i = 0; i < aesBlockSize; ++i) state[i] ^= roundKey[i];
}

void subBytes(uint8_t state[aesBlockSize]) {
  for (size_t i = 0; i < aesBlockSize; ++i) state[i] = sBox[state[i]];
}

// Byte i sits in row i % 4, column i / 4; row r moves r columns to the left.
void shiftRows(uint8_t state[aesBlockSize]) {
  uint8_t shifted[aesBlockSize];
  for (int column = 0; column < 4; ++column) {
    for (int row = 0; row < 4; ++row) {
      shifted[column * 4 + row] = state[((column + row) % 4) * 4 + row];
    }
  }
  std::memcpy(state, shifted, aesBlockSize);
}

void mixColumns(uint8_t state[aesBlockSize]) {
  for (int column = 0; column < 4; ++column) {
    uint8_t* c = state + column * 4;
    const uint8_t a0 = c[0], a1 = c[1], a2 = c[2], a3 = c[3];
    c[0] = static_cast<uint8_t>(times2(a0) ^ times3(a1) ^ a2 ^ a3);
    c[1] = static_cast<uint8_t>(a0 ^ times2(a1) ^ times3(a2) ^ a3);
    c[2] = static_cast<uint8_t>(a0 ^ a1 ^ times2(a2) ^ times3(a3));
    c[3] = static_cast<uint8_t>(times3(a0) ^ a1 ^ a2 ^ times2(a3));
  }
}

}  // namespace

void aesExpandKey(const uint8_t key[aesKeySize], AesKeySchedule& schedule) {
  uint8_t* words = schedule.bytes;
  std::memcpy(words, key, aesKeySize);
  for (int i = aesKeyWords; i < aesScheduleWords; ++i) {
    uint8_t temp[4];
    std::memcpy(temp, words + (i - 1) * 4, 4);
    if (i % aesKeyWords == 0) {
      const uint8_t first = temp[0];
      temp[0] = static_cast<uint8_t>(sBox[temp[1]] ^ roundConstants[i / aesKeyWords - 1]);
      temp[1] = sBox[temp[2]];
      temp[2] = sBox[temp[3]];
      temp[3] = sBox[first];
    }
    for (int b = 0; b < 4; ++b) {
      words[i * 4 + b] = static_cast<uint8_t>(words[(i - aesKeyWords) * 4 + b] ^ temp[b]);
    }
  }
}

int aesEncryptBlock(const uint8_t in[aesBlockSize], uint8_t out[aesBlockSize],
                    const AesKeySchedule& schedule) {
  uint8_t state[aesBlockSize];
  std::memcpy(state, in, aesBlockSize);
  addRoundKey(state, schedule, 0);
  for (int round = 1; round < aesRounds; ++round) {
    subBytes(state);
    shiftRows(state);
    mixColumns(state);
    addRoundKey(state, schedule, round);
  }
  subBytes(state);
  shiftRows(state);
  addRoundKey(state, schedule, aesRounds);
  std::memcpy(out, state, aesBlockSize);
  return 1;
}

void aesClearChainingBlock() { std::memset(aesChainingBlock, 0, aesBlockSize); }

// Callers pad to whole blocks. A trailing partial block is skipped rather than letting the
// 8-bit count wrap past zero and run off the end of the buffer.
void aesCbcEncrypt(uint8_t* buffer, uint8_t length, const AesKeySchedule& schedule) {
  const size_t blocks = length / aesBlockSize;
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t* block = buffer + b * aesBlockSize;
    for (size_t i = 0; i < aesBlockSize; ++i) block[i] ^= aesChainingBlock[i];
    aesEncryptBlock(block, block, schedule);
    std::memcpy(aesChainingBlock, block, aesBlockSize);
  }
}

void aesEcbEncrypt(uint8_t* buffer, uint8_t length, const uint8_t key[aesKeySize]) {
  aesClearChainingBlock();
  AesKeySchedule schedule;
  aesExpandKey(key, schedule);
  const size_t blocks = length / aesBlockSize;
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t* block = buffer + b * aesBlockSize;
    aesEncryptBlock(block, block, schedule);
  }
}
