// Meter telegrams and key verdicts: telegrams built and encrypted by OpenSSL's libcrypto (CBC,
// CMAC key derivation), every verdict checked; bad telegrams and lines get a refusal, not a crash.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/heard_meters.h"
#include "codec/meter_key_check.h"
#include "codec/meter_telegram.h"
#include "codec/telegram_lines.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fromHex(const std::string& hex) {
  Bytes out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::string toHex(const Bytes& bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

// ---- the independent builder: OpenSSL does every cipher step ----------------------------

Bytes opensslCbc(const Bytes& key, const Bytes& iv, const Bytes& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(plain.size() + 16);
  int written = 0, last = 0;
  const bool ok = ctx != nullptr && EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_EncryptUpdate(ctx, out.data(), &written, plain.data(), int(plain.size())) == 1 &&
                  EVP_EncryptFinal_ex(ctx, out.data() + written, &last) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_TRUE(ok);
  out.resize(size_t(written + last));
  return out;
}

Bytes opensslCmac(const Bytes& key, const Bytes& message) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = mac != nullptr ? EVP_MAC_CTX_new(mac) : nullptr;
  char cipher[] = "AES-128-CBC";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                               OSSL_PARAM_construct_end()};
  Bytes tag(16);
  size_t length = 0;
  const bool ok = ctx != nullptr && EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 &&
                  EVP_MAC_update(ctx, message.data(), message.size()) == 1 &&
                  EVP_MAC_final(ctx, tag.data(), &length, tag.size()) == 1;
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  EXPECT_TRUE(ok);
  return tag;
}

// One block under a zero IV is the block cipher itself.
Bytes opensslKcv(const Bytes& key) {
  const Bytes block = opensslCbc(key, Bytes(16, 0), Bytes(16, 0));
  return Bytes(block.begin(), block.begin() + 3);
}

Bytes reversed(Bytes key) { return Bytes(key.rbegin(), key.rend()); }

// Meter KAM 12345678 version 0x1B, water (0x07), radio order.
const Bytes meterAddress = fromHex("2D2C 78563412 1B 07");
const Bytes keyA = fromHex("000102030405060708090A0B0C0D0E0F");
const Bytes keyB = fromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F");
const Bytes keyC = fromHex("11111111222222223333333344444444");
const Bytes keyD = fromHex("DEADBEEFDEADBEEFDEADBEEFDEADBEEF");

Bytes plainRecords(size_t blocks) {
  Bytes plain = fromHex("2F2F 0C13 78563412 046D 1A2B3C4D");
  while (plain.size() < blocks * 16) plain.push_back(0x2F);
  return plain;
}

// Mode 5: short header, IV = address then eight times the access number.
Bytes mode5(const Bytes& key, const Bytes& address = meterAddress, uint8_t access = 0x42, size_t blocks = 2) {
  Bytes t = {0x44};
  t.insert(t.end(), address.begin(), address.end());
  t.insert(t.end(), {0x7A, access, 0x00, uint8_t(blocks << 4), 0x05});
  Bytes iv(address);
  iv.insert(iv.end(), 8, access);
  const Bytes cipher = opensslCbc(key, iv, plainRecords(blocks));
  t.insert(t.end(), cipher.begin(), cipher.end());
  return t;
}

// Mode 7: AFL with message counter and MAC, short header with extension 0x10, key derived by
// CMAC from 00, counter, id, seven 07, zero IV.
Bytes mode7(const Bytes& key, uint32_t counter, bool withCounter = true) {
  const Bytes counterBytes = {uint8_t(counter), uint8_t(counter >> 8), uint8_t(counter >> 16), uint8_t(counter >> 24)};
  Bytes derivation = {0x00};
  derivation.insert(derivation.end(), counterBytes.begin(), counterBytes.end());
  derivation.insert(derivation.end(), meterAddress.begin() + 2, meterAddress.begin() + 6);
  derivation.insert(derivation.end(), 7, 0x07);
  const Bytes kenc = opensslCmac(key, derivation);
  Bytes t = {0x44};
  t.insert(t.end(), meterAddress.begin(), meterAddress.end());
  if (withCounter) {
    t.insert(t.end(), {0x90, 0x0F, 0x00, 0x2C, 0x25});
    t.insert(t.end(), counterBytes.begin(), counterBytes.end());
  } else {
    t.insert(t.end(), {0x90, 0x0B, 0x00, 0x24, 0x05});
  }
  t.insert(t.end(), 8, 0xAA);  // MAC, not checked
  t.insert(t.end(), {0x7A, 0x10, 0x00, 0x10, 0x07, 0x10});
  const Bytes cipher = opensslCbc(kenc, Bytes(16, 0), plainRecords(1));
  t.insert(t.end(), cipher.begin(), cipher.end());
  return t;
}

// Long header: link address of a repeater, the meter's own address in the header.
Bytes mode5Long(const Bytes& key) {
  const Bytes repeater = fromHex("A511 99887766 01 31");
  Bytes t = {0x44};
  t.insert(t.end(), repeater.begin(), repeater.end());
  t.push_back(0x72);
  t.insert(t.end(), {0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x1B, 0x07, 0x42, 0x00, 0x10, 0x05});
  Bytes iv(meterAddress);
  iv.insert(iv.end(), 8, 0x42);
  const Bytes cipher = opensslCbc(key, iv, plainRecords(1));
  t.insert(t.end(), cipher.begin(), cipher.end());
  return t;
}

struct KeyLine {
  const char* id;
  Bytes first;
  Bytes second;  // empty: the line has none
};

std::unique_ptr<MeterKeyList> keyList(const std::vector<KeyLine>& lines) {
  std::unique_ptr<MeterKeyList> list(new MeterKeyList());
  list->count = 0;
  for (const KeyLine& line : lines) {
    MeterKeyEntry& e = list->entries[list->count++];
    e = MeterKeyEntry{};
    const Bytes id = fromHex(line.id);
    std::memcpy(e.id, id.data(), 4);
    std::memcpy(e.firstKey, line.first.data(), 16);
    if (!line.second.empty()) std::memcpy(e.secondKey, line.second.data(), 16);
  }
  return list;
}

struct VerdictCase {
  const char* name;
  Bytes telegram;
  std::vector<KeyLine> keys;
  KeyVerdict verdict;
  const char* entry;     // expected keyEntry, or nullptr
  Bytes kcvKey;          // key whose check value is shown, or empty
  const char* unsupported;
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

std::vector<VerdictCase> verdictCases() {
  return {
      {"Mode5FirstKeyRight", mode5(keyA), {{"12345678", keyA, keyB}}, KeyVerdict::right, "12345678", keyA, ""},
      {"Mode5SecondKeyRight", mode5(keyB), {{"12345678", keyA, keyB}}, KeyVerdict::right, "12345678", keyB, ""},
      {"Mode7Right", mode7(keyA, 0x01020304), {{"12345678", keyA, {}}}, KeyVerdict::right, "12345678", keyA, ""},
      {"Mode5Reversed", mode5(keyA), {{"12345678", reversed(keyA), {}}}, KeyVerdict::reversed, "12345678", keyA, ""},
      {"Mode7Reversed", mode7(keyB, 99), {{"12345678", reversed(keyB), keyC}}, KeyVerdict::reversed, "12345678", keyB, ""},
      {"OtherEntry", mode5(keyC), {{"12345678", keyA, {}}, {"00000001", keyB, keyC}}, KeyVerdict::otherEntry,
       "00000001", keyC, ""},
      {"OtherEntryWithoutOwn", mode7(keyD, 8), {{"87654321", keyD, {}}}, KeyVerdict::otherEntry, "87654321", keyD, ""},
      {"Wrong", mode5(keyD), {{"12345678", keyA, keyB}, {"00000001", keyC, {}}}, KeyVerdict::wrong, "12345678", keyA, ""},
      {"NoKey", mode5(keyD), {{"00000001", keyC, {}}}, KeyVerdict::noKey, nullptr, {}, ""},
      {"NoKeyEmptyList", mode7(keyD, 1), {}, KeyVerdict::noKey, nullptr, {}, ""},
      {"PlainShortHeader", fromHex("44 2D2C785634121B07 7A 42 00 0000 0C13 78563412"), {{"12345678", keyA, {}}},
       KeyVerdict::plain, nullptr, {}, ""},
      {"PlainNoHeader", fromHex("44 2D2C785634121B07 78 0C13 78563412"), {}, KeyVerdict::plain, nullptr, {}, ""},
      {"Mode5NoBlocksIsPlain", fromHex("44 2D2C785634121B07 7A 42 00 0005 0C13"), {{"12345678", keyA, {}}},
       KeyVerdict::plain, nullptr, {}, ""},
      {"UnknownCi", fromHex("44 2D2C785634121B07 8D 20 42 11223344 AABB 0102"), {}, KeyVerdict::unsupported, nullptr,
       {}, "CI 0x8D"},
      {"UnknownMode", fromHex("44 2D2C785634121B07 7A 42 00 100D 00112233445566778899AABBCCDDEEFF"), {},
       KeyVerdict::unsupported, nullptr, {}, "mode 13"},
      {"Mode7WithoutCounter", mode7(keyA, 5, false), {{"12345678", keyA, {}}}, KeyVerdict::unsupported, nullptr, {},
       "mode 7 without an AFL message counter"},
      {"LongHeaderUsesMeterAddress", mode5Long(keyB), {{"12345678", keyB, {}}}, KeyVerdict::right, "12345678", keyB, ""},
  };
}

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, EveryVerdictAsBuiltByOpenssl) {
  const VerdictCase& c = GetParam();
  MeterTelegram telegram;
  ASSERT_EQ(parseMeterTelegram(c.telegram.data(), c.telegram.size(), LengthByte::absent, telegram), TelegramStatus::ok)
      << telegram.problem;
  const auto keys = keyList(c.keys);
  const KeyCheck check = checkMeterKey(telegram, *keys);
  EXPECT_STREQ(keyVerdictText(check.verdict), keyVerdictText(c.verdict));
  EXPECT_EQ(check.entryKnown, c.entry != nullptr);
  if (c.entry != nullptr) {
    EXPECT_EQ(toHex(Bytes(check.entryId, check.entryId + 4)), c.entry);
  }
  EXPECT_EQ(check.kcvKnown, !c.kcvKey.empty());
  if (!c.kcvKey.empty()) {
    EXPECT_EQ(Bytes(check.kcv, check.kcv + 3), opensslKcv(c.kcvKey));
  }
  EXPECT_STREQ(check.unsupported, c.unsupported);

  // The same telegram with its length byte, and as a log line, reads the same.
  Bytes withLength = {uint8_t(c.telegram.size())};
  withLength.insert(withLength.end(), c.telegram.begin(), c.telegram.end());
  MeterTelegram again;
  ASSERT_EQ(parseMeterTelegram(withLength.data(), withLength.size(), LengthByte::detect, again), TelegramStatus::ok)
      << again.problem;
  EXPECT_TRUE(again.lengthBytePresent);
  EXPECT_EQ(checkMeterKey(again, *keys).verdict, c.verdict);
}

INSTANTIATE_TEST_SUITE_P(Table, Verdicts, ::testing::ValuesIn(verdictCases()),
                         [](const ::testing::TestParamInfo<VerdictCase>& param) { return std::string(param.param.name); });

TEST(MeterTelegram, ReadsTheLinkAddressCiAndAfl) {
  const Bytes t = mode7(keyA, 0x01020304);
  MeterTelegram telegram;
  ASSERT_EQ(parseMeterTelegram(t.data(), t.size(), LengthByte::detect, telegram), TelegramStatus::ok);
  EXPECT_FALSE(telegram.lengthBytePresent);
  EXPECT_EQ(Bytes(telegram.linkAddress, telegram.linkAddress + 8), meterAddress);
  EXPECT_EQ(telegram.firstCi, 0x90);
  EXPECT_EQ(telegram.ci, 0x7A);
  EXPECT_TRUE(telegram.aflCounterPresent);
  EXPECT_EQ(telegram.aflCounter, 0x01020304u);
  EXPECT_EQ(telegram.securityMode, 7);
  EXPECT_EQ(telegram.accessNumber, 0x10);
  EXPECT_EQ(telegram.encryptedLength, 16u);
}

struct BadCase {
  const char* name;
  Bytes bytes;
  TelegramStatus status;
  const char* problem;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

Bytes cut(Bytes bytes, size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}

Bytes withLengthByte(const Bytes& bytes, uint8_t length) {
  Bytes out = {length};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

std::vector<BadCase> badCases() {
  return {
      {"Empty", {}, TelegramStatus::tooShort, "empty telegram"},
      {"EightBytes", fromHex("44 2D2C785634121B"), TelegramStatus::tooShort,
       "8 bytes: a telegram has at least 10 (C field, address, CI)"},
      {"LengthByteLies", withLengthByte(mode5(keyA), 0x50), TelegramStatus::lengthMismatch,
       "length byte counts 80 bytes, 46 follow"},
      {"EncryptedPartCut", cut(mode5(keyA), 5), TelegramStatus::truncatedPayload,
       "32 encrypted bytes announced, 27 are there"},
      {"ShortHeaderCut", fromHex("44 2D2C785634121B07 7A 42 00"), TelegramStatus::truncatedHeader,
       "short header cut off (2 of 4 bytes)"},
      {"LongHeaderCut", fromHex("44 2D2C785634121B07 72 78563412 2D2C"), TelegramStatus::truncatedHeader,
       "long header cut off (6 of 12 bytes)"},
      {"AflCut", cut(mode7(keyA, 1), 30), TelegramStatus::truncatedAfl, "AFL announces 15 bytes, 7 are there"},
      {"AflWithoutNext", fromHex("44 2D2C785634121B07 90 02 0000"), TelegramStatus::truncatedHeader,
       "nothing after the AFL"},
      {"AflFragment", fromHex("44 2D2C785634121B07 90 02 0040 7A"), TelegramStatus::fragmented,
       "AFL fragment of a longer message"},
      {"Mode7WithoutExtension", fromHex("44 2D2C785634121B07 7A 42 00 1007"), TelegramStatus::truncatedHeader,
       "mode 7 header without its extension byte"},
      {"TooLong", Bytes(300, 0x44), TelegramStatus::lengthMismatch, "300 bytes: a telegram has at most 256"},
  };
}

class BadTelegrams : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadTelegrams, RefusedWithWhy) {
  const BadCase& c = GetParam();
  // An exact-size heap copy, so that a read past the end is a sanitizer finding.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[c.bytes.size() + 1]);
  if (!c.bytes.empty()) std::memcpy(copy.get(), c.bytes.data(), c.bytes.size());
  MeterTelegram telegram;
  EXPECT_EQ(parseMeterTelegram(copy.get(), c.bytes.size(), LengthByte::detect, telegram), c.status);
  EXPECT_STREQ(telegram.problem, c.problem);
}

INSTANTIATE_TEST_SUITE_P(Table, BadTelegrams, ::testing::ValuesIn(badCases()),
                         [](const ::testing::TestParamInfo<BadCase>& param) { return std::string(param.param.name); });

TEST(KeyCheckValue, FirstThreeBytesOfAZeroBlockAsOpensslEncryptsIt) {
  uint8_t kcv[3];
  keyCheckValue(keyB.data(), kcv);
  EXPECT_EQ(Bytes(kcv, kcv + 3), opensslKcv(keyB));
}

// ---- lines ------------------------------------------------------------------------------

struct LineCase {
  const char* name;
  const char* line;
  TelegramLine kind;
  const char* hexOrWhy;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

const LineCase lineCases[] = {
    {"Blank", "   ", TelegramLine::blank, ""},
    {"Comment", "# from the installer", TelegramLine::blank, ""},
    {"PlainHex", "442D2C785634121B077A", TelegramLine::telegram, "442D2C785634121B077A"},
    {"Spaces", " 44 2D 2C\t78 56 ", TelegramLine::telegram, "442D2C7856"},
    {"LogForm", "(wmbus) telegram=|1E44_2D2C78|  rssi=-60", TelegramLine::telegram, "1E442D2C78"},
    {"CrLf", "4421\r", TelegramLine::telegram, "4421"},
    {"NotHex", "44 2G", TelegramLine::refused, "not hex: \"G\" at column 5"},
    {"ControlByte", "44\x01", TelegramLine::refused, "not hex: byte 0x01 at column 3"},
    {"OddDigits", "442", TelegramLine::refused, "an odd number of hex digits (3)"},
    {"LoneDigit", "4 42", TelegramLine::refused, "a lone hex digit before column 2"},
    {"OpenBar", "telegram=|4412", TelegramLine::refused, "\"telegram=|\" without its closing \"|\""},
    {"EmptyBars", "telegram=||", TelegramLine::refused, "no hex digits"},
};

class Lines : public ::testing::TestWithParam<LineCase> {};

TEST_P(Lines, ReadOrRefused) {
  const LineCase& c = GetParam();
  uint8_t bytes[telegramMaxBytes];
  size_t count = 0;
  char why[96] = {};
  EXPECT_EQ(telegramFromLine(c.line, std::strlen(c.line), bytes, sizeof bytes, count, why, sizeof why), c.kind);
  if (c.kind == TelegramLine::telegram) {
    EXPECT_EQ(toHex(Bytes(bytes, bytes + count)), c.hexOrWhy);
  }
  if (c.kind == TelegramLine::refused) {
    EXPECT_STREQ(why, c.hexOrWhy);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Lines, ::testing::ValuesIn(lineCases),
                         [](const ::testing::TestParamInfo<LineCase>& param) { return std::string(param.param.name); });

TEST(TelegramStream, CountsMetersAndRefusesBadLinesByNumber) {
  std::string text = toHex(mode5(keyA)) + "\n" + "garbage\n\n" + toHex(mode5(keyA, meterAddress, 0x43)) + "\r\n" +
                     toHex(withLengthByte(mode7(keyB, 3), 0x10)) + "\n" + std::string(5000, 'A') + "\n" +
                     "telegram=|" + toHex(withLengthByte(mode5(keyA, fromHex("2D2C 11111111 01 07")), 46)) + "|";
  FILE* stream = fmemopen(&text[0], text.size(), "r");
  ASSERT_NE(stream, nullptr);
  std::unique_ptr<TelegramFileCheck> check(new TelegramFileCheck());
  EXPECT_TRUE(checkTelegramStream(stream, *check));
  std::fclose(stream);
  EXPECT_EQ(check->lines, 7u);
  EXPECT_EQ(check->telegrams, 3u);
  ASSERT_EQ(check->meters.count, 2u);
  EXPECT_EQ(check->meters.entries[0].frames, 2u);
  EXPECT_EQ(check->meters.entries[0].accessNumber, 0x43);
  EXPECT_EQ(check->meters.entries[0].firstSeenMs, 1);
  EXPECT_EQ(check->meters.entries[0].lastSeenMs, 4);
  ASSERT_EQ(check->refusedCount, 3u);
  EXPECT_EQ(check->refused[0].line, 2u);
  EXPECT_STREQ(check->refused[0].reason, "not hex: \"g\" at column 1");
  EXPECT_EQ(check->refused[1].line, 5u);
  EXPECT_STREQ(check->refused[1].reason, "length byte counts 16 bytes, 48 follow");
  EXPECT_EQ(check->refused[2].line, 6u);
  EXPECT_STREQ(check->refused[2].reason, "longer than 4096 characters");
}

TEST(HeardMeters, KeepTheLastEncryptedTelegramAndStopAtTheBound) {
  std::unique_ptr<HeardMeterTable> table(new HeardMeterTable());
  const Bytes encrypted = mode5(keyA);
  const Bytes plain = fromHex("44 2D2C785634121B07 7A 43 00 0000 0C13 78563412");
  MeterTelegram t;
  ASSERT_EQ(parseMeterTelegram(encrypted.data(), encrypted.size(), LengthByte::absent, t), TelegramStatus::ok);
  recordHeardMeter(*table, t, 10);
  ASSERT_EQ(parseMeterTelegram(plain.data(), plain.size(), LengthByte::absent, t), TelegramStatus::ok);
  HeardMeter* row = recordHeardMeter(*table, t, 20);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->frames, 2u);
  EXPECT_EQ(row->accessNumber, 0x43);
  EXPECT_EQ(Bytes(row->kept, row->kept + row->keptLength), encrypted);
  auto keys = keyList({{"12345678", keyA, {}}});
  EXPECT_EQ(checkHeardMeter(*row, *keys).verdict, KeyVerdict::right);

  for (uint32_t i = 1; i < heardMeterCapacity + 5; ++i) {
    Bytes other = plain;
    other[3] = uint8_t(i);
    other[4] = uint8_t(i >> 8);
    ASSERT_EQ(parseMeterTelegram(other.data(), other.size(), LengthByte::absent, t), TelegramStatus::ok);
    const bool listed = recordHeardMeter(*table, t, 30) != nullptr;
    EXPECT_EQ(listed, i < heardMeterCapacity) << i;
  }
  EXPECT_EQ(table->count, heardMeterCapacity);
  EXPECT_EQ(table->framesNotListed, 5u);
}

}  // namespace
