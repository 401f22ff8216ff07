// AES-CMAC, key derivation and AES-CBC through OpenSSL (EVP interfaces only).
#include "sim_crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "sim_bytes.h"

bool simCmac(const uint8_t key[simKeySize], const uint8_t* data, size_t n, uint8_t tag[16]) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  if (!mac) return false;
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  bool ok = false;
  if (ctx) {
    char cipherName[] = "AES-128-CBC";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
        OSSL_PARAM_construct_end()};
    size_t outLen = 0;
    ok = EVP_MAC_init(ctx, key, simKeySize, params) == 1 && EVP_MAC_update(ctx, data, n) == 1 &&
         EVP_MAC_final(ctx, tag, &outLen, 16) == 1 && outLen == 16;
    EVP_MAC_CTX_free(ctx);
  }
  EVP_MAC_free(mac);
  return ok;
}

bool simDeriveKey(const uint8_t converterKey[simKeySize], uint8_t constant, const uint8_t id[4],
                  uint32_t counter, uint8_t out[simKeySize]) {
  uint8_t block[16];
  block[0] = constant;
  simPut32(block + 1, counter);
  for (int i = 0; i < 4; ++i) block[5 + i] = id[i];
  for (int i = 9; i < 16; ++i) block[i] = 0x07;
  return simCmac(converterKey, block, sizeof block, out);
}

static bool cbc(bool encrypt, const uint8_t key[simKeySize], const uint8_t iv[simBlockSize], const uint8_t* in,
                size_t n, uint8_t* out) {
  if (n % simBlockSize != 0) return false;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (!ctx) return false;
  int len1 = 0, len2 = 0;
  bool ok = EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_CipherUpdate(ctx, out, &len1, in, static_cast<int>(n)) == 1 &&
            EVP_CipherFinal_ex(ctx, out + len1, &len2) == 1 &&
            static_cast<size_t>(len1 + len2) == n;
  EVP_CIPHER_CTX_free(ctx);
  return ok;
}

static const uint8_t zeroIv[simBlockSize] = {};

bool simCbcDecrypt(const uint8_t key[simKeySize], const uint8_t* in, size_t n, uint8_t* out) {
  return cbc(false, key, zeroIv, in, n, out);
}

bool simCbcEncrypt(const uint8_t key[simKeySize], const uint8_t* in, size_t n, uint8_t* out) {
  return cbc(true, key, zeroIv, in, n, out);
}

bool simCbcEncryptIv(const uint8_t key[simKeySize], const uint8_t iv[simBlockSize], const uint8_t* in, size_t n,
                     uint8_t* out) {
  return cbc(true, key, iv, in, n, out);
}
