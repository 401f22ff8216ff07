// quarn-sim seen from Quarn's side: messages built here with OpenSSL alone, fed to the
// converter model in-process, and the real binary driven over its PTY.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim_session.h"
#include "sim_site.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const char* text) {
  Bytes out;
  for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
    if (text[i] == ' ') {
      --i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
  }
  return out;
}

// ---- the test's own cryptography and framing (independent of the simulator's) ----

Bytes cmac(const Bytes& key, const Bytes& data) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  char cipher[] = "aes-128-cbc";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("cipher", cipher, 0),
                         OSSL_PARAM_construct_end()};
  Bytes tag(16);
  size_t len = 0;
  EXPECT_EQ(1, EVP_MAC_init(ctx, key.data(), key.size(), params));
  EXPECT_EQ(1, EVP_MAC_update(ctx, data.data(), data.size()));
  EXPECT_EQ(1, EVP_MAC_final(ctx, tag.data(), &len, tag.size()));
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  return tag;
}

Bytes cbcZeroIv(const Bytes& key, const Bytes& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  unsigned char iv[16] = {0};
  Bytes out(plain.size() + 16);
  int a = 0, b = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, out.data(), &a, plain.data(), static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + a, &b);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(a + b));
  return out;
}

Bytes derive(const Bytes& key, uint8_t constant, uint32_t counter, const uint8_t* id) {
  Bytes block = {constant,
                 static_cast<uint8_t>(counter),
                 static_cast<uint8_t>(counter >> 8),
                 static_cast<uint8_t>(counter >> 16),
                 static_cast<uint8_t>(counter >> 24),
                 id[0], id[1], id[2], id[3], 7, 7, 7, 7, 7, 7, 7};
  return cmac(key, block);
}

struct SecuredRecipe {
  bool wired = true;
  Bytes key;
  uint32_t counter = 4;
  uint8_t access = 7;
  Bytes address;
  Bytes payload;
  uint8_t fill = 0x2F;
  uint8_t prefix = 0x2F;
  bool swapConstants = false;  // derive with the other link's constants
};

Bytes buildSecured(const SecuredRecipe& sp) {
  size_t n = sp.payload.size();
  size_t e = (n + 2 + 15) / 16 * 16;
  Bytes m = {static_cast<uint8_t>(sp.wired ? 0x53 : 0x43), 0x90, 0x0F, 0x00, 0x2C, 0x25,
             static_cast<uint8_t>(sp.counter), static_cast<uint8_t>(sp.counter >> 8),
             static_cast<uint8_t>(sp.counter >> 16), static_cast<uint8_t>(sp.counter >> 24)};
  for (int i = 0; i < 8; ++i) m.push_back(0xFF);
  m.push_back(sp.wired ? 0x5B : 0x72);
  m.insert(m.end(), sp.address.begin(), sp.address.end());
  m.insert(m.end(), {sp.access, 0x00, static_cast<uint8_t>(e), 0x07, 0x10});
  Bytes plain(e, sp.fill);
  plain[0] = plain[1] = sp.prefix;
  std::copy(sp.payload.begin(), sp.payload.end(), plain.begin() + 2);
  bool wiredConstants = sp.wired != sp.swapConstants;
  uint8_t encC = wiredConstants ? 0x10 : 0x00, macC = wiredConstants ? 0x11 : 0x01;
  Bytes encKey = derive(sp.key, encC, sp.counter, m.data() + 19);
  Bytes macKey = derive(sp.key, macC, sp.counter, m.data() + 19);
  Bytes cipher = cbcZeroIv(encKey, plain);
  m.insert(m.end(), cipher.begin(), cipher.end());
  Bytes macInput(m.begin() + 5, m.begin() + 10);
  macInput.insert(macInput.end(), m.begin() + 18, m.end());
  Bytes tag = cmac(macKey, macInput);
  std::copy(tag.begin(), tag.begin() + 8, m.begin() + 10);
  return m;
}

Bytes plainMessage(uint8_t access, const Bytes& payload) {
  Bytes m = {0x53, 0x5A, access, 0x00, 0x00, 0x00};
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

uint8_t sum8(const uint8_t* p, size_t n) {
  unsigned s = 0;
  for (size_t i = 0; i < n; ++i) s += p[i];
  return static_cast<uint8_t>(s);
}

Bytes longFrame(const Bytes& msg) {
  Bytes f = {0x68, static_cast<uint8_t>(msg.size() + 1), static_cast<uint8_t>(msg.size() + 1),
             0x68, msg[0], 0xFB};
  f.insert(f.end(), msg.begin() + 1, msg.end());
  f.push_back(sum8(f.data() + 4, f.size() - 4));
  f.push_back(0x16);
  return f;
}

Bytes dongleFrame(uint8_t code, const Bytes& payload) {
  Bytes f = {code, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

TEST(SimTestCrypto, OwnCmacMatchesRfc4493) {
  // The messages below are only as good as this helper: anchor it to the published vectors.
  EXPECT_EQ(hex("BB1D6929E95937287FA37D129B756746"), cmac(hex("2B7E151628AED2A6ABF7158809CF4F3C"), {}));
  EXPECT_EQ(hex("070A16B46B4D4144F79BDD9DD04A287C"),
            cmac(hex("2B7E151628AED2A6ABF7158809CF4F3C"), hex("6BC1BEE22E409F96E93D7E117393172A")));
}

const Bytes reqUd2 = {0x10, 0x5B, 0xFB, 0x56, 0x16};
const Bytes wiredAddress = {0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x01, 0x36};
const Bytes wirelessAddress = {0x8F, 0x19, 0x78, 0x56, 0x8F, 0x19, 0x01, 0x36};
const Bytes testKey = hex("2B7E151628AED2A6ABF7158809CF4F3C");

// ---- driving the model ----

struct Harness {
  std::unique_ptr<SimSession> s = std::make_unique<SimSession>();
  int64_t now = 1000;

  explicit Harness(SimRole role, SimFaults f = simDefaultFaults()) {
    SimTiming t = simDefaultTiming();
    t.beaconMs = 0;  // beacons only where a test asks for them
    simSessionInit(*s, role, f, t);
    std::copy(testKey.begin(), testKey.end(), s->conv.key);
  }
  // Feeds the bytes, then collects every action due within the next second.
  std::vector<SimAction> exchange(const Bytes& in) {
    simSessionFeed(*s, in.data(), in.size(), now);
    std::vector<SimAction> out;
    int64_t end = now + 1000;
    for (int64_t t = now; t <= end; t += 10) {
      SimAction a;
      while (simSessionTakeDue(*s, t, a)) out.push_back(a);
    }
    now = end + 10;
    return out;
  }
  std::string line() const { return s->lastLine; }
};

Bytes joined(const std::vector<SimAction>& acts) {
  Bytes all;
  for (const SimAction& a : acts) all.insert(all.end(), a.bytes, a.bytes + a.n);
  return all;
}

// Checks a wired answer frame and returns its user data from frame byte 19 on.
Bytes checkWiredAnswer(const Bytes& f) {
  EXPECT_GE(f.size(), 27u);
  if (f.size() < 27) return {};
  size_t l = f[1];
  EXPECT_EQ(f.size(), l + 6);
  EXPECT_EQ(0x68, f[0]);
  EXPECT_EQ(f[1], f[2]);
  EXPECT_EQ(0x68, f[3]);
  EXPECT_EQ(0x08, f[4]);
  EXPECT_EQ(0xFB, f[5]);
  EXPECT_EQ(0x72, f[6]);
  EXPECT_EQ(Bytes(f.begin() + 7, f.begin() + 15), wiredAddress);
  EXPECT_EQ(0x00, f[16]);
  EXPECT_EQ(sum8(f.data() + 4, l), f[f.size() - 2]);
  EXPECT_EQ(0x16, f.back());
  return Bytes(f.begin() + 19, f.end() - 2);
}

uint32_t counterRecord(const Bytes& data) {
  for (size_t i = 0; i + 7 <= data.size(); ++i)
    if (data[i] == 0x04 && data[i + 1] == 0xFD && data[i + 2] == 0x08)
      return data[i + 3] | data[i + 4] << 8 | data[i + 5] << 16 | static_cast<uint32_t>(data[i + 6]) << 24;
  ADD_FAILURE() << "no counter record";
  return 0;
}

TEST(SimWired, ReqUd2AnswerLayoutAndChecksum) {
  Harness h(SimRole::wired);
  h.s->conv.counter = 41;
  auto acts = h.exchange(reqUd2);
  ASSERT_EQ(1u, acts.size());
  Bytes f = joined(acts);
  Bytes data = checkWiredAnswer(f);
  EXPECT_EQ(hex("04FD08290000 00 02FD0C0201"), data);
  EXPECT_EQ(41u, counterRecord(data));
  EXPECT_NE(std::string::npos, h.line().find("\twired\t105BFB5616\tREQ_UD2\taccepted\t"));
  // The access number of the converter's answers counts up.
  Bytes f2 = joined(h.exchange(reqUd2));
  ASSERT_GT(f2.size(), 16u);
  EXPECT_EQ(static_cast<uint8_t>(f[15] + 1), f2[15]);
}

TEST(SimWired, SecuredExampleMessageIsAccepted) {
  Harness h(SimRole::wired);
  SecuredRecipe sp;
  sp.key = testKey;
  sp.address = wiredAddress;
  sp.payload = hex("0F359200");
  Bytes m = buildSecured(sp);
  // The message this test builds matches the published example layout.
  ASSERT_EQ(48u, m.size());
  EXPECT_EQ(hex("53900F002C2504000000"), Bytes(m.begin(), m.begin() + 10));
  EXPECT_EQ(hex("5B785634122D2C013607001007 10"), Bytes(m.begin() + 18, m.begin() + 32));
  Bytes f = longFrame(m);
  EXPECT_EQ(49, f[1]);
  auto acts = h.exchange(f);
  ASSERT_EQ(1u, acts.size()) << h.line();
  Bytes data = checkWiredAnswer(joined(acts));
  ASSERT_GE(data.size(), 64u + 12u);
  EXPECT_EQ(hex("0F359200"), Bytes(data.begin(), data.begin() + 4));
  EXPECT_EQ(4u, counterRecord(Bytes(data.begin() + 64, data.end())));
  EXPECT_EQ(4u, h.s->conv.counter);
  EXPECT_NE(std::string::npos, h.line().find("\tsecured\taccepted\tctr=4 acc=7 Get Data slot 0"));
  // The next identity answer carries the counter that was accepted.
  EXPECT_EQ(4u, counterRecord(checkWiredAnswer(joined(h.exchange(reqUd2)))));
}

struct RefusalCase {
  const char* name;
  void (*tweak)(SecuredRecipe&);  // change before the message is built
  void (*bytes)(Bytes&);       // change after
  const char* reason;
};

void none(SecuredRecipe&) {}
void noBytes(Bytes&) {}

const RefusalCase refusalCases[] = {
    {"tampered MAC", none, [](Bytes& m) { m[12] ^= 0x01; }, "refused: bad MAC"},
    {"tampered ciphertext", none, [](Bytes& m) { m[40] ^= 0x80; }, "refused: bad MAC"},
    {"tampered counter", none, [](Bytes& m) { m[6] = 0x30; }, "refused: bad MAC"},
    {"wrong key", [](SecuredRecipe& sp) { sp.key[0] ^= 1; }, noBytes, "refused: bad MAC"},
    {"wireless constants", [](SecuredRecipe& sp) { sp.swapConstants = true; }, noBytes,
     "refused: bad MAC"},
    {"stale counter", [](SecuredRecipe& sp) { sp.counter = 20; }, noBytes, "refused: stale counter"},
    {"older counter", [](SecuredRecipe& sp) { sp.counter = 3; }, noBytes, "refused: stale counter"},
    {"zero fill", [](SecuredRecipe& sp) { sp.fill = 0x00; }, noBytes, "refused: bad fill"},
    {"bad prefix", [](SecuredRecipe& sp) { sp.prefix = 0x2E; }, noBytes, "refused: bad fill"},
    {"wrong address", [](SecuredRecipe& sp) { sp.address[0] = 0x79; }, noBytes,
     "refused: wrong address"},
    {"unknown command", [](SecuredRecipe& sp) { sp.payload = hex("0F359900"); }, noBytes,
     "refused: unknown"},
    {"slot out of range", [](SecuredRecipe& sp) { sp.payload = hex("0F359204"); }, noBytes,
     "refused: unknown"},
    {"wrong C-field", none, [](Bytes& m) { m[0] = 0x73; }, "refused: bad header"},
    {"wrong inner CI", none, [](Bytes& m) { m[18] = 0x72; }, "refused: bad header"},
};

TEST(SimWired, RefusedSecuredRequestsGetNoAnswer) {
  for (const RefusalCase& c : refusalCases) {
    SCOPED_TRACE(c.name);
    Harness h(SimRole::wired);
    h.s->conv.counter = 20;
    SecuredRecipe sp;
    sp.key = testKey;
    sp.counter = 24;
    sp.address = wiredAddress;
    sp.payload = hex("0F359200");
    c.tweak(sp);
    Bytes m = buildSecured(sp);
    c.bytes(m);
    auto acts = h.exchange(longFrame(m));
    EXPECT_TRUE(acts.empty());
    EXPECT_NE(std::string::npos, h.line().find(std::string("\tsecured\t") + c.reason))
        << h.line();
    EXPECT_EQ(20u, h.s->conv.counter);
  }
}

Bytes slotRecord(uint8_t slot) {
  Bytes r = {0x0F, 0x35, 0x93, slot, 0x01, 0x00, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x43, 0x04,
             0x01, 0x07, 0x43, 0x04, 0x34, 0x12, 0x00, 0x00, 0x01, 0x07};
  for (int i = 0; i < 16; ++i) r.push_back(static_cast<uint8_t>(0x10 + i));
  for (int i = 0; i < 16; ++i) r.push_back(static_cast<uint8_t>(0xF0 - i));
  r.insert(r.end(), {0x04, 0x02, 0x0B, 0x07, 0x01, 0xFA, 0x00, 0x00});
  return r;
}

TEST(SimWired, SetDataThenGetDataRoundTrips) {
  Harness h(SimRole::wired);
  SecuredRecipe sp;
  sp.key = testKey;
  sp.address = wiredAddress;
  sp.counter = 4;
  sp.payload = slotRecord(2);
  Bytes set = buildSecured(sp);
  EXPECT_EQ(112u, set.size());
  auto acts = h.exchange(longFrame(set));
  EXPECT_EQ(Bytes{0xE5}, joined(acts)) << h.line();
  EXPECT_NE(std::string::npos, h.line().find("Set Data slot 2 active=1 id=00001234 man=ABC"));
  sp.counter = 12;
  sp.payload = hex("0F359202");
  Bytes data = checkWiredAnswer(joined(h.exchange(longFrame(buildSecured(sp)))));
  ASSERT_GE(data.size(), 64u);
  Bytes expected = slotRecord(2);
  expected[2] = 0x92;
  EXPECT_EQ(expected, Bytes(data.begin(), data.begin() + 64));
  // Other slots are untouched.
  data = checkWiredAnswer(joined(h.exchange(longFrame(plainMessage(9, hex("0F359203"))))));
  ASSERT_GE(data.size(), 64u);
  EXPECT_EQ(0x00, data[8]);
  EXPECT_EQ(4, data[61]);
}

TEST(SimWired, OptionBitsAndPlainPermission) {
  Harness h(SimRole::wired);
  // Fresh converter: plain wired messages allowed, options read back as stored.
  Bytes data = checkWiredAnswer(joined(h.exchange(longFrame(plainMessage(1, hex("0F3597"))))));
  ASSERT_GE(data.size(), 11u);
  EXPECT_EQ(hex("0F3597 0100000000000000"), Bytes(data.begin(), data.begin() + 11));
  // Writing the bits is acknowledged with E5 and they read back.
  EXPECT_EQ(Bytes{0xE5},
            joined(h.exchange(longFrame(plainMessage(2, hex("0F3598 0001010200FF0000"))))));
  EXPECT_EQ(hex("0001010200FF0000"), Bytes(h.s->conv.options, h.s->conv.options + 8));
  // Bit 0 is now off: plain requests are refused without an answer...
  EXPECT_TRUE(h.exchange(longFrame(plainMessage(3, hex("0F3597")))).empty());
  EXPECT_NE(std::string::npos, h.line().find("\tplain\trefused: plain not allowed\tacc=3"));
  // ...while secured ones still pass.
  SecuredRecipe sp;
  sp.key = testKey;
  sp.address = wiredAddress;
  sp.payload = hex("0F3597");
  data = checkWiredAnswer(joined(h.exchange(longFrame(buildSecured(sp)))));
  ASSERT_GE(data.size(), 11u);
  EXPECT_EQ(hex("0F3597 0001010200FF0000"), Bytes(data.begin(), data.begin() + 11));
}

TEST(SimWired, ScanAnswerListsMetersAndSkipsNothing) {
  Harness h(SimRole::wired);
  Bytes data = checkWiredAnswer(joined(h.exchange(longFrame(plainMessage(0, hex("0F3596"))))));
  ASSERT_GE(data.size(), 84u);
  EXPECT_EQ(hex("0F3596"), Bytes(data.begin(), data.begin() + 3));
  // Entry 1 is ABC 12345678 version 01 type 07; the converter's own kind is listed too.
  EXPECT_EQ(hex("4304785634120107"), Bytes(data.begin() + 14, data.begin() + 22));
  bool converterListed = false;
  for (size_t e = 0; e < 8; ++e) {
    const uint8_t* p = data.data() + 4 + e * 10;
    if (p[0] == 0x8F && p[1] == 0x19 && p[7] == 0x36) converterListed = true;
  }
  EXPECT_TRUE(converterListed);
}

TEST(SimWired, BadRequestFramesAreRecorded) {
  Harness h(SimRole::wired);
  EXPECT_TRUE(h.exchange(hex("105BFB5716")).empty());
  EXPECT_NE(std::string::npos, h.line().find("\tframe\trefused: bad checksum"));
  EXPECT_TRUE(h.exchange(hex("4142")).empty());
  EXPECT_NE(std::string::npos, h.line().find("\t4142\tnoise\t"));
  // A request split over two writes is still one request.
  EXPECT_TRUE(h.exchange(hex("105B")).empty());
  EXPECT_EQ(1u, h.exchange(hex("FB5616")).size());
  // A partial frame left alone is dropped and recorded.
  simSessionFeed(*h.s, reqUd2.data(), 3, h.now);
  simSessionTick(*h.s, h.now + 2000);
  EXPECT_NE(std::string::npos, h.line().find("refused: incomplete frame"));
}

struct FaultCase {
  const char* name;
  void (*set)(SimFaults&);
  void (*check)(const std::vector<SimAction>&);
};

Bytes healthyAnswer() {
  Harness h(SimRole::wired);
  return joined(h.exchange(reqUd2));
}

const FaultCase faultCases[] = {
    {"bad checksum", [](SimFaults& f) { f.badChecksum = true; },
     [](const std::vector<SimAction>& a) {
       Bytes f = joined(a);
       ASSERT_GT(f.size(), 6u);
       EXPECT_NE(sum8(f.data() + 4, f[1]), f[f.size() - 2]);
       EXPECT_EQ(0x16, f.back());
     }},
    {"stray", [](SimFaults& f) { f.stray = true; },
     [](const std::vector<SimAction>& a) {
       Bytes f = joined(a);
       ASSERT_FALSE(f.empty());
       EXPECT_EQ(0x41, f[0]);
       EXPECT_EQ(healthyAnswer(), Bytes(f.begin() + 1, f.end()));
     }},
    {"e5", [](SimFaults& f) { f.e5 = true; },
     [](const std::vector<SimAction>& a) { EXPECT_EQ(Bytes{0xE5}, joined(a)); }},
    {"zero", [](SimFaults& f) { f.zero = true; },
     [](const std::vector<SimAction>& a) { EXPECT_EQ(Bytes{0x00}, joined(a)); }},
    {"silent", [](SimFaults& f) { f.silent = true; },
     [](const std::vector<SimAction>& a) { EXPECT_TRUE(a.empty()); }},
    {"double", [](SimFaults& f) { f.doubleFrames = true; },
     [](const std::vector<SimAction>& a) {
       ASSERT_EQ(1u, a.size());
       Bytes one = healthyAnswer();
       Bytes two = one;
       two.insert(two.end(), one.begin(), one.end());
       EXPECT_EQ(two, joined(a));
     }},
    {"split 4", [](SimFaults& f) { f.splitBytes = 4; },
     [](const std::vector<SimAction>& a) {
       ASSERT_GT(a.size(), 2u);
       for (size_t i = 0; i < a.size(); ++i) {
         EXPECT_LE(a[i].n, 4u);
         if (i) {
           EXPECT_GT(a[i].dueMs, a[i - 1].dueMs);
         }
       }
       EXPECT_EQ(healthyAnswer(), joined(a));
     }},
    {"hang-up mid-frame", [](SimFaults& f) { f.hangupMidframe = true; },
     [](const std::vector<SimAction>& a) {
       ASSERT_EQ(2u, a.size());
       EXPECT_FALSE(a[0].hangup);
       EXPECT_TRUE(a[1].hangup);
       Bytes full = healthyAnswer();
       EXPECT_EQ(Bytes(full.begin(), full.begin() + static_cast<long>(a[0].n)), joined({a[0]}));
       EXPECT_LT(a[0].n, full.size());
     }},
};

TEST(SimFaultsWired, EachSwitchShapesTheReqUd2Answer) {
  for (const FaultCase& c : faultCases) {
    SCOPED_TRACE(c.name);
    SimFaults f = simDefaultFaults();
    c.set(f);
    Harness h(SimRole::wired, f);
    c.check(h.exchange(reqUd2));
  }
}

// ---- dongle ----

struct DongleFrameView {
  uint8_t code;
  Bytes payload;
};

std::vector<DongleFrameView> splitDongle(const Bytes& all) {
  std::vector<DongleFrameView> out;
  size_t i = 0;
  while (i + 3 <= all.size()) {
    size_t n = all[i + 1] | all[i + 2] << 8;
    if (i + 3 + n > all.size()) {
      ADD_FAILURE() << "truncated dongle frame";
      break;
    }
    out.push_back({all[i], Bytes(all.begin() + static_cast<long>(i + 3),
                                 all.begin() + static_cast<long>(i + 3 + n))});
    i += 3 + n;
  }
  EXPECT_EQ(i, all.size());
  return out;
}

bool isConverterRadio(const DongleFrameView& f) {
  return f.code != 0x0D && f.payload.size() > 14 && f.payload[1] == 0x8F &&
         f.payload[2] == 0x19 && f.payload[8] == 0x36;
}

TEST(SimDongle, StartAndPartnerAreAcknowledged) {
  Harness h(SimRole::dongle);
  auto frames = splitDongle(joined(h.exchange(hex("AB0000"))));
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(0x20, frames[0].code);
  EXPECT_TRUE(frames[0].payload.empty());
  ASSERT_TRUE(isConverterRadio(frames[1]));
  EXPECT_EQ(hex("8F19785634120136"), Bytes(frames[1].payload.begin() + 1, frames[1].payload.begin() + 9));
  Bytes tail(frames[1].payload.begin() + 14, frames[1].payload.end());
  EXPECT_EQ(hex("04FD0800000000 02FD0C0201"), tail);
  frames = splitDongle(joined(h.exchange(dongleFrame(0x01, hex("8F19785634120136")))));
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(0x20, frames[0].code);
  EXPECT_NE(std::string::npos, h.line().find("partner 8F19785634120136 (this converter)"));
  frames = splitDongle(joined(h.exchange(hex("770000"))));
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(0x1F, frames[0].code);
}

TEST(SimDongle, UnplugDropsWhatWasUnderwayAndKeepsTheConverter) {
  Harness h(SimRole::dongle);
  h.s->conv.counter = 17;
  const size_t meters = h.s->conv.meterCount;
  const Bytes start = hex("AB0000");
  const Bytes half = hex("AC0500");
  simSessionFeed(*h.s, start.data(), start.size(), h.now);
  simSessionFeed(*h.s, half.data(), half.size(), h.now);
  ASSERT_GE(simSessionNextDueMs(*h.s), h.now);  // the acknowledgement waits
  simSessionUnplug(*h.s);
  EXPECT_EQ(-1, simSessionNextDueMs(*h.s));
  EXPECT_EQ(17u, h.s->conv.counter);
  EXPECT_EQ(meters, h.s->conv.meterCount);
  // The half frame is gone with the stick: a fresh start is answered, not taken as payload.
  auto frames = splitDongle(joined(h.exchange(start)));
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(0x20, frames[0].code);
}

TEST(SimDongle, SecuredWirelessRequestIsAnsweredOverTheAir) {
  Harness h(SimRole::dongle);
  SecuredRecipe sp;
  sp.wired = false;
  sp.key = testKey;
  sp.address = wirelessAddress;
  sp.counter = 8;
  sp.access = 3;
  sp.payload = hex("0F359201");
  auto acts = h.exchange(dongleFrame(0xAC, buildSecured(sp)));
  auto frames = splitDongle(joined(acts));
  ASSERT_EQ(3u, frames.size()) << h.line();
  EXPECT_EQ(0x20, frames[0].code);
  EXPECT_EQ(0x50, frames[1].code);
  ASSERT_TRUE(isConverterRadio(frames[2]));
  const Bytes& p = frames[2].payload;
  EXPECT_EQ(hex("0F359201"), Bytes(p.begin() + 14, p.begin() + 18));
  EXPECT_EQ(8u, counterRecord(Bytes(p.begin() + 14 + 64, p.end())));
  EXPECT_NE(std::string::npos, h.line().find("\tsecured\taccepted\tctr=8 acc=3 Get Data slot 1"));
  // Wired derivation constants over the air fail the MAC; the dongle still acknowledges.
  sp.counter = 16;
  sp.swapConstants = true;
  frames = splitDongle(joined(h.exchange(dongleFrame(0xAC, buildSecured(sp)))));
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(0x20, frames[0].code);
  EXPECT_EQ(0x50, frames[1].code);
  EXPECT_NE(std::string::npos, h.line().find("refused: bad MAC"));
}

TEST(SimDongle, PlainOverTheAirAndOverlongFramesAreRefused) {
  Harness h(SimRole::dongle);
  Bytes plain = {0x43, 0x5A, 0x01, 0x00, 0x00, 0x00, 0x0F, 0x35, 0x97};
  auto frames = splitDongle(joined(h.exchange(dongleFrame(0xAC, plain))));
  ASSERT_EQ(2u, frames.size());  // ACK and "sent", but no answer from the converter
  EXPECT_NE(std::string::npos, h.line().find("\tplain\trefused: plain not allowed"));
  // A frame announcing more than the stick takes is skipped whole; the next one is served.
  Bytes big = dongleFrame(0xAC, Bytes(700, 0x2F));
  big.insert(big.end(), {0xAB, 0x00, 0x00});
  frames = splitDongle(joined(h.exchange(big)));
  ASSERT_GE(frames.size(), 1u);
  EXPECT_EQ(0x20, frames[0].code);
  EXPECT_NE(std::string::npos, h.line().find("\tdongle 0xAB\taccepted"));
  EXPECT_EQ(3u, h.s->requestCount);  // plain, the overlong frame, AB
}

TEST(SimDongle, StallCutsTheAnswerFrameNotTheStatusReports) {
  SimFaults f = simDefaultFaults();
  f.stallMidpayload = true;
  Harness h(SimRole::dongle, f);
  h.s->timing.stallMs = 400;
  SecuredRecipe sp;
  sp.wired = false;
  sp.key = testKey;
  sp.address = wirelessAddress;
  sp.payload = hex("0F3597");
  auto acts = h.exchange(dongleFrame(0xAC, buildSecured(sp)));
  ASSERT_EQ(4u, acts.size());
  EXPECT_EQ(hex("200000"), joined({acts[0]}));
  EXPECT_EQ(hex("500000"), joined({acts[1]}));
  EXPECT_GE(acts[3].dueMs - acts[2].dueMs, 400);
  auto frames = splitDongle(joined({acts[2], acts[3]}));
  ASSERT_EQ(1u, frames.size());
  EXPECT_TRUE(isConverterRadio(frames[0]));
}

TEST(SimDongle, BeaconsCarryOtherTrafficToo) {
  SimFaults f = simDefaultFaults();
  f.unknownStatus = true;
  Harness h(SimRole::dongle, f);
  h.s->timing.beaconMs = 100;
  std::vector<SimAction> acts;
  for (int64_t t = 0; t < 1000; t += 10) {
    simSessionTick(*h.s, t);
    SimAction a;
    while (simSessionTakeDue(*h.s, t, a)) acts.push_back(a);
  }
  auto frames = splitDongle(joined(acts));
  int converter = 0, meters = 0, ignored = 0, unknown = 0;
  for (const auto& fr : frames) {
    if (fr.code == 0x0D) {
      ++ignored;
    } else if (isConverterRadio(fr)) {
      ++converter;
    } else if (fr.payload.empty() && fr.code == 0x7E) {
      ++unknown;
    } else if (fr.payload.size() > 9 && fr.payload[8] != 0x36) {
      ++meters;
    }
  }
  EXPECT_GE(converter, 9);
  EXPECT_GE(meters, 3);
  EXPECT_GE(ignored, 2);
  EXPECT_EQ(converter, unknown);
}

TEST(SimDongle, NackAndAnnounceFaults) {
  SimFaults f = simDefaultFaults();
  f.nack = true;
  Harness h(SimRole::dongle, f);
  EXPECT_EQ(hex("1F0000"), joined(h.exchange(hex("AB0000"))));
  SimFaults g = simDefaultFaults();
  g.announce = 65535;
  Harness a(SimRole::dongle, g);
  Bytes all = joined(a.exchange(hex("AB0000")));
  // ACK, the converter frame, then a header announcing 65535 bytes that never all come.
  auto first = splitDongle(Bytes(all.begin(), all.begin() + 3));
  ASSERT_EQ(1u, first.size());
  size_t radio = 3 + 3 + (all[4] | all[5] << 8);
  ASSERT_GT(all.size(), radio + 3);
  EXPECT_EQ(hex("8EFFFF"), Bytes(all.begin() + static_cast<long>(radio),
                                 all.begin() + static_cast<long>(radio + 3)));
  EXPECT_EQ(600u, all.size() - radio - 3);
}

// Four more converters behind the stick, one with each fault, as a site file describes them.
TEST(SimDongle, SeveralConvertersAnswerEachAsItself) {
  Harness h(SimRole::dongle);
  h.s->timing.beaconMs = 400;
  const char* const lines[] = {"2A00B017 2B7E151628AED2A6ABF7158809CF4F3C slot2=87654321 options=0000000000000001",
                               "2a00b018 2B7E151628AED2A6ABF7158809CF4F3C silent",
                               "2A00B019 2B7E151628AED2A6ABF7158809CF4F3C wrong-key",
                               "2A00B01A 2B7E151628AED2A6ABF7158809CF4F3C stores-wrongly"};
  std::string error;
  for (const char* line : lines)
    ASSERT_TRUE(simParseConverterLine(line, h.s->others[h.s->otherCount++], error)) << line << ": " << error;
  EXPECT_FALSE(simParseConverterLine("2A00B01 2B7E151628AED2A6ABF7158809CF4F3C", h.s->others[9], error));
  EXPECT_FALSE(simParseConverterLine("2A00B017 2B7E151628AED2A6ABF7158809CF4F3C slot5=87654321", h.s->others[9], error));
  // Within a period after the start every converter but the silent one is heard, each as itself.
  const Bytes start = hex("AB0000");
  simSessionFeed(*h.s, start.data(), start.size(), h.now);
  std::vector<SimAction> acts;
  for (int64_t t = h.now; t < h.now + 400; t += 5) {
    simSessionTick(*h.s, t);
    SimAction a;
    while (simSessionTakeDue(*h.s, t, a)) acts.push_back(a);
  }
  h.now += 1000;
  std::set<Bytes> heard;
  for (const auto& f : splitDongle(joined(acts)))
    if (isConverterRadio(f)) heard.emplace(f.payload.begin() + 3, f.payload.begin() + 7);
  EXPECT_EQ(heard, (std::set<Bytes>{hex("78563412"), hex("17B0002A"), hex("19B0002A"), hex("1AB0002A")}));

  // Request to converter 2A00B0xx with the listed key; returns the converter radio frames.
  uint32_t counter = 1;
  auto ask = [&](uint8_t low, const Bytes& payload) {
    h.exchange(dongleFrame(0x01, {0x8F, 0x19, low, 0xB0, 0x00, 0x2A, 0x01, 0x36}));
    SecuredRecipe sp;
    sp.wired = false;
    sp.key = testKey;
    sp.address = {0x8F, 0x19, low, 0xB0, 0x8F, 0x19, 0x01, 0x36};
    sp.counter = counter++;
    sp.payload = payload;
    std::vector<DongleFrameView> radio;
    for (const auto& f : splitDongle(joined(h.exchange(dongleFrame(0xAC, buildSecured(sp))))))
      if (isConverterRadio(f)) radio.push_back(f);
    return radio;
  };
  auto answer = ask(0x17, hex("0F359201"));
  ASSERT_EQ(answer.size(), 1u) << h.line();
  EXPECT_EQ(Bytes(answer[0].payload.begin() + 3, answer[0].payload.begin() + 7), hex("17B0002A"));
  EXPECT_EQ(Bytes(answer[0].payload.begin() + 14 + 8, answer[0].payload.begin() + 14 + 12), hex("21436587"));
  EXPECT_NE(h.line().find("\taccepted\tconverter 2A00B017: ctr=1"), std::string::npos) << h.line();
  EXPECT_TRUE(ask(0x18, hex("0F359200")).empty());
  EXPECT_NE(h.line().find("refused: converter silent\tconverter 2A00B018: "), std::string::npos) << h.line();
  EXPECT_TRUE(ask(0x19, hex("0F359200")).empty());
  EXPECT_NE(h.line().find("refused: bad MAC"), std::string::npos) << h.line();
  Bytes set(64, 0x00);
  set[0] = 0x0F, set[1] = 0x35, set[2] = 0x93, set[61] = 6;
  EXPECT_EQ(ask(0x1A, set).size(), 1u) << h.line();
  answer = ask(0x1A, hex("0F359200"));
  ASSERT_EQ(answer.size(), 1u) << h.line();
  EXPECT_EQ(answer[0].payload[14 + 61], 7);  // stored wrongly: 6 was written
  // The first converter kept its own slots all along.
  EXPECT_EQ(h.s->conv.slots[1][61], 2);
}

// ---- the real binary ----

std::string simBinary() { return std::string(QUARN_BINARY_DIR) + "/sim/quarn-sim"; }

struct RunningSim {
  pid_t pid = -1;
  int out = -1;
  std::string dir, link, transcript, entry;

  explicit RunningSim(const std::vector<std::string>& extra) {
    char tmpl[] = "/tmp/quarn-sim-test-XXXXXX";
    dir = mkdtemp(tmpl);
    link = dir + "/sub/ttySIM0";
    transcript = dir + "/transcript.txt";
    int pipefd[2];
    if (pipe(pipefd) != 0) return;
    std::vector<std::string> args = {simBinary(), "--link", link, "--transcript", transcript,
                                     "--exit-after", "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid = fork();
    if (pid == 0) {
      dup2(pipefd[1], 1);
      close(pipefd[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipefd[1]);
    out = pipefd[0];
    entry = readLine(5000);
  }
  std::string readLine(int timeoutMs) {
    std::string s;
    char c;
    while (true) {
      struct pollfd p = {out, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      if (read(out, &c, 1) != 1 || c == '\n') break;
      s.push_back(c);
    }
    return s;
  }
  int stop() {
    int status = -1;
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, &status, 0);
      pid = -1;
    }
    return status;
  }
  ~RunningSim() {
    stop();
    if (out >= 0) close(out);
    unlink(transcript.c_str());
    unlink(link.c_str());
    rmdir((dir + "/sub").c_str());
    rmdir(dir.c_str());
  }
};

int openRaw(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct termios t;
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Reads until `want` bytes arrived or the time is up.
Bytes readFor(int fd, size_t want, int timeoutMs) {
  Bytes got;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < want && std::chrono::steady_clock::now() < end) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      uint8_t buf[512];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
      if (n <= 0 && (p.revents & POLLHUP)) break;
    }
  }
  return got;
}

std::string lastTranscriptLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}

struct WireFaultCase {
  const char* flag;
  const char* value;  // nullptr for switches
  size_t bytes;       // what arrives for one REQ_UD2
  uint8_t first;
};

const WireFaultCase wireFaultCases[] = {
    {"--counter", "41", 33, 0x68},    {"--split", "4", 33, 0x68},       {"--double", nullptr, 66, 0x68},
    {"--stray", nullptr, 34, 0x41},   {"--bad-checksum", nullptr, 33, 0x68},
    {"--e5", nullptr, 1, 0xE5},       {"--zero", nullptr, 1, 0x00},
    {"--silent", nullptr, 0, 0x00},   {"--hangup-midframe", nullptr, 16, 0x68},
};

// Waits until the far side sees the hang-up of an unplug: POLLHUP, or a read of EIO or 0.
bool sawHangup(int fd, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    if (p.revents & POLLHUP) return true;
    uint8_t buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
  }
  return false;
}

bool appearsWithin(const std::string& path, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(SimBinary, UnplugHangsUpAndReplugLinksThePathAgain) {
  struct Case {
    const char* role;
    const char* replug;  // nullptr: stays out
    Bytes request;
    size_t answerBytes;
  };
  const Case cases[] = {
      {"dongle", "300", hex("AB0000"), 3},  // with its own serial in the entry
      {"wired", "300", reqUd2, 33},
      {"dongle", nullptr, hex("AB0000"), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.role) + (c.replug ? " replugged" : " left out"));
    const bool wired = c.role == std::string("wired");
    std::vector<std::string> args = {"--role", c.role, "--beacon-ms", "0", "--unplug-after", "800", "--serial", "000077"};
    if (c.replug) args.insert(args.end(), {"--replug-after", c.replug});
    RunningSim sim(args);
    EXPECT_EQ(wired ? sim.link : sim.link + "|USB\\VID_10C4&PID_0003\\ZJ000077|Wireless M-Bus stick (simulated)",
              sim.entry);
    int fd = openRaw(sim.link);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(c.request.size()), write(fd, c.request.data(), c.request.size()));
    EXPECT_EQ(c.answerBytes, readFor(fd, c.answerBytes, 300).size());
    EXPECT_TRUE(sawHangup(fd, 3000));
    close(fd);
    EXPECT_NE(0, access(sim.link.c_str(), F_OK));  // the path went with the device
    if (!c.replug) {
      EXPECT_FALSE(appearsWithin(sim.link, 700));
      continue;
    }
    ASSERT_TRUE(appearsWithin(sim.link, 3000));
    fd = openRaw(sim.link);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(c.request.size()), write(fd, c.request.data(), c.request.size()));
    Bytes again = readFor(fd, c.answerBytes, 3000);
    close(fd);
    ASSERT_EQ(c.answerBytes, again.size());
    EXPECT_EQ(wired ? 0x68 : 0x20, again[0]);
    EXPECT_EQ("", sim.readLine(100));  // nothing new printed
  }
}

// Each switch shapes the answer to a REQ_UD2, again after the client hung up and opened the port
// anew (after a hang-up mid-frame the link names a fresh PTY); the link goes with the simulator.
TEST(SimBinary, WiredFaultSwitchesOverThePty) {
  for (const WireFaultCase& c : wireFaultCases) {
    SCOPED_TRACE(c.flag);
    std::vector<std::string> args = {"--role", "wired", "--split-delay-ms", "30", c.flag};
    if (c.value) args.push_back(c.value);
    RunningSim sim(args);
    ASSERT_EQ(sim.link, sim.entry);
    for (size_t want : {c.bytes + 1, c.bytes}) {  // the first read also waits for a byte too many
      int fd = openRaw(sim.link);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(5, write(fd, reqUd2.data(), reqUd2.size()));
      Bytes got = readFor(fd, want, c.bytes ? 1500 : 600);
      close(fd);
      ASSERT_EQ(c.bytes, got.size());
      if (c.bytes) {
        EXPECT_EQ(c.first, got[0]);
      }
      if (c.bytes == 33) {
        bool goodSum = sum8(got.data() + 4, got[1]) == got[31];
        EXPECT_EQ(std::string(c.flag) != "--bad-checksum", goodSum);
      }
      const std::string line = lastTranscriptLine(sim.transcript);
      EXPECT_NE(std::string::npos, line.find("\tREQ_UD2\taccepted")) << line;
      if (c.value != nullptr && std::string(c.value) == "41") {
        EXPECT_EQ(41u, counterRecord(checkWiredAnswer(got)));
        EXPECT_NE(std::string::npos, line.find("\tREQ_UD2\taccepted\tREQ_UD2 counter=41")) << line;
      }
    }
    int status = sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(0, access(sim.link.c_str(), F_OK));  // the link went with the simulator
  }
}

TEST(SimBinary, FloodKeepsServing) {
  RunningSim sim({"--role", "dongle", "--flood", "--beacon-ms", "0"});
  int fd = openRaw(sim.link);
  ASSERT_GE(fd, 0);
  EXPECT_GE(readFor(fd, 4096, 3000).size(), 4096u);
  close(fd);
  int status = sim.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Runs quarn-sim with the environment changes given (an empty value unsets) and the arguments,
// until it printed its first line or ended. Returns that line; status is -1 while it runs.
std::string startSim(const std::vector<std::pair<std::string, std::string>>& env,
                     const std::vector<std::string>& extra, int& status) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return "";
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& e : env) {
      if (e.second.empty()) {
        unsetenv(e.first.c_str());
      } else {
        setenv(e.first.c_str(), e.second.c_str(), 1);
      }
    }
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    dup2(pipefd[1], 1);
    close(pipefd[0]);
    std::vector<std::string> args = {simBinary(), "--exit-after", "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  std::string line;
  char c = 0;
  ssize_t got = 0;
  struct pollfd p = {pipefd[0], POLLIN, 0};
  while (poll(&p, 1, 5000) > 0 && (got = read(pipefd[0], &c, 1)) == 1 && c != '\n') line.push_back(c);
  close(pipefd[0]);
  if (got == 0) {  // its output closed: it is ending
    waitpid(pid, &status, 0);
    return line;
  }
  status = -1;
  kill(pid, SIGTERM);
  int ignored = 0;
  waitpid(pid, &ignored, 0);
  return line;
}

// The link lands in a folder of the user's own; any folder another account owns or may write
// to is refused, so nobody else can put a PTY behind the path Quarn opens.
TEST(SimBinary, LinkOnlyInAFolderOfOurOwn) {
  char tmpl[] = "/tmp/quarn-sim-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const std::string uid = std::to_string(geteuid());
  struct Case {
    const char* name;
    const char* folder;  // below dir; made with mode before the run unless null
    mode_t mode;
    bool otherOwner;
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::string> args;
    std::string link;  // expected first line; empty: refused with status 1
  };
  const Case cases[] = {
      {"runtime folder", "run", 0700, false, {{"XDG_RUNTIME_DIR", dir + "/run"}}, {}, dir + "/run/ttySIM0"},
      {"private temporary folder", nullptr, 0, false, {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", dir}}, {},
       dir + "/quarn-sim-" + uid + "/ttySIM0"},
      {"explicit link, new folder", nullptr, 0, false, {}, {"--link", dir + "/new/ttyX"}, dir + "/new/ttyX"},
      {"others may write", "open", 0777, false, {}, {"--link", dir + "/open/ttyX"}, ""},
      {"group may write", "group", 0770, false, {}, {"--link", dir + "/group/ttyX"}, ""},
      {"runtime folder others may write", "wide", 0703, false, {{"XDG_RUNTIME_DIR", dir + "/wide"}}, {}, ""},
      {"someone else's folder", "theirs", 0700, true, {}, {"--link", dir + "/theirs/ttyX"}, ""},
      // Every folder on the way counts, and links are followed one by one.
      {"a folder above others may write", "shared", 0777, false, {}, {"--link", dir + "/shared/mine/ttyX"}, ""},
      {"a sticky folder above, as /tmp", "sticky", 01777, false, {}, {"--link", dir + "/sticky/mine/ttyX"},
       dir + "/sticky/mine/ttyX"},
      {"a link in a folder others may write", nullptr, 0, false, {}, {"--link", dir + "/public/ln/ttyX"}, ""},
      {"a link of our own to a private folder", nullptr, 0, false, {}, {"--link", dir + "/ours/ttyX"},
       dir + "/ours/ttyX"},
  };
  // public (writable by all) holds a link to a private folder: whoever may write to public could
  // point the link elsewhere.
  ASSERT_EQ(mkdir((dir + "/private").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir + "/public").c_str(), 0700), 0);
  ASSERT_EQ(chmod((dir + "/public").c_str(), 0777), 0);
  ASSERT_EQ(symlink((dir + "/private").c_str(), (dir + "/public/ln").c_str()), 0);
  ASSERT_EQ(symlink("private", (dir + "/ours").c_str()), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.folder != nullptr) {
      const std::string folder = dir + "/" + c.folder;
      ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
      ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
      if (c.otherOwner && geteuid() != 0) {
        std::printf("[  SKIPPED ] %s: only root can give a folder to another user\n", c.name);
        continue;
      }
      if (c.otherOwner) {
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
      }
    }
    int status = 0;
    const std::string line = startSim(c.env, c.args, status);
    if (c.link.empty()) {
      EXPECT_EQ(line, "");
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    } else {
      EXPECT_EQ(line, c.link);
      EXPECT_EQ(status, -1) << "quarn-sim ended";
    }
  }
  // Folders quarn-sim makes for its link are for the user alone.
  for (const std::string& made : {dir + "/new", dir + "/quarn-sim-" + uid}) {
    struct stat st;
    ASSERT_EQ(stat(made.c_str(), &st), 0) << made;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(SimBinary, RejectsBadOptions) {
  for (const char* bad : {"--key=00", "--role=modem", "--id=XYZ", "--bogus", "--unplug-after=-1",
                          "--replug-after=100"}) {
    int status = 0;
    EXPECT_EQ("", startSim({}, {bad, "--link", "/tmp/quarn-sim-never/ttyX"}, status)) << bad;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << bad;
  }
}

}  // namespace
