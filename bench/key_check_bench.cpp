// Key check of 250 meters with 8 candidate keys each (4 entries per meter, only the last entry's
// second key right), half in mode 5 and half in mode 7, set against OpenSSL doing the same
// decryptions (and mode 7's CMAC derivations). Prints the median and best of several rounds.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_clock.h"
#include "codec/meter_key_check.h"
#include "codec/meter_telegram.h"

namespace {

constexpr int meterCount = 250;
constexpr int entriesPerMeter = 4;  // two keys each: 8 candidates, the eighth right
constexpr int rounds = 21;

using Bytes = std::vector<uint8_t>;

Bytes cbc(const uint8_t* key, const uint8_t* iv, const uint8_t* in, size_t n, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(n + 16);
  int a = 0, b = 0;
  EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &a, in, int(n));
  EVP_CipherFinal_ex(ctx, out.data() + a, &b);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(a + b));
  return out;
}

struct OpensslCmac {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  ~OpensslCmac() {
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
  }
  void tag(const uint8_t* key, const uint8_t* msg, size_t n, uint8_t out[16]) {
    char cipher[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                                 OSSL_PARAM_construct_end()};
    size_t length = 0;
    EVP_MAC_init(ctx, key, 16, params);
    EVP_MAC_update(ctx, msg, n);
    EVP_MAC_final(ctx, out, &length, 16);
  }
};

void derivationBlock(const uint8_t* id, uint32_t counter, uint8_t block[16]) {
  block[0] = 0x00;
  for (int i = 0; i < 4; ++i) block[1 + i] = uint8_t(counter >> (8 * i));
  std::memcpy(block + 5, id, 4);
  std::memset(block + 9, 0x07, 7);
}

struct Meter {
  Bytes telegram;
  uint8_t key[16];
  bool mode7;
};

Meter makeMeter(int i, OpensslCmac& cmac) {
  Meter m;
  m.mode7 = i % 2 == 1;
  for (int k = 0; k < 16; ++k) m.key[k] = uint8_t(i * 31 + k * 7 + 1);
  const uint8_t address[8] = {0x2D, 0x2C, uint8_t(i), uint8_t(i >> 8), 0x34, 0x12, 0x1B, 0x07};
  uint8_t plain[16];
  std::memset(plain, 0x2F, 16);
  plain[2] = 0x0C;
  plain[3] = 0x13;
  m.telegram = {0x44};
  m.telegram.insert(m.telegram.end(), address, address + 8);
  if (!m.mode7) {
    const uint8_t access = uint8_t(i);
    m.telegram.insert(m.telegram.end(), {0x7A, access, 0x00, 0x10, 0x05});
    uint8_t iv[16];
    std::memcpy(iv, address, 8);
    std::memset(iv + 8, access, 8);
    const Bytes c = cbc(m.key, iv, plain, 16, true);
    m.telegram.insert(m.telegram.end(), c.begin(), c.end());
  } else {
    const uint32_t counter = uint32_t(1000 + i);
    m.telegram.insert(m.telegram.end(), {0x90, 0x0F, 0x00, 0x2C, 0x25, uint8_t(counter), uint8_t(counter >> 8), 0, 0});
    m.telegram.insert(m.telegram.end(), 8, 0xAA);
    m.telegram.insert(m.telegram.end(), {0x7A, 0x01, 0x00, 0x10, 0x07, 0x10});
    uint8_t block[16], kenc[16];
    derivationBlock(address + 2, counter, block);
    cmac.tag(m.key, block, 16, kenc);
    const uint8_t zero[16] = {};
    const Bytes c = cbc(kenc, zero, plain, 16, true);
    m.telegram.insert(m.telegram.end(), c.begin(), c.end());
  }
  return m;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  OpensslCmac cmac;
  std::vector<Meter> meters;
  for (int i = 0; i < meterCount; ++i) meters.push_back(makeMeter(i, cmac));
  std::unique_ptr<MeterKeyList> keys(new MeterKeyList());
  keys->count = 0;
  for (int i = 0; i < meterCount; ++i) {
    for (int e = 0; e < entriesPerMeter; ++e) {
      MeterKeyEntry& entry = keys->entries[keys->count++];
      const uint8_t id[4] = {0x12, 0x34, uint8_t(i >> 8), uint8_t(i)};
      std::memcpy(entry.id, id, 4);
      for (int k = 0; k < 16; ++k) entry.firstKey[k] = uint8_t(0xA0 + e + k);
      if (e == entriesPerMeter - 1) std::memcpy(entry.secondKey, meters[size_t(i)].key, 16);
      else for (int k = 0; k < 16; ++k) entry.secondKey[k] = uint8_t(0xB0 + e + k);
    }
  }

  std::vector<MeterTelegram> parsed(meters.size());
  for (size_t i = 0; i < meters.size(); ++i)
    parseMeterTelegram(meters[i].telegram.data(), meters[i].telegram.size(), LengthByte::absent, parsed[i]);

  std::vector<double> quarn, openssl;
  int right = 0;
  for (int r = 0; r < rounds; ++r) {
    right = 0;
    double t0 = monotonicMs();
    for (size_t i = 0; i < meters.size(); ++i)
      right += checkMeterKey(parsed[i], *keys).verdict == KeyVerdict::right;
    quarn.push_back(monotonicMs() - t0);

    // OpenSSL: the same eight candidates per meter, each a CBC decryption of the first block
    // (mode 7: after its CMAC derivation), stopping at the one beginning 2F 2F.
    int opensslRight = 0;
    t0 = monotonicMs();
    for (size_t i = 0; i < meters.size(); ++i) {
      const MeterTelegram& t = parsed[i];
      const uint8_t* cipher = t.body + t.encryptedOffset;
      for (int e = 0; e < entriesPerMeter * 2; ++e) {
        const MeterKeyEntry& entry = keys->entries[i * entriesPerMeter + size_t(e / 2)];
        const uint8_t* key = e % 2 == 0 ? entry.firstKey : entry.secondKey;
        uint8_t iv[16] = {}, blockKey[16];
        if (t.securityMode == 5) {
          std::memcpy(iv, t.meterAddress, 8);
          std::memset(iv + 8, t.accessNumber, 8);
          std::memcpy(blockKey, key, 16);
        } else {
          uint8_t block[16];
          derivationBlock(t.meterAddress + 2, t.aflCounter, block);
          cmac.tag(key, block, 16, blockKey);
        }
        const Bytes plain = cbc(blockKey, iv, cipher, 16, false);
        if (plain[0] == 0x2F && plain[1] == 0x2F) {
          ++opensslRight;
          break;
        }
      }
    }
    openssl.push_back(monotonicMs() - t0);
    if (opensslRight != meterCount) std::printf("OpenSSL found %d of %d\n", opensslRight, meterCount);
  }
  std::printf("key check: %d meters x %d candidates (half mode 5, half mode 7), %d right\n", meterCount,
              entriesPerMeter * 2, right);
  std::printf("quarn    median %.2f ms  best %.2f ms  (bound 50 ms)\n", median(quarn),
              *std::min_element(quarn.begin(), quarn.end()));
  std::printf("openssl  median %.2f ms  best %.2f ms\n", median(openssl),
              *std::min_element(openssl.begin(), openssl.end()));
  std::printf("ratio quarn/openssl (medians) %.1f\n", median(quarn) / median(openssl));
  return right == meterCount && median(quarn) < 50.0 ? 0 : 1;
}
