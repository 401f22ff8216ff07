// Key list files with arbitrary contents, loaded into both the converter and the meter list.
//
// Input: a set-up byte (bit 7 set: both lists start that close to full, by bits 0-6), then
// the file's contents. A hidden file with the same contents lies beside it and must be skipped.
// The entries loaded are compared with a small model of the file format: CR LF read as LF,
// lines cut into pieces of at most 1,023 characters, "#" pieces skipped, ";"-separated fields
// (runs of ";" count as one), a piece's text ending at its first NUL.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/key_list.h"
#include "fuzz_support.h"

namespace {

std::string directory;
ConverterKeyList converterKeys;
MeterKeyList meterKeys;

struct ModelEntry {
  uint8_t id[4] = {};
  uint8_t first[16] = {};
  uint8_t second[16] = {};
};

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

void hex(const std::string& text, uint8_t* out, size_t capacity) {
  for (size_t i = 0; i < capacity && 2 * i + 1 < text.size(); ++i)
    out[i] = static_cast<uint8_t>(digit(text[2 * i]) * 16 + digit(text[2 * i + 1]));
}

// Fields split at runs of `delimiter` from `at` on; an empty result means no field.
std::string field(const std::string& text, size_t& at, char delimiter) {
  while (at < text.size() && text[at] == delimiter) ++at;
  const size_t start = at;
  while (at < text.size() && text[at] != delimiter) ++at;
  std::string result = text.substr(start, at - start);
  if (at < text.size()) ++at;
  return result;
}

// The entries one file gives, converter (meter false) or meter lines, at most `room` of them.
std::vector<ModelEntry> model(const uint8_t* bytes, size_t n, bool meter, size_t room) {
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] == '\r' && i + 1 < n && bytes[i + 1] == '\n') continue;
    text.push_back(static_cast<char>(bytes[i]));
  }
  std::vector<ModelEntry> entries;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    if (end - at > 1023) end = at + 1023;
    std::string piece = text.substr(at, end - at);
    at = end;
    if (piece[0] == '#') continue;
    if (entries.size() == room) break;
    piece.resize(std::strlen(piece.c_str()));
    size_t cursor = 0;
    field(piece, cursor, ';');
    const std::string id = field(piece, cursor, ';');
    const std::string first = field(piece, cursor, ';');
    if (id.empty() || first.empty()) continue;
    ModelEntry entry;
    hex(id, entry.id, 4);
    hex(first, entry.first, 16);
    if (meter) hex(field(piece, cursor, '\n'), entry.second, 16);
    entries.push_back(entry);
  }
  return entries;
}

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
  const auto converterModel = model(contents, n, false, keyListCapacity - start);
  const auto meterModel = model(contents, n, true, keyListCapacity - start);
  FUZZ_CHECK(converterKeys.count - start == converterModel.size());
  FUZZ_CHECK(meterKeys.count - start == meterModel.size());
  for (size_t i = 0; i < converterModel.size(); ++i) {
    const ConverterKeyEntry& e = converterKeys.entries[start + i];
    FUZZ_CHECK(std::memcmp(e.id, converterModel[i].id, 4) == 0);
    FUZZ_CHECK(std::memcmp(e.key, converterModel[i].first, 16) == 0);
  }
  for (size_t i = 0; i < meterModel.size(); ++i) {
    const MeterKeyEntry& e = meterKeys.entries[start + i];
    FUZZ_CHECK(std::memcmp(e.id, meterModel[i].id, 4) == 0);
    FUZZ_CHECK(std::memcmp(e.firstKey, meterModel[i].first, 16) == 0);
    FUZZ_CHECK(std::memcmp(e.secondKey, meterModel[i].second, 16) == 0);
  }
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
