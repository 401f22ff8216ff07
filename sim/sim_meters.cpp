// Simulated meters: their telegrams in modes 0, 5 and 7, built and encrypted with OpenSSL.
#include "sim_meters.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim_bytes.h"

namespace {

constexpr uint8_t cFieldSend = 0x44;
constexpr uint8_t ciShortHeader = 0x7A;
constexpr uint8_t ciAfl = 0x90;
constexpr uint8_t fill = 0x2F;
constexpr size_t recordBlocks = 1;  // 2F 2F, a volume and a time record, filled to a block

bool hexExact(const std::string& text, uint8_t* dest, size_t count) {
  return simParseHex(text.c_str(), dest, count) == static_cast<int>(count);
}

bool number(const std::string& text, long lo, long hi, long& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

void plainRecords(SimPlayedMeter& m, uint8_t* out) {
  std::memset(out, fill, recordBlocks * 16);
  size_t k = 2;  // after 2F 2F
  out[k++] = 0x0C;  // 8 digit BCD volume
  out[k++] = 0x13;
  simPut32(out + k, m.volume);
  k += 4;
  out[k++] = 0x04;  // 32 bit date and time
  out[k++] = 0x6D;
  simPut32(out + k, 0x2B3C4D1Au);
}

// The derivation block of mode 7: constant, counter, the meter's id as sent, seven 07.
bool deriveKey(const SimPlayedMeter& m, uint8_t constant, uint8_t out[simKeySize]) {
  return simDeriveKey(m.key, constant, m.address + 2, m.counter, out);
}

}  // namespace

bool simParseMeterLine(const std::string& line, SimPlayedMeter& m, std::string& error) {
  std::memset(&m, 0, sizeof m);
  std::istringstream words(line);
  std::string id, man, version, type, mode, key, interval, rssi, wander, extra;
  words >> id >> man >> version >> type >> mode >> key >> interval >> rssi;
  uint8_t bytes[4];
  long v = 0;
  if (!hexExact(id, bytes, 4)) return error = "expected the meter ID (8 hex digits) first", false;
  for (int i = 0; i < 4; ++i) m.address[2 + i] = bytes[3 - i];
  const int code = simManufacturerFromLetters(man.c_str());
  if (code < 0) return error = "expected the manufacturer as three capital letters", false;
  m.address[0] = static_cast<uint8_t>(code & 0xFF);
  m.address[1] = static_cast<uint8_t>(code >> 8);
  if (!hexExact(version, m.address + 6, 1) || !hexExact(type, m.address + 7, 1))
    return error = "expected version and device type as two hex digits each", false;
  if (mode != "0" && mode != "5" && mode != "7") return error = "expected mode 0, 5 or 7", false;
  m.mode = mode[0] - '0';
  if (!(key == "-" && m.mode == 0) && !hexExact(key, m.key, simKeySize))
    return error = "expected the key as 32 hex digits (\"-\" only for mode 0)", false;
  if (!number(interval, 50, 3600000, v)) return error = "expected the interval in ms (50 to 3600000)", false;
  m.intervalMs = static_cast<int>(v);
  if (!number(rssi, -130, -20, v)) return error = "expected the RSSI in dBm (-130 to -20)", false;
  m.rssiDbm = static_cast<int>(v);
  if (words >> wander) {
    if (!number(wander, 0, 40, v)) return error = "expected how far the RSSI wanders in dB (0 to 40)", false;
    m.wanderDb = static_cast<int>(v);
  }
  if (words >> extra) return error = "unexpected \"" + extra + "\" after the line's fields", false;
  m.access = static_cast<uint8_t>(m.address[2] ^ 0x5A);
  m.counter = 1;
  m.volume = 1000;
  return true;
}

size_t simMeterTelegram(SimPlayedMeter& m, uint8_t* out, size_t cap) {
  if (cap < simTelegramMax) return 0;
  size_t k = 0;
  out[k++] = cFieldSend;
  std::memcpy(out + k, m.address, 8);
  k += 8;
  uint8_t plain[recordBlocks * 16];
  plainRecords(m, plain);
  const uint8_t blocksField = static_cast<uint8_t>(recordBlocks << 4);
  size_t macFrom = 0, macAt = 0;
  if (m.mode == 7) {
    out[k++] = ciAfl;
    out[k++] = 0x0F;  // fragmentation control, message control, counter, 8-byte MAC
    out[k++] = 0x00;
    out[k++] = 0x2C;
    macFrom = k;
    out[k++] = 0x25;
    simPut32(out + k, m.counter);
    k += 4;
    macAt = k;
    k += 8;
  }
  const size_t ciAt = k;
  out[k++] = ciShortHeader;
  out[k++] = m.access;
  out[k++] = 0x00;  // status
  if (m.mode == 0) {
    out[k++] = 0x00;
    out[k++] = 0x00;
    std::memcpy(out + k, plain, sizeof plain);
    k += sizeof plain;
  } else if (m.mode == 5) {
    out[k++] = blocksField;
    out[k++] = 0x05;
    uint8_t iv[16];
    std::memcpy(iv, m.address, 8);
    std::memset(iv + 8, m.access, 8);
    if (!simCbcEncryptIv(m.key, iv, plain, sizeof plain, out + k)) return 0;
    k += sizeof plain;
  } else {
    out[k++] = blocksField;
    out[k++] = 0x07;
    out[k++] = 0x10;  // key derivation A
    uint8_t kenc[simKeySize], kmac[simKeySize];
    if (!deriveKey(m, 0x00, kenc) || !deriveKey(m, 0x01, kmac)) return 0;
    if (!simCbcEncrypt(kenc, plain, sizeof plain, out + k)) return 0;
    k += sizeof plain;
    // MAC over message control, counter and everything from the CI on.
    uint8_t macInput[simTelegramMax];
    size_t n = 0;
    std::memcpy(macInput, out + macFrom, 5);
    n += 5;
    std::memcpy(macInput + n, out + ciAt, k - ciAt);
    n += k - ciAt;
    uint8_t tag[16];
    if (!simCmac(kmac, macInput, n, tag)) return 0;
    std::memcpy(out + macAt, tag, 8);
    ++m.counter;
  }
  ++m.access;
  m.volume += 7;
  return k;
}

uint8_t simMeterRssiByte(SimPlayedMeter& m, uint32_t& seed) {
  if (m.wanderDb > 0) {
    seed = seed * 1103515245u + 12345u;
    const int step = static_cast<int>((seed >> 16) % 7) - 3;  // -3..+3 dB
    int next = m.offsetDb + step;
    if (next > m.wanderDb) next = m.wanderDb;
    if (next < -m.wanderDb) next = -m.wanderDb;
    m.offsetDb = next;
  }
  int dbm = m.rssiDbm + m.offsetDb;
  if (dbm < -138) dbm = -138;  // what a signed byte can carry
  if (dbm > -11) dbm = -11;
  return static_cast<uint8_t>(static_cast<int8_t>((dbm + 74) * 2));
}
