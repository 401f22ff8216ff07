// AES-128, CBC, ECB, CMAC and derivation blocks against published vectors and OpenSSL libcrypto.
#include <gtest/gtest.h>
// The Windows build has no OpenSSL to check against; there the published vectors stand alone.
#ifndef _WIN32
#define QUARN_OPENSSL_REFERENCE 1
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#endif

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "crypto/aes.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Block = std::array<uint8_t, aesBlockSize>;

Bytes fromHex(const std::string& hex) {
  Bytes out;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Block blockFromHex(const std::string& hex) {
  const Bytes bytes = fromHex(hex);
  Block block{};
  EXPECT_EQ(bytes.size(), aesBlockSize) << hex;
  std::memcpy(block.data(), bytes.data(), std::min(bytes.size(), aesBlockSize));
  return block;
}

Bytes chainingBlock() { return Bytes(aesChainingBlock, aesChainingBlock + aesBlockSize); }

void setChainingBlock(const uint8_t* value) { std::memcpy(aesChainingBlock, value, aesBlockSize); }

#ifdef QUARN_OPENSSL_REFERENCE
// ---- OpenSSL reference -------------------------------------------------------------------

Bytes opensslEncrypt(const EVP_CIPHER* cipher, const uint8_t* key, const uint8_t* iv,
                     const Bytes& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(plain.size() + aesBlockSize);
  int written = 0;
  int finalWritten = 0;
  bool ok = ctx != nullptr && EVP_EncryptInit_ex(ctx, cipher, nullptr, key, iv) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_EncryptUpdate(ctx, out.data(), &written, plain.data(),
                              static_cast<int>(plain.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx, out.data() + written, &finalWritten) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_TRUE(ok) << "OpenSSL encryption failed";
  out.resize(static_cast<size_t>(written + finalWritten));
  return out;
}

Bytes opensslEcb(const uint8_t* key, const Bytes& plain) {
  return opensslEncrypt(EVP_aes_128_ecb(), key, nullptr, plain);
}

Bytes opensslCbc(const uint8_t* key, const uint8_t* iv, const Bytes& plain) {
  return opensslEncrypt(EVP_aes_128_cbc(), key, iv, plain);
}

// One fetched CMAC implementation reused across calls; fetching per call is slow.
class OpensslCmac {
 public:
  OpensslCmac() : mac_(EVP_MAC_fetch(nullptr, "CMAC", nullptr)) {
    if (mac_ != nullptr) ctx_ = EVP_MAC_CTX_new(mac_);
  }
  ~OpensslCmac() {
    EVP_MAC_CTX_free(ctx_);
    EVP_MAC_free(mac_);
  }
  OpensslCmac(const OpensslCmac&) = delete;
  OpensslCmac& operator=(const OpensslCmac&) = delete;

  Bytes tag(const uint8_t* key, const uint8_t* message, size_t length) {
    char cipherName[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
        OSSL_PARAM_construct_end()};
    Bytes out(aesBlockSize);
    size_t outLength = 0;
    const bool ok = ctx_ != nullptr && EVP_MAC_init(ctx_, key, aesKeySize, params) == 1 &&
                    (length == 0 || EVP_MAC_update(ctx_, message, length) == 1) &&
                    EVP_MAC_final(ctx_, out.data(), &outLength, out.size()) == 1;
    EXPECT_TRUE(ok) << "OpenSSL CMAC failed";
    out.resize(outLength);
    return out;
  }

 private:
  EVP_MAC* mac_ = nullptr;
  EVP_MAC_CTX* ctx_ = nullptr;
};

#endif
// ---- Published vectors -------------------------------------------------------------------

// FIPS-197 Appendix C.1 (AES-128 example).
const char* const fipsC1Key = "000102030405060708090a0b0c0d0e0f";
const char* const fipsC1Plain = "00112233445566778899aabbccddeeff";
const char* const fipsC1Cipher = "69c4e0d86a7b0430d8cdb78070b4c55a";

// FIPS-197 Appendix A.1 (expansion of a 128-bit cipher key), words w0 to w43.
const char* const fipsA1Key = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const fipsA1Words[44] = {
    "2b7e1516", "28aed2a6", "abf71588", "09cf4f3c", "a0fafe17", "88542cb1", "23a33939",
    "2a6c7605", "f2c295f2", "7a96b943", "5935807a", "7359f67f", "3d80477d", "4716fe3e",
    "1e237e44", "6d7a883b", "ef44a541", "a8525b7f", "b671253b", "db0bad00", "d4d1c6f8",
    "7c839d87", "caf2b8bc", "11f915bc", "6d88a37a", "110b3efd", "dbf98641", "ca0093fd",
    "4e54f70e", "5f5fc9f3", "84a64fb2", "4ea6dc4f", "ead27321", "b58dbad2", "312bf560",
    "7f8d292f", "ac7766f3", "19fadc21", "28d12941", "575c006e", "d014f9a8", "c9ee2589",
    "e13f0cc8", "b6630ca6"};

// NIST SP 800-38A, F.2.1 CBC-AES128.Encrypt.
const char* const sp38aKey = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const sp38aIv = "000102030405060708090a0b0c0d0e0f";
const char* const sp38aPlain[4] = {
    "6bc1bee22e409f96e93d7e117393172a", "ae2d8a571e03ac9c9eb76fac45af8e51",
    "30c81c46a35ce411e5fbc1191a0a52ef", "f69f2445df4f9b17ad2b417be66c3710"};
const char* const sp38aCipher[4] = {
    "7649abac8119b246cee98e9b12e9197d", "5086cb9b507219ee95db113a917678b2",
    "73bed6b8e3c1743b7116e69e22229516", "3ff1caa1681fac09120eca307586e1a7"};

// RFC 4493 section 4, AES-CMAC examples 1 to 4.
const char* const rfc4493Key = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const rfc4493Message =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";
struct CmacExample {
  int32_t length;
  const char* tag;
};
void PrintTo(const CmacExample& example, std::ostream* os) { *os << "length " << example.length; }

const CmacExample rfc4493Examples[] = {
    {0, "bb1d6929e95937287fa37d129b756746"},
    {16, "070a16b46b4d4144f79bdd9dd04a287c"},
    {40, "dfa66747de9ae63030ca32611497c827"},
    {64, "51f0bebf7e3b9d92fc49741779363cfe"},
};

Bytes sp38aPlainBlocks(size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) {
    const Bytes b = fromHex(sp38aPlain[i]);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

Bytes sp38aCipherBlocks(size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) {
    const Bytes b = fromHex(sp38aCipher[i]);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// ---- Block cipher and key expansion ------------------------------------------------------

TEST(AesBlock, Fips197AppendixC1) {
  const Block key = blockFromHex(fipsC1Key);
  const Bytes plain = fromHex(fipsC1Plain);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  uint8_t out[aesBlockSize] = {};
  EXPECT_EQ(aesEncryptBlock(plain.data(), out, schedule), 1);
  EXPECT_EQ(Bytes(out, out + aesBlockSize), fromHex(fipsC1Cipher));
#ifdef QUARN_OPENSSL_REFERENCE
  EXPECT_EQ(fromHex(fipsC1Cipher), opensslEcb(key.data(), plain)) << "vector disagrees with OpenSSL";
#endif
}

TEST(AesBlock, InPlaceEncryptionAndDecryptionReadAllInputFirst) {
  const Block key = blockFromHex(fipsC1Key);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  Bytes buffer = fromHex(fipsC1Plain);
  EXPECT_EQ(aesEncryptBlock(buffer.data(), buffer.data(), schedule), 1);
  EXPECT_EQ(buffer, fromHex(fipsC1Cipher));
  // The inverse cipher, in place as well, gives the plaintext back.
  EXPECT_EQ(aesDecryptBlock(buffer.data(), buffer.data(), schedule), 1);
  EXPECT_EQ(buffer, fromHex(fipsC1Plain));
}

// SP 800-38A F.2.2 (CBC-AES128.Decrypt) is F.2.1 read backwards: four blocks in one call.
TEST(AesCbc, DecryptsSp800_38aVectorsWithoutTouchingTheChainingBlock) {
  const Block key = blockFromHex(sp38aKey);
  const Block iv = blockFromHex(sp38aIv);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  aesClearChainingBlock();
  const Bytes cipher = sp38aCipherBlocks(4);
  Bytes out(cipher.size());
  aesCbcDecrypt(cipher.data(), out.data(), cipher.size(), iv.data(), schedule);
  EXPECT_EQ(out, sp38aPlainBlocks(4));
  EXPECT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));
}

TEST(AesKeyExpansion, Fips197AppendixA1AllWords) {
  const Block key = blockFromHex(fipsA1Key);
  AesKeySchedule schedule;
  std::memset(schedule.bytes, 0xEE, sizeof schedule.bytes);
  aesExpandKey(key.data(), schedule);
  for (size_t word = 0; word < 44; ++word) {
    EXPECT_EQ(Bytes(schedule.bytes + word * 4, schedule.bytes + word * 4 + 4),
              fromHex(fipsA1Words[word]))
        << "w" << word;
  }
}

#ifdef QUARN_OPENSSL_REFERENCE
TEST(AesKeyExpansion, AppendixA1ScheduleEncryptsLikeOpenssl) {
  // A schedule that differs from the true one cannot match OpenSSL on these blocks, so this
  // ties the A.1 words above to an independent implementation.
  const Block key = blockFromHex(fipsA1Key);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  const Bytes plain = sp38aPlainBlocks(4);
  const Bytes expected = opensslEcb(key.data(), plain);
  for (size_t b = 0; b < 4; ++b) {
    uint8_t out[aesBlockSize];
    aesEncryptBlock(plain.data() + b * aesBlockSize, out, schedule);
    EXPECT_EQ(Bytes(out, out + aesBlockSize),
              Bytes(expected.begin() + static_cast<long>(b * aesBlockSize),
                    expected.begin() + static_cast<long>((b + 1) * aesBlockSize)))
        << "block " << b;
  }
}

#endif
TEST(AesKeyExpansion, RoundKeyZeroIsTheKey) {
  const Block key = blockFromHex(fipsC1Key);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  EXPECT_EQ(Bytes(schedule.bytes, schedule.bytes + aesKeySize), Bytes(key.begin(), key.end()));
}

// ---- CBC ---------------------------------------------------------------------------------

class AesCbcSp800_38a : public ::testing::TestWithParam<size_t> {};

TEST_P(AesCbcSp800_38a, BlocksInOneCall) {
  const size_t blocks = GetParam();
  const Block key = blockFromHex(sp38aKey);
  const Block iv = blockFromHex(sp38aIv);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  setChainingBlock(iv.data());
  Bytes buffer = sp38aPlainBlocks(blocks);
  aesCbcEncrypt(buffer.data(), static_cast<uint8_t>(buffer.size()), schedule);
  const Bytes expected = sp38aCipherBlocks(blocks);
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(chainingBlock(), fromHex(sp38aCipher[blocks - 1]));
#ifdef QUARN_OPENSSL_REFERENCE
  EXPECT_EQ(expected, opensslCbc(key.data(), iv.data(), sp38aPlainBlocks(blocks)))
      << "vector disagrees with OpenSSL";
#endif
}

INSTANTIATE_TEST_SUITE_P(TwoAndFour, AesCbcSp800_38a, ::testing::Values(size_t{2}, size_t{4}),
                         [](const ::testing::TestParamInfo<size_t>& param) {
                           return "Blocks" + std::to_string(param.param);
                         });

TEST(AesCbc, ConsecutiveCallsContinueOneChain) {
  const Block key = blockFromHex(sp38aKey);
  const Block iv = blockFromHex(sp38aIv);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);

  setChainingBlock(iv.data());
  Bytes whole = sp38aPlainBlocks(2);
  aesCbcEncrypt(whole.data(), 32, schedule);
  const Bytes chainAfterWhole = chainingBlock();

  setChainingBlock(iv.data());
  Bytes first = fromHex(sp38aPlain[0]);
  Bytes second = fromHex(sp38aPlain[1]);
  aesCbcEncrypt(first.data(), 16, schedule);
  aesCbcEncrypt(second.data(), 16, schedule);

  Bytes joined = first;
  joined.insert(joined.end(), second.begin(), second.end());
  EXPECT_EQ(joined, whole);
  EXPECT_EQ(chainingBlock(), chainAfterWhole);
  EXPECT_EQ(whole, sp38aCipherBlocks(2));
}

TEST(AesCbc, LengthZeroChangesNothing) {
  const Block key = blockFromHex(sp38aKey);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);
  const Block iv = blockFromHex(sp38aIv);
  setChainingBlock(iv.data());
  Bytes buffer = sp38aPlainBlocks(1);
  const Bytes before = buffer;
  aesCbcEncrypt(buffer.data(), 0, schedule);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(chainingBlock(), Bytes(iv.begin(), iv.end()));
}

TEST(AesCbc, ClearChainingBlockZeroes) {
  std::memset(aesChainingBlock, 0x5A, aesBlockSize);
  aesClearChainingBlock();
  EXPECT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));
}

// ---- ECB ---------------------------------------------------------------------------------

#ifdef QUARN_OPENSSL_REFERENCE
TEST(AesEcb, EncryptsEachBlockAndZeroesChainingBlock) {
  const Block key = blockFromHex(sp38aKey);
  std::memset(aesChainingBlock, 0xA5, aesBlockSize);
  Bytes buffer = sp38aPlainBlocks(4);
  const Bytes expected = opensslEcb(key.data(), buffer);
  aesEcbEncrypt(buffer.data(), static_cast<uint8_t>(buffer.size()), key.data());
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));
}

#endif
TEST(AesEcb, LengthZeroKeepsBytesButZeroesChainingBlock) {
  const Block key = blockFromHex(sp38aKey);
  std::memset(aesChainingBlock, 0xA5, aesBlockSize);
  Bytes buffer = sp38aPlainBlocks(1);
  const Bytes before = buffer;
  aesEcbEncrypt(buffer.data(), 0, key.data());
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));
}

#ifdef QUARN_OPENSSL_REFERENCE
// ---- Lengths that are not whole blocks ---------------------------------------------------

constexpr uint8_t guardByte = 0xC3;
constexpr size_t guardSize = 16;

class AesPartialLength : public ::testing::TestWithParam<uint8_t> {
 protected:
  // The buffer is exactly `length` bytes on the heap (the sanitizer build catches any access
  // past it) and is followed in a second copy by guard bytes that must survive.
  Bytes makePlain(uint8_t length) const {
    Bytes plain(length);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7 + 1);
    return plain;
  }
};

TEST_P(AesPartialLength, CbcProcessesOnlyWholeBlocks) {
  const uint8_t length = GetParam();
  const size_t whole = length / aesBlockSize * aesBlockSize;
  const Block key = blockFromHex(sp38aKey);
  const Block iv = blockFromHex(sp38aIv);
  AesKeySchedule schedule;
  aesExpandKey(key.data(), schedule);

  const Bytes plain = makePlain(length);
  Bytes expected = plain;
  const Bytes head(plain.begin(), plain.begin() + static_cast<long>(whole));
  const Bytes reference = opensslCbc(key.data(), iv.data(), head);
  std::copy(reference.begin(), reference.end(), expected.begin());

  Bytes exact = plain;
  setChainingBlock(iv.data());
  aesCbcEncrypt(exact.data(), length, schedule);
  EXPECT_EQ(exact, expected);
  const Bytes expectedChain = whole > 0 ? Bytes(reference.end() - aesBlockSize, reference.end())
                                        : Bytes(iv.begin(), iv.end());
  EXPECT_EQ(chainingBlock(), expectedChain);

  Bytes guarded = plain;
  guarded.insert(guarded.end(), guardSize, guardByte);
  setChainingBlock(iv.data());
  aesCbcEncrypt(guarded.data(), length, schedule);
  EXPECT_EQ(Bytes(guarded.begin(), guarded.begin() + length), expected);
  EXPECT_EQ(Bytes(guarded.begin() + length, guarded.end()), Bytes(guardSize, guardByte));
}

TEST_P(AesPartialLength, EcbProcessesOnlyWholeBlocks) {
  const uint8_t length = GetParam();
  const size_t whole = length / aesBlockSize * aesBlockSize;
  const Block key = blockFromHex(sp38aKey);

  const Bytes plain = makePlain(length);
  Bytes expected = plain;
  const Bytes reference =
      opensslEcb(key.data(), Bytes(plain.begin(), plain.begin() + static_cast<long>(whole)));
  std::copy(reference.begin(), reference.end(), expected.begin());

  Bytes exact = plain;
  std::memset(aesChainingBlock, 0xA5, aesBlockSize);
  aesEcbEncrypt(exact.data(), length, key.data());
  EXPECT_EQ(exact, expected);
  EXPECT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));

  Bytes guarded = plain;
  guarded.insert(guarded.end(), guardSize, guardByte);
  aesEcbEncrypt(guarded.data(), length, key.data());
  EXPECT_EQ(Bytes(guarded.begin(), guarded.begin() + length), expected);
  EXPECT_EQ(Bytes(guarded.begin() + length, guarded.end()), Bytes(guardSize, guardByte));
}

INSTANTIATE_TEST_SUITE_P(NotWholeBlocks, AesPartialLength,
                         ::testing::Values(uint8_t{1}, uint8_t{15}, uint8_t{17}, uint8_t{31},
                                           uint8_t{241}, uint8_t{255}),
                         [](const ::testing::TestParamInfo<uint8_t>& param) {
                           return "Length" + std::to_string(param.param);
                         });

#endif
// ---- CMAC --------------------------------------------------------------------------------

class AesCmacRfc4493 : public ::testing::TestWithParam<CmacExample> {};

TEST_P(AesCmacRfc4493, Example) {
  const CmacExample example = GetParam();
  const Block key = blockFromHex(rfc4493Key);
  const Bytes fullMessage = fromHex(rfc4493Message);
  // Exactly `length` bytes, so any read past the message shows up in the sanitizer build.
  Bytes message(fullMessage.begin(), fullMessage.begin() + example.length);
  const Bytes before = message;
  std::memset(aesChainingBlock, 0xA5, aesBlockSize);
  uint8_t tag[aesBlockSize] = {};
  aesCmac(key.data(), message.data(), example.length, tag);
  EXPECT_EQ(Bytes(tag, tag + aesBlockSize), fromHex(example.tag));
  EXPECT_EQ(message, before) << "message must stay unchanged";
  EXPECT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));

#ifdef QUARN_OPENSSL_REFERENCE
  OpensslCmac reference;
  EXPECT_EQ(fromHex(example.tag),
            reference.tag(key.data(), message.data(), static_cast<size_t>(example.length)))
      << "vector disagrees with OpenSSL";
#endif
}

INSTANTIATE_TEST_SUITE_P(Section4, AesCmacRfc4493, ::testing::ValuesIn(rfc4493Examples),
                         [](const ::testing::TestParamInfo<CmacExample>& param) {
                           return "Length" + std::to_string(param.param.length);
                         });

TEST(AesCmac, EmptyOrNegativeLengthNeverReadsMessage) {
  const Block key = blockFromHex(rfc4493Key);
  for (int32_t length : {0, -1, -16, INT32_MIN}) {
    uint8_t tag[aesBlockSize] = {};
    aesCmac(key.data(), nullptr, length, tag);
    EXPECT_EQ(Bytes(tag, tag + aesBlockSize), fromHex(rfc4493Examples[0].tag))
        << "length " << length;
  }
}

#ifdef QUARN_OPENSSL_REFERENCE
TEST(AesCmac, MessageKeyFromDerivationBlockMatchesOpenssl) {
  // The codec's use: the CMAC of a derivation block under the converter key.
  const Block converterKey = blockFromHex(fipsC1Key);
  const uint8_t id[4] = {0x78, 0x56, 0x34, 0x12};
  OpensslCmac reference;
  for (uint8_t constant : {0x00, 0x01, 0x10, 0x11}) {
    uint8_t block[aesBlockSize];
    buildDerivationBlock(block, constant, id, 0x00000102u);
    uint8_t messageKey[aesBlockSize];
    aesCmac(converterKey.data(), block, aesBlockSize, messageKey);
    EXPECT_EQ(Bytes(messageKey, messageKey + aesBlockSize),
              reference.tag(converterKey.data(), block, aesBlockSize))
        << "constant " << int(constant);
  }
}

#endif
// ---- Derivation block --------------------------------------------------------------------

struct DerivationCase {
  uint8_t constant;
  uint8_t id[4];
  uint32_t counter;
  const char* expected;
};

void PrintTo(const DerivationCase& c, std::ostream* os) { *os << c.expected; }

const DerivationCase derivationCases[] = {
    {0x10, {0x11, 0x22, 0x33, 0x44}, 0x01020304u, "10 04030201 11223344 07070707070707"},
    {0x00, {0x11, 0x22, 0x33, 0x44}, 0x00000000u, "00 00000000 11223344 07070707070707"},
    {0x01, {0xA0, 0xB1, 0xC2, 0xD3}, 0xFFFFFFFFu, "01 ffffffff a0b1c2d3 07070707070707"},
    {0x11, {0x00, 0x00, 0x00, 0x01}, 0x80000001u, "11 01000080 00000001 07070707070707"},
};

class DerivationBlock : public ::testing::TestWithParam<DerivationCase> {};

TEST_P(DerivationBlock, Layout) {
  const DerivationCase c = GetParam();
  uint8_t block[aesBlockSize];
  std::memset(block, 0xEE, sizeof block);
  buildDerivationBlock(block, c.constant, c.id, c.counter);
  EXPECT_EQ(Bytes(block, block + aesBlockSize), fromHex(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, DerivationBlock, ::testing::ValuesIn(derivationCases),
                         [](const ::testing::TestParamInfo<DerivationCase>& param) {
                           return "Case" + std::to_string(param.index);
                         });

#ifdef QUARN_OPENSSL_REFERENCE
// ---- Random inputs against OpenSSL -------------------------------------------------------

constexpr uint32_t differentialSeed = 0x51A7C0DEu;
constexpr int differentialRounds = 10000;
constexpr int maxCmacLength = 300;
constexpr size_t maxCipherBlocks = 15;  // 240 bytes, the largest 8-bit whole-block length

TEST(AesDifferential, MatchesOpensslOnRandomInputs) {
  std::mt19937 rng(differentialSeed);
  std::uniform_int_distribution<int> byteDist(0, 255);
  auto randomBytes = [&](size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(byteDist(rng));
    return out;
  };
  OpensslCmac cmacReference;

  for (int round = 0; round < differentialRounds; ++round) {
    SCOPED_TRACE("seed 0x" + [] {
      char text[16];
      std::snprintf(text, sizeof text, "%08X", differentialSeed);
      return std::string(text);
    }() + " round " + std::to_string(round));
    const Bytes key = randomBytes(aesKeySize);

    // CMAC: every length from 0 to 300 comes up many times.
    const int cmacLength = round % (maxCmacLength + 1);
    const Bytes message = randomBytes(static_cast<size_t>(cmacLength));
    uint8_t tag[aesBlockSize];
    aesCmac(key.data(), message.data(), cmacLength, tag);
    const Bytes expectedTag =
        cmacReference.tag(key.data(), message.data(), static_cast<size_t>(cmacLength));
    ASSERT_EQ(Bytes(tag, tag + aesBlockSize), expectedTag) << "CMAC length " << cmacLength;
    ASSERT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));

    // CBC with a random chaining value, lengths 0 to 240 in whole blocks.
    const size_t cbcLength = (static_cast<size_t>(round) % (maxCipherBlocks + 1)) * aesBlockSize;
    const Bytes iv = randomBytes(aesBlockSize);
    const Bytes cbcPlain = randomBytes(cbcLength);
    Bytes cbcBuffer = cbcPlain;
    AesKeySchedule schedule;
    aesExpandKey(key.data(), schedule);
    setChainingBlock(iv.data());
    aesCbcEncrypt(cbcBuffer.data(), static_cast<uint8_t>(cbcLength), schedule);
    const Bytes cbcExpected = opensslCbc(key.data(), iv.data(), cbcPlain);
    ASSERT_EQ(cbcBuffer, cbcExpected) << "CBC length " << cbcLength;
    ASSERT_EQ(chainingBlock(),
              cbcLength > 0 ? Bytes(cbcExpected.end() - aesBlockSize, cbcExpected.end()) : iv);
    Bytes decrypted(cbcLength);
    aesCbcDecrypt(cbcExpected.data(), decrypted.data(), cbcLength, iv.data(), schedule);
    ASSERT_EQ(decrypted, cbcPlain) << "CBC decryption length " << cbcLength;

    // ECB, lengths 0 to 240 in whole blocks, walking the other way.
    const size_t ecbLength =
        (maxCipherBlocks - static_cast<size_t>(round) % (maxCipherBlocks + 1)) * aesBlockSize;
    const Bytes ecbPlain = randomBytes(ecbLength);
    Bytes ecbBuffer = ecbPlain;
    aesEcbEncrypt(ecbBuffer.data(), static_cast<uint8_t>(ecbLength), key.data());
    ASSERT_EQ(ecbBuffer, opensslEcb(key.data(), ecbPlain)) << "ECB length " << ecbLength;
    ASSERT_EQ(chainingBlock(), Bytes(aesBlockSize, 0));
  }
}

#endif
}  // namespace
