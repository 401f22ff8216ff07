// Message codec: plain and secured messages byte for byte, checked by an OpenSSL decoder.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/message_codec.h"
#include "mbus/link_frame.h"
#include "text/log.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct LogEntry {
  bool dump;
  std::string text;
  Bytes bytes;
  int style;
};

class RecordingLog : public Log {
public:
  std::vector<LogEntry> entries;
  void logText(const char* text, int style) override { entries.push_back({false, text, {}, style}); }
  void logTimestamp() override { entries.push_back({false, "<time>", {}, -1}); }
  void logHexDump(const uint8_t* bytes, size_t count, int style) override {
    entries.push_back({true, "", Bytes(bytes, bytes + count), style});
  }
  void clearLog() override { entries.clear(); }
};

class RecordingTransport : public MessageTransport {
public:
  bool portOpen = true;
  const char* failure = nullptr;  // when set, writes fail with this reason
  std::vector<Bytes> wired;
  std::vector<Bytes> dongle;
  bool wiredPortOpen() override { return portOpen; }
  bool writeWired(const uint8_t* frame, size_t length, std::string& reason) override {
    wired.emplace_back(frame, frame + length);
    return written(reason);
  }
  bool writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) override {
    dongle.emplace_back(frame, frame + length);
    return written(reason);
  }

private:
  bool written(std::string& reason) {
    if (failure == nullptr) return true;
    reason = failure;
    return false;
  }
};

struct Fixture {
  ConverterLinkState link;
  LinkFrameBuffer frames{};
  RecordingTransport transport;
  RecordingLog log;
  CommandChannel channel{link, frames, transport, log};
};

Bytes slice(const Bytes& b, size_t from, size_t count) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

// ---- independent decoder on OpenSSL ----

Bytes opensslCmac(const uint8_t key[16], const Bytes& data) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  char cipher[] = "AES-128-CBC";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                         OSSL_PARAM_construct_end()};
  Bytes tag(16);
  size_t outLength = 0;
  bool ok = EVP_MAC_init(ctx, key, 16, params) == 1 &&
            EVP_MAC_update(ctx, data.data(), data.size()) == 1 &&
            EVP_MAC_final(ctx, tag.data(), &outLength, tag.size()) == 1 && outLength == 16;
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  EXPECT_TRUE(ok);
  return tag;
}

Bytes opensslCbcDecrypt(const Bytes& key, const Bytes& cipherText) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const uint8_t iv[16] = {};
  Bytes plain(cipherText.size() + 16);
  int n1 = 0, n2 = 0;
  bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_DecryptUpdate(ctx, plain.data(), &n1, cipherText.data(), static_cast<int>(cipherText.size())) == 1 &&
            EVP_DecryptFinal_ex(ctx, plain.data() + n1, &n2) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_TRUE(ok);
  plain.resize(static_cast<size_t>(n1 + n2));
  return plain;
}

Bytes derivationBlock(uint8_t constant, uint32_t counter, const uint8_t* id) {
  Bytes block(16, 0x07);
  block[0] = constant;
  for (int i = 0; i < 4; ++i) block[1 + i] = static_cast<uint8_t>(counter >> (8 * i));
  std::memcpy(block.data() + 5, id, 4);
  return block;
}

struct Decoded {
  bool macOk = false;
  uint32_t counter = 0;
  Bytes plain;  // decrypted part
};

// Reads a secured message as the converter would, trusting nothing the codec computed.
Decoded decodeSecured(const Bytes& m, const uint8_t key[16], bool wired) {
  Decoded d;
  d.counter = static_cast<uint32_t>(m[6]) | static_cast<uint32_t>(m[7]) << 8 |
              static_cast<uint32_t>(m[8]) << 16 | static_cast<uint32_t>(m[9]) << 24;
  const uint8_t encConst = wired ? 0x10 : 0x00;
  const uint8_t macConst = wired ? 0x11 : 0x01;
  Bytes encKey = opensslCmac(key, derivationBlock(encConst, d.counter, m.data() + 19));
  Bytes macKey = opensslCmac(key, derivationBlock(macConst, d.counter, m.data() + 19));
  Bytes macInput = slice(m, 5, 5);
  Bytes rest = slice(m, 18, m.size() - 18);
  macInput.insert(macInput.end(), rest.begin(), rest.end());
  Bytes tag = opensslCmac(macKey.data(), macInput);
  d.macOk = std::equal(tag.begin(), tag.begin() + 8, m.begin() + 10);
  d.plain = opensslCbcDecrypt(encKey, slice(m, 32, m.size() - 32));
  return d;
}

// ---- sent bytes as the far side sees them ----

// The message inside a wired long frame, after checking the frame itself.
Bytes unwrapLongFrame(const Bytes& f) {
  EXPECT_GE(f.size(), 9u);
  if (f.size() < 9) return {};
  EXPECT_EQ(f[0], 0x68);
  EXPECT_EQ(f[1], f[2]);
  EXPECT_EQ(f[3], 0x68);
  EXPECT_EQ(f.size(), static_cast<size_t>(f[1]) + 6);
  EXPECT_EQ(f[5], 0xFB);
  EXPECT_EQ(f.back(), 0x16);
  uint8_t sum = 0;
  for (size_t i = 4; i < f.size() - 2; ++i) sum = static_cast<uint8_t>(sum + f[i]);
  EXPECT_EQ(f[f.size() - 2], sum);
  Bytes m;
  m.push_back(f[4]);
  m.insert(m.end(), f.begin() + 6, f.end() - 2);
  return m;
}

Bytes unwrapDongleFrame(const Bytes& f) {
  EXPECT_GE(f.size(), 3u);
  if (f.size() < 3) return {};
  EXPECT_EQ(f[0], 0xAC);
  EXPECT_EQ(static_cast<size_t>(f[1] | f[2] << 8), f.size() - 3);
  return slice(f, 3, f.size() - 3);
}

const uint8_t getDataSlot1[] = {0x0F, 0x35, 0x92, 0x00};
const uint8_t wiredAddress[8] = {0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x01, 0x36};
const uint8_t wirelessPartner[8] = {0x78, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36};
const uint8_t sampleKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

void setUpWiredSecured(Fixture& f) {
  f.link.linkMode = LinkMode::wired;
  f.link.securedMessages = true;
  f.link.accessNumber = 7;
  std::memcpy(f.link.converterAddress, wiredAddress, 8);
  std::memcpy(f.link.converterKey, sampleKey, 16);
}

// ---- plain messages ----

TEST(CodecPlain, GetDataWiredMessageAndFrame) {
  Fixture f;
  f.link.linkMode = LinkMode::wired;
  f.link.accessNumber = 7;
  f.link.messageCounter = 0x1234;
  ASSERT_EQ(sendConverterCommand(f.channel, getDataSlot1, 4), 1);
  ASSERT_EQ(f.transport.wired.size(), 1u);
  const Bytes& frame = f.transport.wired[0];
  EXPECT_EQ(frame[1], 11);
  EXPECT_EQ(frame[4], 0x53);
  EXPECT_EQ(frame[5], 0xFB);
  EXPECT_EQ(unwrapLongFrame(frame), (Bytes{0x53, 0x5A, 0x07, 0x00, 0x00, 0x00, 0x0F, 0x35, 0x92, 0x00}));
  EXPECT_EQ(f.link.accessNumber, 8);
  EXPECT_EQ(f.link.messageCounter, 0x1234u);  // a plain message leaves the counter
  ASSERT_EQ(f.log.entries.size(), 2u);        // and logs no counter line
  EXPECT_EQ(f.log.entries[0].text, ">>> Send meter config message\n");
  EXPECT_EQ(f.log.entries[0].style, 0);
  EXPECT_TRUE(f.log.entries[1].dump);
  EXPECT_EQ(f.log.entries[1].bytes, frame);
  EXPECT_EQ(f.log.entries[1].style, 0);
  EXPECT_TRUE(f.transport.dongle.empty());
  // The receiver starts over for the answer.
  EXPECT_EQ(f.frames.state, receiveHunting);
}

TEST(CodecPlain, ClosedPortBuildsAndLogsButWritesNothing) {
  Fixture f;
  f.link.linkMode = LinkMode::wired;
  f.transport.portOpen = false;
  EXPECT_EQ(sendConverterCommand(f.channel, getDataSlot1, 4), 1);
  EXPECT_TRUE(f.transport.wired.empty());
  ASSERT_EQ(f.log.entries.size(), 3u);  // the send line, the dump and why it did not go out
  EXPECT_EQ(f.log.entries[1].bytes.size(), 17u);
  EXPECT_EQ(f.log.entries[2].text, "Not sent: no COM port open\n");
  EXPECT_EQ(f.link.accessNumber, 1);
}

TEST(CodecPlain, BuildPlainMessageBytes) {
  ConverterLinkState link;
  link.linkMode = LinkMode::wired;
  link.accessNumber = 0x42;
  uint8_t options[11] = {0x0F, 0x35, 0x98, 1, 0, 1, 1, 0, 0, 0, 1};
  uint8_t m[messageCapacity];
  ASSERT_EQ(buildPlainMessage(link, options, 11, m, sizeof m), 17u);
  EXPECT_EQ(Bytes(m, m + 17), (Bytes{0x53, 0x5A, 0x42, 0, 0, 0, 0x0F, 0x35, 0x98, 1, 0, 1, 1, 0, 0, 0, 1}));
  link.linkMode = LinkMode::wireless;
  ASSERT_EQ(buildPlainMessage(link, options, 3, m, sizeof m), 9u);
  EXPECT_EQ(m[0], 0x43);
  EXPECT_EQ(m[2], 0x43);
}

TEST(CodecPlain, AccessNumberWrapsAndIsSharedWithSecured) {
  Fixture f;
  setUpWiredSecured(f);
  f.link.securedMessages = false;
  f.link.accessNumber = 255;
  sendConverterCommand(f.channel, getDataSlot1, 4);
  f.link.securedMessages = true;
  sendConverterCommand(f.channel, getDataSlot1, 4);
  f.link.securedMessages = false;
  sendConverterCommand(f.channel, getDataSlot1, 4);
  ASSERT_EQ(f.transport.wired.size(), 3u);
  EXPECT_EQ(unwrapLongFrame(f.transport.wired[0])[2], 0xFF);
  EXPECT_EQ(unwrapLongFrame(f.transport.wired[1])[27], 0x00);
  EXPECT_EQ(unwrapLongFrame(f.transport.wired[2])[2], 0x01);
  EXPECT_EQ(f.link.accessNumber, 2);
}

// ---- rejected lengths ----

TEST(CodecBounds, OutOfRangeLengthsSendAndLogNothing) {
  const uint8_t big[80] = {0x0F, 0x35, 0x93};
  for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{65}, size_t{80}}) {
    for (bool secured : {false, true}) {
      for (LinkMode mode : {LinkMode::wired, LinkMode::wireless}) {
        Fixture f;
        f.link.linkMode = mode;
        f.link.securedMessages = secured;
        f.link.accessNumber = 9;
        f.link.messageCounter = 100;
        EXPECT_EQ(sendConverterCommand(f.channel, big, n), 0) << n;
        EXPECT_TRUE(f.log.entries.empty());
        EXPECT_TRUE(f.transport.wired.empty());
        EXPECT_TRUE(f.transport.dongle.empty());
        EXPECT_EQ(f.link.accessNumber, 9);
        EXPECT_EQ(f.link.messageCounter, 100u);
      }
    }
  }
}

TEST(CodecBounds, BuildersRespectCapacity) {
  ConverterLinkState link;
  uint8_t payload[64] = {0x0F, 0x35, 0x93};
  uint8_t m[messageCapacity];
  std::memset(m, 0xEE, sizeof m);
  EXPECT_EQ(buildPlainMessage(link, payload, 64, m, 69), 0u);
  EXPECT_EQ(buildSecuredMessage(link, payload, 64, m, 111), 0u);
  EXPECT_EQ(m[0], 0xEE);
  EXPECT_EQ(link.accessNumber, 0);
  EXPECT_EQ(buildPlainMessage(link, payload, 64, m, 70), 70u);
  EXPECT_EQ(buildSecuredMessage(link, payload, 64, m, 112), 112u);
  EXPECT_EQ(buildSecuredMessage(link, nullptr, 4, m, 112), 0u);
}

// ---- secured messages ----

TEST(CodecSecured, WiredGetDataExample) {
  Fixture f;
  setUpWiredSecured(f);
  ASSERT_EQ(sendConverterCommand(f.channel, getDataSlot1, 4), 1);
  ASSERT_EQ(f.transport.wired.size(), 1u);
  EXPECT_EQ(f.transport.wired[0][1], 49);
  Bytes m = unwrapLongFrame(f.transport.wired[0]);
  ASSERT_EQ(m.size(), 48u);
  EXPECT_EQ(slice(m, 0, 10), (Bytes{0x53, 0x90, 0x0F, 0x00, 0x2C, 0x25, 0x04, 0x00, 0x00, 0x00}));
  EXPECT_EQ(slice(m, 18, 14),
            (Bytes{0x5B, 0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x01, 0x36, 0x07, 0x00, 0x10, 0x07, 0x10}));
  // Decrypt with the key derived from the block as written out by hand.
  const Bytes block = {0x10, 0x04, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07};
  Bytes plain = opensslCbcDecrypt(opensslCmac(sampleKey, block), slice(m, 32, 16));
  EXPECT_EQ(plain, (Bytes{0x2F, 0x2F, 0x0F, 0x35, 0x92, 0x00, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F}));
  // MAC input: 35 bytes, 0x25 and the counter, then message bytes 18 to 47.
  const Bytes macBlock = {0x11, 0x04, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07};
  Bytes macInput = {0x25, 0x04, 0x00, 0x00, 0x00};
  Bytes tail = slice(m, 18, 30);
  macInput.insert(macInput.end(), tail.begin(), tail.end());
  ASSERT_EQ(macInput.size(), 35u);
  Bytes tag = opensslCmac(opensslCmac(sampleKey, macBlock).data(), macInput);
  EXPECT_EQ(slice(m, 10, 8), slice(tag, 0, 8));
  EXPECT_EQ(f.link.messageCounter, 8u);
  EXPECT_EQ(f.link.accessNumber, 8);
}

TEST(CodecSecured, WirelessAddressAndDerivation) {
  Fixture f;
  f.link.linkMode = LinkMode::wireless;
  f.link.securedMessages = true;
  std::memcpy(f.link.converterAddress, wirelessPartner, 8);
  std::memcpy(f.link.converterKey, sampleKey, 16);
  ASSERT_EQ(sendConverterCommand(f.channel, getDataSlot1, 4), 1);
  ASSERT_EQ(f.transport.dongle.size(), 1u);
  EXPECT_TRUE(f.transport.wired.empty());
  const Bytes& frame = f.transport.dongle[0];
  EXPECT_EQ(slice(frame, 0, 3), (Bytes{0xAC, 48, 0x00}));
  Bytes m = unwrapDongleFrame(frame);
  ASSERT_EQ(m.size(), 48u);
  EXPECT_EQ(m[0], 0x43);
  EXPECT_EQ(m[18], 0x72);
  EXPECT_EQ(slice(m, 19, 8), (Bytes{0x8F, 0x19, 0x78, 0x56, 0x8F, 0x19, 0x01, 0x36}));
  const Bytes block = {0x00, 0x04, 0x00, 0x00, 0x00, 0x8F, 0x19, 0x78, 0x56, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07};
  Bytes plain = opensslCbcDecrypt(opensslCmac(sampleKey, block), slice(m, 32, 16));
  EXPECT_EQ(slice(plain, 0, 6), (Bytes{0x2F, 0x2F, 0x0F, 0x35, 0x92, 0x00}));
  EXPECT_TRUE(decodeSecured(m, sampleKey, false).macOk);
  // Log: counter line in red without line end, then the send line and the message alone.
  ASSERT_EQ(f.log.entries.size(), 3u);
  EXPECT_EQ(f.log.entries[0].text, "Counter now: 0x00000004");
  EXPECT_EQ(f.log.entries[0].style, 2);
  EXPECT_EQ(f.log.entries[1].text, ">>> Send meter config message\n");
  EXPECT_EQ(f.log.entries[1].style, 0);
  EXPECT_EQ(f.log.entries[2].bytes, m);
  EXPECT_EQ(f.log.entries[2].style, 0);
}

TEST(CodecSecured, CounterWrapsAsUnsigned) {
  Fixture f;
  setUpWiredSecured(f);
  f.link.messageCounter = 0xFFFFFFFEu;
  sendConverterCommand(f.channel, getDataSlot1, 4);
  EXPECT_EQ(f.log.entries[0].text, "Counter now: 0x00000002");
  Bytes m = unwrapLongFrame(f.transport.wired[0]);
  EXPECT_EQ(slice(m, 6, 4), (Bytes{0x02, 0, 0, 0}));
  EXPECT_TRUE(decodeSecured(m, sampleKey, true).macOk);
  EXPECT_EQ(f.link.messageCounter, 6u);
}

// A few thousand random commands, wired and wireless, each decoded independently.
TEST(CodecSecured, RandomMessagesDecodeWithOpenSsl) {
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> length(commandMinLength, commandMaxLength);
  Fixture f;
  f.link.securedMessages = true;
  for (int round = 0; round < 3000; ++round) {
    const bool wired = round % 2 == 0;
    f.link.linkMode = wired ? LinkMode::wired : LinkMode::wireless;
    uint32_t counter = static_cast<uint32_t>(rng());
    f.link.messageCounter = counter;
    f.link.accessNumber = static_cast<uint8_t>(byte(rng));
    const uint8_t access = f.link.accessNumber;
    for (uint8_t& b : f.link.converterAddress) b = static_cast<uint8_t>(byte(rng));
    uint8_t key[16];
    for (uint8_t& b : key) b = static_cast<uint8_t>(byte(rng));
    std::memcpy(f.link.converterKey, key, 16);
    const size_t n = length(rng);
    uint8_t payload[64];
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(byte(rng));

    f.transport.wired.clear();
    f.transport.dongle.clear();
    ASSERT_EQ(sendConverterCommand(f.channel, payload, n), 1);
    Bytes m = wired ? unwrapLongFrame(f.transport.wired.at(0)) : unwrapDongleFrame(f.transport.dongle.at(0));
    const size_t e = (n + 2 + 15) / 16 * 16;
    ASSERT_EQ(encryptedPartLength(n), e);
    ASSERT_EQ(m.size(), 32 + e);
    EXPECT_EQ(m[29], e);  // the size field
    Decoded d = decodeSecured(m, key, wired);
    ASSERT_TRUE(d.macOk) << "round " << round;
    EXPECT_EQ(d.counter, counter + 4);
    EXPECT_EQ(f.link.messageCounter, counter + 8);
    EXPECT_EQ(m[0], wired ? 0x53 : 0x43);
    EXPECT_EQ(m[18], wired ? 0x5B : 0x72);
    EXPECT_EQ(m[27], access);
    Bytes address = wired ? Bytes(f.link.converterAddress, f.link.converterAddress + 8)
                          : Bytes{0x8F, 0x19, f.link.converterAddress[0], f.link.converterAddress[1],
                                  f.link.converterAddress[4], f.link.converterAddress[5],
                                  f.link.converterAddress[6], f.link.converterAddress[7]};
    EXPECT_EQ(slice(m, 19, 8), address);
    ASSERT_EQ(d.plain.size(), e);
    EXPECT_EQ(slice(d.plain, 0, 2), (Bytes{0x2F, 0x2F}));
    ASSERT_EQ(slice(d.plain, 2, n), Bytes(payload, payload + n)) << "round " << round;
    for (size_t i = 2 + n; i < e; ++i) ASSERT_EQ(d.plain[i], 0x2F);
    // A single flipped bit anywhere the MAC covers must be caught.
    Bytes tampered = m;
    const size_t at = 18 + static_cast<size_t>(rng()) % (m.size() - 18);
    tampered[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    EXPECT_FALSE(decodeSecured(tampered, key, wired).macOk);
  }
}

// ---- converter key text ----

TEST(CodecKeyText, LoadsIntoConverterKey) {
  const struct {
    const char* text;
    Bytes key;
  } cases[] = {
      {"00112233445566778899AABBCCDDEEFF",
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
      {"00112233445566778899aabbccddeeff",
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
      // Longer than 32 digits: the first 32 only.
      {"0102030405060708090A0B0C0D0E0F10FFEEDDCC", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
      // Shorter: the rest is zero, not the earlier key.
      {"A1B2", {0xA1, 0xB2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"", Bytes(16, 0)},
      {nullptr, Bytes(16, 0)},
      // An odd last digit makes no byte, as everywhere hex text is read.
      {"123", {0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      // Non-digits count as 0.
      {"ZZ11xx22", {0x00, 0x11, 0x00, 0x22, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}};
  for (const auto& c : cases) {
    ConverterLinkState link;
    std::memset(link.converterKey, 0xAA, sizeof link.converterKey);  // earlier key
    loadConverterKey(c.text, link);
    EXPECT_EQ(Bytes(link.converterKey, link.converterKey + 16), c.key) << (c.text ? c.text : "null");
  }
}

// ---- what a request leaves behind: a wait for its answer, or a line saying it did not go ----

TEST(CodecAnswerWait, SendArmsTheWaitOrSaysWhyNothingWentOut) {
  struct Case {
    const char* name;
    LinkMode mode;
    bool secured;
    const char* failure;
    int bound;  // 0: nothing armed
  };
  const Case cases[] = {
      {"wired plain", LinkMode::wired, false, nullptr, wiredAnswerBoundMs},
      {"wired secured", LinkMode::wired, true, nullptr, wiredAnswerBoundMs},
      {"wireless", LinkMode::wireless, true, nullptr, wirelessAnswerBoundMs},
      {"wired short write", LinkMode::wired, false, "ttyS0: 3 of 17 bytes written (Timer expired)", 0},
      {"stick gone", LinkMode::wireless, true, "Input/output error", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    AnswerWait wait;
    f.channel.answerWait = &wait;
    f.link.linkMode = c.mode;
    f.link.securedMessages = c.secured;
    f.link.messageCounter = 100;
    f.transport.failure = c.failure;
    const long long before = answerClockMs();
    ASSERT_EQ(sendConverterCommand(f.channel, getDataSlot1, 4), 1);
    // Sent or not, the message used its counter and access number.
    EXPECT_EQ(f.link.messageCounter, c.secured ? 108u : 100u);
    EXPECT_EQ(f.link.accessNumber, 1);
    EXPECT_EQ(wait.armed, c.bound != 0);
    if (c.bound != 0) {
      EXPECT_EQ(wait.request, 0x92);
      EXPECT_EQ(wait.secured, c.secured);
      EXPECT_EQ(wait.counter, c.secured ? 104u : 0u);
      EXPECT_GE(wait.deadlineMs, before + c.bound);
      EXPECT_LE(wait.deadlineMs, answerClockMs() + c.bound);
    } else {
      EXPECT_EQ(f.log.entries.back().text, std::string("Not sent: ") + c.failure + "\n");
      EXPECT_EQ(f.log.entries.back().style, logStylePlain);
    }
  }
}

TEST(CodecAnswerWait, OverdueAnswerIsLoggedOnceWithItsLikelyCauses) {
  struct Case {
    uint8_t request;
    bool secured;
    int bound;
    const char* line;
  };
  const Case cases[] = {
      {answerWaitReqUd2, false, 2000, "No answer to REQ_UD2 within 2.0 s: wrong address, or converter out of reach.\n"},
      {0x93, true, 6000,
       "No answer to Set Data within 6.0 s: wrong converter key or address, or converter out of reach.\n"},
      {0x96, false, 2500, "No answer to Scan within 2.5 s: wrong address, or converter out of reach.\n"},
      {0x97, true, 2000,
       "No answer to read option bits within 2.0 s: wrong converter key or address, or converter out of reach.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    RecordingLog log;
    AnswerWait wait;
    armAnswerWait(wait, c.request, c.secured, 0, c.bound, 1000);
    EXPECT_EQ(expireAnswerWait(wait, 1000 + c.bound - 1, log, logStyleDongle), 0);
    EXPECT_TRUE(log.entries.empty());
    EXPECT_FALSE(wait.expired);
    EXPECT_EQ(expireAnswerWait(wait, 1000 + c.bound, log, logStyleDongle), 1);
    EXPECT_TRUE(wait.expired);  // cleared by its bound, which is no answer
    EXPECT_EQ(expireAnswerWait(wait, 1000 + 2 * c.bound, log, logStyleDongle), 0);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].text, c.line);
    EXPECT_EQ(log.entries[0].style, logStyleDongle);
    // An answer in time leaves nothing to say.
    armAnswerWait(wait, c.request, c.secured, 0, c.bound, 1000);
    clearAnswerWait(wait);
    EXPECT_FALSE(wait.expired);
    EXPECT_EQ(expireAnswerWait(wait, 1000 + 2 * c.bound, log, logStyleDongle), 0);
    EXPECT_EQ(log.entries.size(), 1u);
  }
}

}  // namespace
