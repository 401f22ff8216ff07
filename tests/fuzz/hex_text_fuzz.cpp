// The hex text helpers on arbitrary bytes: what the user types, what a device sends.
//
// Input: a capacity byte, then bytes used as text (up to the first NUL), as a key, as a
// manufacturer code and as a record area all at once.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "text/bytes.h"
#include "text/hex_text.h"
#include "text/records.h"

namespace {

int digitValue(char c) {
  if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
  const char text[2] = {c, '\0'};
  return static_cast<int>(std::strtol(text, nullptr, 16));
}

void checkHexText(const uint8_t* data, size_t size, size_t capacity) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string cut = text.substr(0, std::strlen(text.c_str()));
  auto textCopy = exactCopy(reinterpret_cast<const uint8_t*>(cut.c_str()), cut.size() + 1);
  auto dest = exactCopy(nullptr, capacity);
  const size_t written =
      hexTextToBytes(reinterpret_cast<const char*>(textCopy.get()), dest.get(), capacity);
  const size_t pairs = cut.size() / 2;
  FUZZ_CHECK(written == (pairs < capacity ? pairs : capacity));
  for (size_t i = 0; i < written; ++i) {
    FUZZ_CHECK(dest[i] == digitValue(cut[2 * i]) * 16 + digitValue(cut[2 * i + 1]));
  }
}

void checkKeyText(const uint8_t* data, size_t size) {
  if (size < 16) return;
  auto key = exactCopy(data, 16);
  auto text = exactCopy(nullptr, 33);
  char* dest = reinterpret_cast<char*>(text.get());
  keyToHexText(key.get(), dest);
  FUZZ_CHECK(std::strlen(dest) == 32);
  for (size_t i = 0; i < 32; ++i) FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(dest[i])));
  uint8_t back[16];
  FUZZ_CHECK(hexTextToBytes(dest, back, sizeof back) == 16);
  FUZZ_CHECK(std::memcmp(back, key.get(), 16) == 0);
}

void checkManufacturer(const uint8_t* data, size_t size) {
  if (size < 3) return;
  auto code = exactCopy(data, 2);
  auto letters = exactCopy(nullptr, 4);
  char* text = reinterpret_cast<char*>(letters.get());
  std::memcpy(text, "???", 4);
  manufacturerCodeToText(code.get(), text);
  const unsigned value = code[0] | code[1] << 8;
  if (value & 0x8000) {
    FUZZ_CHECK(std::strcmp(text, "???") == 0);
  } else {
    FUZZ_CHECK(std::strlen(text) == 3);
    for (int i = 0; i < 3; ++i) FUZZ_CHECK(text[i] >= '@' && text[i] <= '_');
    FUZZ_CHECK(manufacturerTextToCode(text) == static_cast<int>(value));
  }
  auto raw = exactCopy(data, 3);
  const int any = manufacturerTextToCode(reinterpret_cast<const char*>(raw.get()));
  FUZZ_CHECK(any >= -192 * 1024 - 192 * 32 - 192 && any <= 63 * 1024 + 63 * 32 + 63);
}

void checkRecords(const uint8_t* data, size_t size) {
  const uint16_t length = static_cast<uint16_t>(size < 0xFFFF ? size : 0xFFFF);
  auto area = exactCopy(data, length);
  const uint8_t counter[3] = {0x04, 0xFD, 0x08};
  const uint8_t version[3] = {0x02, 0xFD, 0x0C};
  const int foundCounter = findCounterRecord(area.get(), length);
  const int foundVersion = findVersionRecord(area.get(), length);
  for (const auto& [found, header] : {std::make_pair(foundCounter, counter),
                                      std::make_pair(foundVersion, version)}) {
    int first = 0;
    for (int i = 0; i + 4 <= length; ++i) {
      if (std::memcmp(area.get() + i, header, 3) == 0) {
        first = i;
        break;
      }
    }
    FUZZ_CHECK(found == first);
  }
  // The readers take a value only where the finders found a header and the value fits.
  uint32_t counterValue = 0;
  const bool counterRead = readCounterRecord(area.get(), length, counterValue);
  FUZZ_CHECK(counterRead == (foundCounter != 0 && foundCounter + 7 <= length));
  if (counterRead) FUZZ_CHECK(counterValue == readLe32(area.get() + foundCounter + 3));
  uint16_t versionValue = 0;
  const bool versionRead = readVersionRecord(area.get(), length, versionValue);
  FUZZ_CHECK(versionRead == (foundVersion != 0 && foundVersion + 5 <= length));
  if (versionRead) FUZZ_CHECK(versionValue == readLe16(area.get() + foundVersion + 3));
  for (size_t i = 0; i < size; ++i) {
    const int dbm = rssiToDbm(data[i]);
    FUZZ_CHECK(dbm >= -138 && dbm <= -11);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in{data, size};
  const size_t capacity = in.byte() % 40;
  size_t n = in.left();
  const uint8_t* rest = in.take(n);
  checkHexText(rest, n, capacity);
  checkKeyText(rest, n);
  checkManufacturer(rest, n);
  checkRecords(rest, n);
  return 0;
}
