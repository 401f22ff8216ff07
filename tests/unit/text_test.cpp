// Hex text, manufacturer letters, RSSI, record finders and the log's text forms.
#include "text/bytes.h"
#include "text/hex_text.h"
#include "text/log.h"
#include "text/printable_text.h"
#include "text/records.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr uint8_t guard = 0xA5;

struct HexCase {
  const char* text;
  size_t capacity;
  std::vector<uint8_t> bytes;  // what lands in dest, in order
  size_t returned;
};

void PrintTo(const HexCase& c, std::ostream* os) {
  *os << '"' << c.text << "\" capacity " << c.capacity;
}

class HexTextToBytes : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexTextToBytes, WritesExactlyTheExpectedBytes) {
  const HexCase& c = GetParam();
  constexpr size_t guardBytes = 8;
  std::vector<uint8_t> buffer(c.capacity + 2 * guardBytes, guard);
  uint8_t* dest = buffer.data() + guardBytes;
  EXPECT_EQ(hexTextToBytes(c.text, dest, c.capacity), c.returned);
  for (size_t i = 0; i < c.bytes.size(); ++i) EXPECT_EQ(dest[i], c.bytes[i]) << "byte " << i;
  for (size_t i = c.bytes.size(); i < c.capacity; ++i) {
    EXPECT_EQ(dest[i], guard) << "byte " << i << " written although beyond the text";
  }
  for (size_t i = 0; i < guardBytes; ++i) {
    EXPECT_EQ(buffer[i], guard) << "guard before dest";
    EXPECT_EQ(buffer[guardBytes + c.capacity + i], guard) << "guard after dest";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexTextToBytes,
    ::testing::Values(
        HexCase{"0aFf", 16, {0x0A, 0xFF}, 2},
        HexCase{"0aF", 16, {0x0A}, 1},
        HexCase{"zz12", 16, {0x00, 0x12}, 2},
        HexCase{"", 16, {}, 0},
        HexCase{"7", 16, {}, 0},
        HexCase{"0123456789abcdefABCDEF", 16,
                {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}, 11},
        HexCase{"gG:/@`\n\r", 16, {0x00, 0x00, 0x00, 0x00}, 4},
        // Exactly the capacity, then longer texts cut to their first digits.
        HexCase{"0012AB34", 4, {0x00, 0x12, 0xAB, 0x34}, 4},
        HexCase{"0012AB3456", 4, {0x00, 0x12, 0xAB, 0x34}, 4},
        HexCase{"0012AB345", 4, {0x00, 0x12, 0xAB, 0x34}, 4},
        HexCase{"112233445566778899AABBCCDDEEFF00FFEE", 16,
                {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
                 0xEE, 0xFF, 0x00},
                16},
        HexCase{"AB", 1, {0xAB}, 1},
        HexCase{"ABCD", 1, {0xAB}, 1},
        HexCase{"ABCD", 0, {}, 0},
        HexCase{"ab", 2, {0xAB}, 1}));

TEST(HexTextToBytesBounds, NullTextWritesNothing) {
  uint8_t dest[2] = {guard, guard};
  EXPECT_EQ(hexTextToBytes(nullptr, dest, sizeof dest), 0u);
  EXPECT_EQ(dest[0], guard);
}

TEST(HexTextToBytesBounds, AgreesWithStrtoulOnRandomDigits) {
  std::mt19937 rng(1234);
  const char digits[] = "0123456789abcdefABCDEF";
  for (int round = 0; round < 2000; ++round) {
    const size_t pairs = rng() % 20;
    std::string text;
    for (size_t i = 0; i < 2 * pairs; ++i) text += digits[rng() % 22];
    uint8_t dest[16];
    std::memset(dest, guard, sizeof dest);
    const size_t written = hexTextToBytes(text.c_str(), dest, sizeof dest);
    ASSERT_EQ(written, pairs < 16 ? pairs : 16);
    for (size_t k = 0; k < written; ++k) {
      const std::string pair = text.substr(2 * k, 2);
      ASSERT_EQ(dest[k], std::strtoul(pair.c_str(), nullptr, 16)) << text;
    }
  }
}

TEST(KeyToHexText, SixteenBytesGiveUpperCaseDigitsAndNul) {
  const uint8_t key[16] = {0x00, 0x01, 0xAB, 0xcd, 0x10, 0xFF, 0x7E, 0x80,
                           0x09, 0x90, 0xA0, 0x0A, 0x5C, 0xC5, 0xEE, 0x3f};
  char text[34];
  std::memset(text, 'x', sizeof text);
  keyToHexText(key, text);
  EXPECT_STREQ(text, "0001ABCD10FF7E800990A00A5CC5EE3F");
  EXPECT_EQ(text[32], '\0');
  EXPECT_EQ(text[33], 'x') << "wrote beyond 33 bytes";
}

TEST(BytesToHexText, DigitsInTheOrderGivenThenNul) {
  const struct {
    std::vector<uint8_t> bytes;
    const char* text;
  } cases[] = {{{}, ""},
               {{0x00}, "00"},
               {{0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36}, "8F19785634120136"},
               {{0xAB, 0xCD, 0xEF, 0x09}, "ABCDEF09"}};
  for (const auto& c : cases) {
    std::vector<char> text(2 * c.bytes.size() + 1, 'x');  // exactly the room it may use
    bytesToHexText(c.bytes.data(), c.bytes.size(), text.data());
    EXPECT_STREQ(text.data(), c.text);
  }
}

TEST(IdToHexText, MostSignificantByteFirst) {
  const struct {
    uint8_t id[4];
    const char* text;
  } cases[] = {{{0x78, 0x56, 0x34, 0x12}, "12345678"},
               {{0x00, 0x00, 0x00, 0x00}, "00000000"},
               {{0xEF, 0xCD, 0xAB, 0x09}, "09ABCDEF"},
               {{0xFF, 0x00, 0xFF, 0x01}, "01FF00FF"}};
  for (const auto& c : cases) {
    char text[9];
    std::memset(text, 'x', sizeof text);
    idToHexText(c.id, text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(KeyToHexText, MatchesPrintfForRandomKeys) {
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    uint8_t key[16];
    std::string expected;
    for (uint8_t& b : key) {
      b = static_cast<uint8_t>(rng());
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", b);
      expected += pair;
    }
    char text[33];
    keyToHexText(key, text);
    ASSERT_EQ(std::string(text), expected);
  }
}

struct ManufacturerCase {
  const char* letters;
  int code;
};

void PrintTo(const ManufacturerCase& c, std::ostream* os) { *os << c.code; }

class ManufacturerText : public ::testing::TestWithParam<ManufacturerCase> {};

TEST_P(ManufacturerText, LettersToCode) {
  EXPECT_EQ(manufacturerTextToCode(GetParam().letters), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManufacturerText,
    ::testing::Values(ManufacturerCase{"ABC", 1091},
                      ManufacturerCase{"AAA", 1 * 1024 + 1 * 32 + 1},
                      ManufacturerCase{"ZZZ", 26 * 1024 + 26 * 32 + 26},
                      ManufacturerCase{"KAM", 0x2C2D},  // Kamstrup, EN 13757-3 flag table
                      ManufacturerCase{"@@@", 0},
                      // Characters are not checked: lower case and high bytes go in as they are.
                      ManufacturerCase{"abc", 33 * 1024 + 34 * 32 + 35},
                      ManufacturerCase{"\x80\x41\x41", -192 * 1024 + 32 + 1}));

TEST(ManufacturerCodeToText, CodeToLetters) {
  struct Case {
    uint8_t code[2];
    const char* letters;
  } cases[] = {{{0x43, 0x04}, "ABC"}, {{0x2D, 0x2C}, "KAM"}, {{0x00, 0x00}, "@@@"},
               {{0xFF, 0x7F}, "___"}, {{0x8F, 0x19}, "FLO"}};
  for (const Case& c : cases) {
    char text[5];
    std::memset(text, 'x', sizeof text);
    manufacturerCodeToText(c.code, text);
    EXPECT_STREQ(text, c.letters);
    EXPECT_EQ(text[4], 'x');
  }
}

TEST(ManufacturerCodeToText, Bit15LeavesDestinationUntouched) {
  for (const uint8_t high : {0x80, 0x84, 0xFF}) {
    const uint8_t code[2] = {0x43, high};
    char text[4] = {'q', 'r', 's', 't'};
    manufacturerCodeToText(code, text);
    EXPECT_EQ(std::memcmp(text, "qrst", 4), 0) << int(high);
  }
}

TEST(ManufacturerCodeToText, RoundTripsEveryLetterTriple) {
  for (char a = 'A'; a <= 'Z'; ++a) {
    for (char b = 'A'; b <= 'Z'; ++b) {
      for (char c = 'A'; c <= 'Z'; ++c) {
        const char letters[3] = {a, b, c};
        const int code = manufacturerTextToCode(letters);
        const uint8_t bytes[2] = {static_cast<uint8_t>(code & 0xFF),
                                  static_cast<uint8_t>(code >> 8)};
        char text[4] = {};
        manufacturerCodeToText(bytes, text);
        ASSERT_EQ(std::string(text), std::string(letters, 3));
      }
    }
  }
}

TEST(RssiToDbm, SignedHalfTowardZeroMinus74) {
  const struct {
    uint8_t raw;
    int dbm;
  } cases[] = {{0, -74},    {1, -74},    {2, -73},   {127, -11}, {128, -138},
               {129, -137}, {200, -102}, {254, -75}, {255, -74}};
  for (const auto& c : cases) EXPECT_EQ(rssiToDbm(c.raw), c.dbm) << int(c.raw);
}

TEST(RssiToDbm, AllBytesMatchTruncatingArithmetic) {
  for (int raw = 0; raw < 256; ++raw) {
    const int s = raw < 128 ? raw : raw - 256;
    const int halved = s >= 0 ? s / 2 : -((-s) / 2);
    EXPECT_EQ(rssiToDbm(static_cast<uint8_t>(raw)), halved - 74) << raw;
  }
}

struct LeCase {
  std::vector<uint8_t> bytes;  // four bytes as they travel
  uint16_t value16;            // the first two read as a 16-bit value
  uint32_t value32;
};

TEST(LittleEndian, ReadsAndWritesLeastSignificantByteFirst) {
  const LeCase cases[] = {
      {{0x00, 0x00, 0x00, 0x00}, 0x0000, 0x00000000},
      {{0x01, 0x00, 0x00, 0x00}, 0x0001, 0x00000001},
      {{0x08, 0x02, 0x00, 0x00}, 0x0208, 0x00000208},
      {{0x78, 0x56, 0x34, 0x12}, 0x5678, 0x12345678},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFFFFFF},
      {{0x00, 0x80, 0x00, 0x80}, 0x8000, 0x80008000},
  };
  for (const LeCase& c : cases) {
    // Exact-size copies let ASan catch a read or write past the value.
    std::vector<uint8_t> two(c.bytes.begin(), c.bytes.begin() + 2);
    std::vector<uint8_t> four(c.bytes);
    EXPECT_EQ(readLe16(two.data()), c.value16) << c.value32;
    EXPECT_EQ(readLe32(four.data()), c.value32) << c.value32;
    std::vector<uint8_t> out16(2, guard);
    writeLe16(out16.data(), c.value16);
    EXPECT_EQ(out16, two) << c.value32;
    std::vector<uint8_t> out32(4, guard);
    writeLe32(out32.data(), c.value32);
    EXPECT_EQ(out32, four) << c.value32;
  }
}

struct FinderCase {
  std::vector<uint8_t> bytes;
  uint16_t length;  // may be shorter than bytes
  int counter;
  int version;
};

void PrintTo(const FinderCase& c, std::ostream* os) { *os << "length " << c.length; }

class RecordFinders : public ::testing::TestWithParam<FinderCase> {};

TEST_P(RecordFinders, FindFirstHeaderInScannedRange) {
  const FinderCase& c = GetParam();
  // A heap copy of exactly `length` bytes lets ASan catch any read past the length.
  std::vector<uint8_t> exact(c.bytes.begin(), c.bytes.begin() + c.length);
  const uint8_t* data = exact.empty() ? c.bytes.data() : exact.data();
  EXPECT_EQ(findCounterRecord(data, c.length), c.counter);
  EXPECT_EQ(findVersionRecord(data, c.length), c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordFinders,
    ::testing::Values(
        // 7 bytes, header at 4: beyond length-4, not scanned.
        FinderCase{{0, 0, 0, 0, 0x04, 0xFD, 0x08}, 7, 0, 0},
        FinderCase{{0, 0, 0, 0x04, 0xFD, 0x08, 0}, 7, 3, 0},
        FinderCase{{0x04, 0xFD, 0x08, 1, 2, 3, 4}, 7, 0, 0},
        FinderCase{{0x02, 0xFD, 0x0C, 1, 2}, 5, 0, 0},
        FinderCase{{9, 0x02, 0xFD, 0x0C, 1, 2}, 6, 0, 1},
        FinderCase{{9, 0x02, 0xFD, 0x0C, 1, 2}, 5, 0, 1},
        FinderCase{{9, 0x02, 0xFD, 0x0C, 1, 2}, 4, 0, 0},
        FinderCase{{1, 0x04, 0xFD, 0x08, 0x04, 0xFD, 0x08, 5, 5, 5, 5}, 11, 1, 0},
        // The first header wins, even at position 0 where it reads as absent.
        FinderCase{{0x02, 0xFD, 0x0C, 1, 2, 0x04, 0xFD, 0x08, 1, 2, 3, 4, 0x02, 0xFD, 0x0C, 1, 2},
                   17, 5, 0},
        FinderCase{{7, 0x02, 0xFD, 0x0C, 1, 2, 0x04, 0xFD, 0x08, 1, 2, 3, 4, 0x02, 0xFD, 0x0C},
                   16, 6, 1},
        FinderCase{{0x04, 0xFD, 0x09, 0x04, 0xFC, 0x08, 0x05, 0xFD, 0x08, 0}, 10, 0, 0},
        FinderCase{{0x04, 0xFD, 0x08}, 3, 0, 0},
        FinderCase{{0x04, 0xFD}, 2, 0, 0},
        FinderCase{{0x00}, 0, 0, 0}));

TEST(RecordFinders, NullBytesReturnZero) {
  EXPECT_EQ(findCounterRecord(nullptr, 0), 0);
  EXPECT_EQ(findVersionRecord(nullptr, 100), 0);
}

TEST(RecordFinders, LongAnswerFindsHeaderNearEnd) {
  std::vector<uint8_t> bytes(65535, 0);
  bytes[65531] = 0x04;
  bytes[65532] = 0xFD;
  bytes[65533] = 0x08;
  EXPECT_EQ(findCounterRecord(bytes.data(), 65535), 65531);
  EXPECT_EQ(findCounterRecord(bytes.data(), 65534), 0);
}

struct ReaderCase {
  std::vector<uint8_t> bytes;  // exactly `length` bytes
  bool counterRead;
  uint32_t counter;
  bool versionRead;
  uint16_t version;
};

TEST(RecordReaders, ReadTheValueOnlyWhenItFitsTheLength) {
  const ReaderCase cases[] = {
      {{9, 0x04, 0xFD, 0x08, 0x29, 0x00, 0x00, 0x00}, true, 41, false, 0},
      {{9, 0x04, 0xFD, 0x08, 0x29, 0x00, 0x00}, false, 0, false, 0},
      {{9, 0x02, 0xFD, 0x0C, 0x02, 0x01}, false, 0, true, 0x0102},
      {{9, 0x02, 0xFD, 0x0C, 0x02}, false, 0, false, 0},
      // A header at position 0 reads as absent.
      {{0x04, 0xFD, 0x08, 1, 2, 3, 4, 0x02, 0xFD, 0x0C, 1, 2}, false, 0, true, 0x0201},
      {{1, 0x04, 0xFD, 0x08, 0x78, 0x56, 0x34, 0x12, 0x02, 0xFD, 0x0C, 0x34, 0x12}, true, 0x12345678,
       true, 0x1234},
  };
  for (const ReaderCase& c : cases) {
    std::vector<uint8_t> exact(c.bytes);
    uint32_t counter = 0xDEADBEEF;
    uint16_t version = 0xBEEF;
    EXPECT_EQ(readCounterRecord(exact.data(), exact.size(), counter), c.counterRead) << exact.size();
    EXPECT_EQ(counter, c.counterRead ? c.counter : 0xDEADBEEF) << exact.size();
    EXPECT_EQ(readVersionRecord(exact.data(), exact.size(), version), c.versionRead) << exact.size();
    EXPECT_EQ(version, c.versionRead ? c.version : 0xBEEF) << exact.size();
  }
}

std::string dump(const std::vector<uint8_t>& bytes) {
  std::string out;
  appendHexDumpText(out, bytes.data(), bytes.size());
  return out;
}

TEST(HexDump, ZeroBytesGiveOneLineBreak) { EXPECT_EQ(dump({}), "\n"); }

TEST(HexDump, FiveBytesOnOneLine) {
  EXPECT_EQ(dump({0x01, 0x23, 0xAB, 0xCD, 0xEF}), "0x01 0x23 0xAB 0xCD 0xEF \n");
}

TEST(HexDump, SixteenBytesThenAnEmptyLine) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<uint8_t>(i * 17));
  EXPECT_EQ(dump(bytes),
            "0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99 0xAA 0xBB 0xCC 0xDD 0xEE 0xFF "
            "\n\n");
}

TEST(HexDump, SeventeenBytesBreakAfterSixteen) {
  std::vector<uint8_t> bytes(17, 0x5a);
  bytes[16] = 0x0f;
  std::string line;
  for (int i = 0; i < 16; ++i) line += "0x5A ";
  EXPECT_EQ(dump(bytes), line + "\n0x0F \n");
}

TEST(HexDump, EveryByteValueAsTheFormat0x02XWritesIt) {
  std::vector<uint8_t> bytes;
  std::string expected;
  for (int value = 0; value < 256; ++value) {
    bytes.push_back(static_cast<uint8_t>(value));
    char item[8];
    std::snprintf(item, sizeof item, "0x%02X ", value);
    expected += item;
    if (value % 16 == 15) expected += '\n';
  }
  EXPECT_EQ(dump(bytes), expected + "\n");
}

TEST(HexDump, AppendsToExistingText) {
  std::string out = "<<< Answer\n";
  const uint8_t e5 = 0xE5;
  appendHexDumpText(out, &e5, 1);
  EXPECT_EQ(out, "<<< Answer\n0xE5 \n");
}

std::string formatUtc(std::time_t t) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &t);
#else
  gmtime_r(&t, &parts);
#endif
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &parts);
  return std::string(text) + ":   ";
}

TEST(Timestamp, HasTheLogFormat) {
  const std::string text = timestampText();
  EXPECT_TRUE(std::regex_match(text, std::regex("([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]:   ")))
      << "'" << text << "'";
}

TEST(Timestamp, IsUtcWhateverTheLocalZone) {
  // A zone seven hours off UTC: a local-time stamp could not match gmtime.
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setTestEnv("TZ", "QRN-07");
  tzset();
  const std::time_t before = std::time(nullptr);
  const std::string text = timestampText();
  const std::time_t after = std::time(nullptr);
  if (old) setTestEnv("TZ", saved.c_str()); else unsetTestEnv("TZ");
  tzset();
  EXPECT_TRUE(text == formatUtc(before) || text == formatUtc(after))
      << "'" << text << "' vs '" << formatUtc(before) << "'";
}

}  // namespace

namespace {

TEST(PrintableText, ControlBytesEscapedUtf8Kept) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"ZJ001234", "ZJ001234"},
      {"USB\\VID_10C4&PID_0003\\ZJ1", "USB\\VID_10C4&PID_0003\\ZJ1"},  // backslashes stay
      {"", ""},
      {"a\x1B[2Jb", "a\\x1B[2Jb"},                 // ESC of a terminal sequence
      {"\x01\x07\t\n\r\x1F", "\\x01\\x07\\x09\\x0A\\x0D\\x1F"},  // C0 controls
      {"del\x7F", "del\\x7F"},
      {"Z\xC3\xA4hler \xE2\x82\xAC \xF0\x9F\x93\xA1", "Z\xC3\xA4hler \xE2\x82\xAC \xF0\x9F\x93\xA1"},  // valid UTF-8
      {"\xC2\x9B" "31m", "\\xC2\\x9B31m"},        // U+009B, the C1 CSI, as UTF-8
      {"\x9B" "31m", "\\x9B31m"},                    // CSI as a lone byte
      {"\xC3(", "\\xC3("},                            // lead byte without continuation
      {"\xC0\xAF", "\\xC0\\xAF"},                   // overlong "/"
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},        // surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
      {"\xE2\x82", "\\xE2\\x82"},                   // cut at the end
  };
  for (const Case& c : cases) EXPECT_EQ(printableText(c.in), c.out) << c.out;
  EXPECT_EQ(printableText(nullptr), "");
  // Given a length, a NUL is one more byte to show, and a sequence cut by the length is broken.
  EXPECT_EQ(printableText(std::string("a\0b\xFF", 4)), "a\\x00b\\xFF");
  EXPECT_EQ(printableText("\xE2\x82\xAC", 2), "\\xE2\\x82");
}

}  // namespace
