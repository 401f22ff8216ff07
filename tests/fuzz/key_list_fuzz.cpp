// Key list files with arbitrary contents, loaded into both the converter and the meter list.
//
// Input: a set-up byte (bit 7 set: both lists start that close to full, by bits 0-6), then
// the file's contents. A hidden file with the same contents lies beside it and must be skipped.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/key_list.h"
#include "fuzz_support.h"

namespace {

std::string directory;
ConverterKeyList converterKeys;
MeterKeyList meterKeys;

void writeFile(const std::string& path, const uint8_t* bytes, size_t n) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (n > 0 && std::fwrite(bytes, 1, n, file) != n) std::abort();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/quarn-keylist-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  directory = pattern;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in{data, size};
  const uint8_t setup = in.byte();
  size_t n = in.left();
  const uint8_t* contents = in.take(n);
  writeFile(directory + "/keys.txt", contents, n);
  writeFile(directory + "/.hidden", contents, n);

  const uint32_t start = (setup & 0x80) != 0 ? keyListCapacity - (setup & 0x7F) : 0;
  converterKeys.count = start;
  meterKeys.count = start;
  loadKeyList(directory.c_str(), converterKeys);
  loadKeyList(directory.c_str(), meterKeys);

  FUZZ_CHECK(converterKeys.count >= start && converterKeys.count <= keyListCapacity);
  FUZZ_CHECK(meterKeys.count >= start && meterKeys.count <= keyListCapacity);
  // A line gives at most one entry; the hidden file gives none.
  size_t lines = 1;
  for (size_t i = 0; i < n; ++i) lines += contents[i] == '\n';
  FUZZ_CHECK(converterKeys.count - start <= lines + n / 1023);
  FUZZ_CHECK(meterKeys.count - start <= lines + n / 1023);
  // Every entry loaded is found again by its id.
  for (uint32_t i = start; i < converterKeys.count; ++i) {
    const ConverterKeyEntry* found = findConverterKey(converterKeys, converterKeys.entries[i].id);
    FUZZ_CHECK(found != nullptr && found <= &converterKeys.entries[i]);
  }
  for (uint32_t i = start; i < meterKeys.count; ++i) {
    const MeterKeyEntry* found = findMeterKeys(meterKeys, meterKeys.entries[i].id);
    FUZZ_CHECK(found != nullptr && found <= &meterKeys.entries[i]);
  }
  return 0;
}
