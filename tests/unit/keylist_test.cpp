// Key lists: file format, directory walk, bounds on lines, paths and list size.
#include "codec/key_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/time_bound.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A fresh directory under /tmp, removed with its files at the end of the test.
class TempDir {
public:
  TempDir() {
    char pattern[] = "/tmp/quarn-keys-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = made;
  }
  ~TempDir() { removeAll(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

  std::string write(const std::string& name, const std::string& content) const {
    const std::string file = path_ + "/" + name;
    FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) {
      ADD_FAILURE() << "cannot create " << file;
      return file;
    }
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return file;
  }

private:
  static void removeAll(const std::string& dirPath) {
    if (dirPath.empty()) return;
    DIR* dir = opendir(dirPath.c_str());
    if (dir != nullptr) {
      while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        const std::string full = dirPath + "/" + name;
        struct stat info {};
        if (lstat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) removeAll(full);
        else unlink(full.c_str());
      }
      closedir(dir);
    }
    rmdir(dirPath.c_str());
  }

  std::string path_;
};

Bytes idOf(const uint8_t* id) { return Bytes(id, id + 4); }
Bytes keyOf(const uint8_t* key) { return Bytes(key, key + 16); }

const std::string keyText = "00112233445566778899AABBCCDDEEFF";
const Bytes keyBytes = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const Bytes zeroKey(16, 0);
const Bytes zeroId(4, 0);

Bytes withLast(Bytes bytes, size_t index, uint8_t value) {
  bytes[index] = value;
  for (size_t i = index + 1; i < bytes.size(); ++i) bytes[i] = 0;
  return bytes;
}

std::unique_ptr<ConverterKeyList> loadConverter(const std::string& dir) {
  auto list = std::make_unique<ConverterKeyList>();
  loadKeyList(dir.c_str(), *list);
  return list;
}

std::unique_ptr<MeterKeyList> loadMeter(const std::string& dir) {
  auto list = std::make_unique<MeterKeyList>();
  loadKeyList(dir.c_str(), *list);
  return list;
}

struct ConverterCase {
  const char* name;
  std::string content;
  uint32_t count;
  Bytes id;   // of the first entry, when count > 0
  Bytes key;
};

const std::vector<ConverterCase>& converterCases() {
  static const std::vector<ConverterCase> all = {
      {"Plain", "cabinet 1;0012AB34;" + keyText + "\n", 1, {0x00, 0x12, 0xAB, 0x34}, keyBytes},
      {"LowerCase", "c;0012ab34;00112233445566778899aabbccddeeff\n", 1, {0x00, 0x12, 0xAB, 0x34},
       keyBytes},
      {"TwoFieldsNoEntry", "cabinet 4;0012AB34\n", 0, {}, {}},
      {"TrailingSeparatorGivesZeroKey", "cabinet 4;0012AB34;\n", 1, {0x00, 0x12, 0xAB, 0x34},
       zeroKey},
      // Without a line end there is nothing after the ";" to be the third field.
      {"TrailingSeparatorWithoutLineEnd", "cabinet 4;0012AB34;", 0, {}, {}},
      {"LeadingSeparatorShiftsFields",
       ";11223344;AABBCCDD000000000000000000000000;" + keyText + "\n", 1,
       {0xAA, 0xBB, 0xCC, 0xDD}, keyBytes},
      {"RunsOfSeparators", ";;lbl;;;0012AB34;;;;" + keyText + ";;\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, keyBytes},
      {"ExtraFieldsIgnored", "lbl;0012AB34;" + keyText + ";FFFFFFFF;x\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, keyBytes},
      {"CommentSkipped", "#cabinet;0012AB34;" + keyText + "\n", 0, {}, {}},
      {"SpaceBeforeHashIsNoComment", " #cabinet;0012AB34;" + keyText + "\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, keyBytes},
      // The line end attached to the last field: ignored when the count turns odd...
      {"ThirtyDigitsAndLineEnd", "l;0012AB34;" + keyText.substr(0, 30) + "\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, withLast(keyBytes, 14, 0xEE)},
      // ...and a 0 digit when it makes the count even.
      {"ThirtyOneDigitsAndLineEnd", "l;0012AB34;" + keyText.substr(0, 31) + "\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, withLast(keyBytes, 15, 0xF0)},
      {"ThirtyOneDigitsCrLf", "l;0012AB34;" + keyText.substr(0, 31) + "\r\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, withLast(keyBytes, 15, 0xF0)},
      {"ThirtyOneDigitsAtEndOfFile", "l;0012AB34;" + keyText.substr(0, 31), 1,
       {0x00, 0x12, 0xAB, 0x34}, withLast(keyBytes, 14, 0xEE)},
      {"ShortIdFillsLeadingBytes", "l;12;" + keyText + "\n", 1, {0x12, 0, 0, 0}, keyBytes},
      {"LongFieldsCut", "l;0012AB3499;" + keyText + "1234\n", 1, {0x00, 0x12, 0xAB, 0x34},
       keyBytes},
      {"InvalidDigitsAreZero", "l;zz12AB34;" + keyText + "\n", 1, {0x00, 0x12, 0xAB, 0x34},
       keyBytes},
      // A lone CR is an ordinary character, worth 0 like any non-digit.
      {"LoneCarriageReturn", "l;12\r4;" + keyText + "\n", 1, {0x12, 0x04, 0, 0}, keyBytes},
      {"CrLfKey", "l;0012AB34;" + keyText + "\r\n", 1, {0x00, 0x12, 0xAB, 0x34}, keyBytes},
      {"EmptyLines", "\n\r\n;;;\n;\n", 0, {}, {}},
      // A NUL ends the line's text: what follows it on the line is never read.
      {"NulEndsLine", std::string("l;0012AB34\0;", 12) + keyText + "\n", 0, {}, {}},
      {"NulInKey", std::string("l;0012AB34;0011\0;", 17) + keyText + "\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, withLast(keyBytes, 1, 0x11)},
      {"NulLineThenGoodLine",
       std::string("\0garbage;1;2\n", 13) + "l;0012AB34;" + keyText + "\n", 1,
       {0x00, 0x12, 0xAB, 0x34}, keyBytes},
      {"FailedLineLeavesNoTrace", "l;FFFFFFFF\nl;12;\n", 1, {0x12, 0, 0, 0}, zeroKey},
  };
  return all;
}

struct MeterCase {
  const char* name;
  std::string content;
  uint32_t count;
  Bytes id;
  Bytes firstKey;
  Bytes secondKey;
};

const std::string secondText = "FFEEDDCCBBAA99887766554433221100";
const Bytes secondBytes = {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88,
                           0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
const Bytes meterId = {0x12, 0x34, 0x56, 0x78};

Bytes leading(std::initializer_list<uint8_t> bytes) {
  Bytes out(bytes);
  out.resize(16, 0);
  return out;
}

const std::vector<MeterCase>& meterCases() {
  static const std::vector<MeterCase> all = {
      {"FourFields", "m;12345678;" + keyText + ";" + secondText + "\n", 1, meterId, keyBytes,
       secondBytes},
      {"ThreeFieldsZeroSecondKey", "m;12345678;" + keyText + "\n", 1, meterId, keyBytes,
       zeroKey},
      {"TwoFieldsNoEntry", "m;12345678\n", 0, {}, {}, {}},
      {"TrailingSeparatorZeroKeys", "m;12345678;\n", 1, meterId, zeroKey, zeroKey},
      {"EmptyFourthField", "m;12345678;" + keyText + ";\n", 1, meterId, keyBytes, zeroKey},
      // The fourth field runs to the line end, ";" included.
      {"FourthFieldKeepsSeparators", "m;12345678;" + keyText + ";AABB;CCDD\n", 1, meterId,
       keyBytes, leading({0xAA, 0xBB, 0x0C, 0xCD})},
      // Only the one ";" after the third field separates: a second one belongs to field 4.
      {"FourthFieldAfterDoubleSeparator", "m;12345678;" + keyText + ";;1122\n", 1, meterId,
       keyBytes, leading({0x01, 0x12})},
      // The line end is not part of the fourth field.
      {"FourthFieldOddDigits", "m;12345678;" + keyText + ";ABC\n", 1, meterId, keyBytes,
       leading({0xAB})},
      {"FourthFieldOddDigitsCrLf", "m;12345678;" + keyText + ";ABC\r\n", 1, meterId, keyBytes,
       leading({0xAB})},
      {"FourthFieldAtEndOfFile", "m;12345678;" + keyText + ";" + secondText, 1, meterId,
       keyBytes, secondBytes},
      {"FourthFieldTooLong", "m;12345678;" + keyText + ";" + secondText + "ABCD;EF\n", 1, meterId,
       keyBytes, secondBytes},
      {"ThirtyOneDigitFirstKey", "m;12345678;" + keyText.substr(0, 31) + "\n", 1, meterId,
       withLast(keyBytes, 15, 0xF0), zeroKey},
  };
  return all;
}

// A folder holding one file with the given content, loaded into a list of the given kind.
template <typename List>
std::unique_ptr<List> loadContent(const std::string& content) {
  TempDir dir;
  dir.write("keys.txt", content);
  auto list = std::make_unique<List>();
  loadKeyList(dir.path().c_str(), *list);
  return list;
}

TEST(KeyLines, EachLineLoadsAsExpected) {
  for (const ConverterCase& c : converterCases()) {
    auto list = loadContent<ConverterKeyList>(c.content);
    ASSERT_EQ(list->count, c.count) << c.name;
    if (c.count > 0) {
      EXPECT_EQ(idOf(list->entries[0].id), c.id) << c.name;
      EXPECT_EQ(keyOf(list->entries[0].key), c.key) << c.name;
    }
    EXPECT_EQ(idOf(list->entries[c.count].id), zeroId) << c.name << ": entry past the count was written";
  }
  for (const MeterCase& c : meterCases()) {
    auto list = loadContent<MeterKeyList>(c.content);
    ASSERT_EQ(list->count, c.count) << c.name;
    if (c.count > 0) {
      EXPECT_EQ(idOf(list->entries[0].id), c.id) << c.name;
      EXPECT_EQ(keyOf(list->entries[0].firstKey), c.firstKey) << c.name;
      EXPECT_EQ(keyOf(list->entries[0].secondKey), c.secondKey) << c.name;
    }
  }
}

TEST(KeyFiles, LastLineLoadsOnceWhateverItsEnd) {
  for (const char* end : {"", "\n", "\r\n"}) {
    TempDir dir;
    const std::string between = *end != '\0' ? end : "\n";
    dir.write("k", "a;00000001;" + keyText + between + "b;00000002;" + keyText + end);
    auto list = loadConverter(dir.path());
    ASSERT_EQ(list->count, 2u) << "end of " << std::strlen(end) << " characters";
    EXPECT_EQ(idOf(list->entries[1].id), (Bytes{0, 0, 0, 2}));
  }
}

TEST(KeyFiles, CrLfFileLoadsLikeLfFile) {
  std::string lf;
  for (int i = 0; i < 40; ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "meter %d;%08X;%s;%.*s\n", i, 0x1000 + i, keyText.c_str(),
                  i % 33, secondText.c_str());
    lf += line;
  }
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  TempDir lfDir;
  TempDir crlfDir;
  lfDir.write("k", lf);
  crlfDir.write("k", crlf);
  auto a = loadMeter(lfDir.path());
  auto b = loadMeter(crlfDir.path());
  ASSERT_EQ(a->count, 40u);
  ASSERT_EQ(b->count, 40u);
  EXPECT_EQ(std::memcmp(a->entries, b->entries, 40 * sizeof(MeterKeyEntry)), 0);
}

TEST(KeyFiles, HiddenFilesAreNeverRead) {
  TempDir dir;
  dir.write(".hidden", "a;00000001;" + keyText + "\n");
  dir.write("..backup", "a;00000003;" + keyText + "\n");
  auto list = loadConverter(dir.path());
  EXPECT_EQ(list->count, 0u);
  dir.write("visible", "a;00000002;" + keyText + "\n");
  list = loadConverter(dir.path());
  ASSERT_EQ(list->count, 1u);
  EXPECT_EQ(idOf(list->entries[0].id), (Bytes{0, 0, 0, 2}));
}

TEST(KeyFiles, MissingDirectoryLeavesListUnchanged) {
  auto list = std::make_unique<ConverterKeyList>();
  list->count = 1;
  list->entries[0].id[0] = 0x42;
  loadKeyList("/tmp/quarn-keys-does-not-exist/dongleKeys", *list);
  EXPECT_EQ(list->count, 1u);
  EXPECT_EQ(list->entries[0].id[0], 0x42);
  loadKeyList(nullptr, *list);
  EXPECT_EQ(list->count, 1u);
}

TEST(KeyFiles, LoadingAppendsAfterExistingEntries) {
  TempDir dir;
  dir.write("k", "a;00000009;" + keyText + "\n");
  auto list = std::make_unique<MeterKeyList>();
  loadKeyList(dir.path().c_str(), *list);
  loadKeyList(dir.path().c_str(), *list);
  ASSERT_EQ(list->count, 2u);
  EXPECT_EQ(idOf(list->entries[1].id), (Bytes{0, 0, 0, 9}));
}

// The order readdir gives, read here without the loader.
std::vector<std::string> listingOrder(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* item = readdir(dir)) {
    if (item->d_name[0] != '.') names.push_back(item->d_name);
  }
  closedir(dir);
  return names;
}

TEST(KeyFiles, FilesLoadInListingOrderAndFirstListedWins) {
  TempDir dir;
  const char* names[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot"};
  for (size_t i = 0; i < 6; ++i) {
    char line[96];
    // Every file lists the same id with its own key; the key's first byte names the file.
    std::snprintf(line, sizeof line, "x;CAFE0001;%02X%s\nx;0000000%zu;%s\n",
                  static_cast<unsigned>(i), keyText.substr(2).c_str(), i, keyText.c_str());
    dir.write(names[i], line);
  }
  const std::vector<std::string> order = listingOrder(dir.path());
  ASSERT_EQ(order.size(), 6u);
  auto list = loadConverter(dir.path());
  ASSERT_EQ(list->count, 12u);
  const uint8_t id[4] = {0xCA, 0xFE, 0x00, 0x01};
  const ConverterKeyEntry* found = findConverterKey(*list, id);
  ASSERT_NE(found, nullptr);
  const std::string first = order[0];
  size_t firstIndex = 0;
  while (names[firstIndex] != first) ++firstIndex;
  EXPECT_EQ(found->key[0], firstIndex);
  // Entries follow the listing order file by file.
  for (size_t f = 0; f < 6; ++f) {
    size_t index = 0;
    while (names[index] != order[f]) ++index;
    EXPECT_EQ(list->entries[2 * f].key[0], index);
    EXPECT_EQ(list->entries[2 * f + 1].id[3], index);
  }
}

TEST(KeyFiles, HugeFileIsReadOnlyUpToItsLimit) {
  // Sparse: a line at the start, zeros, and a line just past the limit that is never reached.
  TempDir dir;
  const std::string path = dir.write("huge", "a;00000001;" + keyText + "\n");
  const std::string late = "\nb;00000002;" + keyText + "\n";
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, late.data(), late.size(), static_cast<off_t>(keyFileByteLimit)),
            static_cast<ssize_t>(late.size()));
  close(fd);
  auto list = loadConverter(dir.path());
  ASSERT_EQ(list->count, 1u);
  EXPECT_EQ(list->entries[0].id[3], 1);
  // Just inside the limit the same line still loads.
  TempDir inside;
  const std::string near = inside.write("huge", "a;00000001;" + keyText + "\n");
  const int nearFd = open(near.c_str(), O_WRONLY);
  ASSERT_GE(nearFd, 0);
  const off_t at = static_cast<off_t>(keyFileByteLimit - late.size());
  ASSERT_EQ(pwrite(nearFd, late.data(), late.size(), at), static_cast<ssize_t>(late.size()));
  close(nearFd);
  auto nearList = loadConverter(inside.path());
  ASSERT_EQ(nearList->count, 2u);
  EXPECT_EQ(nearList->entries[1].id[3], 2);
}

TEST(KeyFiles, PathOf255CharactersLoadsAndLongerIsSkipped) {
  TempDir dir;
  const size_t prefix = dir.path().size() + 1;  // directory and "/"
  ASSERT_LT(prefix, 100u);
  const std::string fits(255 - prefix, 'f');
  const std::string tooLong(256 - prefix, 'g');
  dir.write(fits, "a;00000001;" + keyText + "\n");
  dir.write(tooLong, "a;00000002;" + keyText + "\n");
  auto list = loadConverter(dir.path());
  ASSERT_EQ(list->count, 1u);
  EXPECT_EQ(list->entries[0].id[3], 1);
}

// A line of exactly `length` characters whose first fields make an entry with the given id.
std::string lineOfLength(size_t length, unsigned id) {
  char head[64];
  std::snprintf(head, sizeof head, "p;%08X;%s;", id, keyText.c_str());
  std::string line = head;
  line.resize(length, 'x');
  return line;
}

// A line is read in pieces of at most 1,023 characters, each piece a line of its own.
TEST(KeyFiles, LongLinesAreReadInPiecesOf1023) {
  std::string noLineEnd;
  std::vector<unsigned> hundred;
  for (unsigned i = 0; i < 100; ++i) {
    noLineEnd += lineOfLength(1023, i);
    hundred.push_back(i);
  }
  const struct Case {
    const char* name;
    std::string content;
    std::vector<unsigned> ids;  // entries expected, in order
  } cases[] = {
      {"1022", lineOfLength(1022, 1) + "\n" + lineOfLength(60, 2) + "\n", {1, 2}},
      // The LF comes as a piece of its own, which adds nothing.
      {"1023", lineOfLength(1023, 1) + "\n" + lineOfLength(60, 2) + "\n", {1, 2}},
      {"1024", lineOfLength(1024, 1) + "\n" + lineOfLength(60, 2) + "\n", {1, 2}},  // "x" and the LF
      {"3000", lineOfLength(3000, 1) + "\n" + lineOfLength(60, 2) + "\n", {1, 2}},
      // The CR is character 1023 of the line; its LF would start the next piece.
      {"CR LF split", lineOfLength(1022, 1) + "\r\n" + lineOfLength(60, 2) + "\r\n", {1, 2}},
      {"three pieces that read as lines",
       lineOfLength(1023, 0x11) + lineOfLength(1023, 0x22) + lineOfLength(954, 0x33) + "\n", {0x11, 0x22, 0x33}},
      {"a piece starting with #", lineOfLength(1023, 0x11) + "#" + lineOfLength(200, 0x22).substr(1) + "\n", {0x11}},
      {"no line end at all", noLineEnd, hundred},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("k", c.content);
    auto list = loadConverter(dir.path());
    std::vector<unsigned> ids;
    for (uint32_t i = 0; i < list->count; ++i) {
      ids.push_back(list->entries[i].id[3]);
      EXPECT_EQ(keyOf(list->entries[i].key), keyBytes) << c.name;
    }
    EXPECT_EQ(ids, c.ids) << c.name;
  }
}

TEST(KeyFiles, FullListStopsLoading) {
  TempDir dir;
  std::string content;
  content.reserve(70000 * 48);
  for (unsigned i = 0; i < 70000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "k;%08X;%s\n", i, keyText.c_str());
    content += line;
  }
  dir.write("big", content);
  auto list = loadConverter(dir.path());
  ASSERT_EQ(list->count, keyListCapacity);
  for (unsigned i = 0; i < keyListCapacity; i += 4099) {
    EXPECT_EQ(list->entries[i].id[1], static_cast<uint8_t>(i >> 16));
    EXPECT_EQ(list->entries[i].id[3], static_cast<uint8_t>(i));
  }
  EXPECT_EQ(list->entries[keyListCapacity - 1].id[2], 0xFF);
  // A full list takes nothing more, from this directory or any other.
  TempDir other;
  other.write("k", "k;FFFFFFFF;" + keyText + "\n");
  loadKeyList(other.path().c_str(), *list);
  EXPECT_EQ(list->count, keyListCapacity);
  const uint8_t id[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(findConverterKey(*list, id), nullptr);
}

TEST(KeyFiles, FullMeterListStopsAcrossFiles) {
  TempDir dir;
  std::string content;
  for (unsigned i = 0; i < 40000; ++i) {
    char line[48];
    std::snprintf(line, sizeof line, "m;%08X;%s\n", i, keyText.c_str());
    content += line;
  }
  dir.write("a", content);
  dir.write("b", content);
  auto list = loadMeter(dir.path());
  EXPECT_EQ(list->count, keyListCapacity);
}

TEST(FindKeys, FirstEqualEntryWinsAndAllFourBytesCount) {
  auto converters = std::make_unique<ConverterKeyList>();
  const uint8_t ids[][4] = {{1, 2, 3, 4}, {1, 2, 3, 5}, {1, 2, 3, 4}, {0, 2, 3, 4}};
  for (uint32_t i = 0; i < 4; ++i) {
    std::memcpy(converters->entries[i].id, ids[i], 4);
    converters->entries[i].key[0] = static_cast<uint8_t>(i);
  }
  converters->count = 4;
  const uint8_t wanted[4] = {1, 2, 3, 4};
  const ConverterKeyEntry* found = findConverterKey(*converters, wanted);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, &converters->entries[0]);
  const uint8_t last[4] = {0, 2, 3, 4};
  EXPECT_EQ(findConverterKey(*converters, last), &converters->entries[3]);
  const uint8_t absent[4] = {1, 2, 4, 4};
  EXPECT_EQ(findConverterKey(*converters, absent), nullptr);
  // Entries past the count are not searched.
  converters->count = 3;
  EXPECT_EQ(findConverterKey(*converters, last), nullptr);

  auto meters = std::make_unique<MeterKeyList>();
  EXPECT_EQ(findMeterKeys(*meters, wanted), nullptr);
  std::memcpy(meters->entries[0].id, ids[1], 4);
  std::memcpy(meters->entries[1].id, ids[0], 4);
  std::memcpy(meters->entries[2].id, ids[0], 4);
  meters->count = 3;
  EXPECT_EQ(findMeterKeys(*meters, wanted), &meters->entries[1]);
}

}  // namespace
