// Converter configuration logic: slots, answers, option bits, scan list, key find, meter choice.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/key_list.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "converter/destination_meter.h"
#include "converter/key_find.h"
#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "converter/settings_view.h"
#include "converter/slot_data.h"
#include "mbus/link_frame.h"
#include "text/log.h"

namespace {

using Bytes = std::vector<uint8_t>;

class RecordingLog : public Log {
public:
  std::vector<std::string> lines;
  void logText(const char* text, int style) override {
    lines.push_back(std::string(text) + (style == 0 ? "" : "@" + std::to_string(style)));
  }
  void logTimestamp() override { lines.push_back("<time>"); }
  void logHexDump(const uint8_t*, size_t count, int) override { lines.push_back("<dump " + std::to_string(count) + ">"); }
  void clearLog() override { lines.clear(); }
};

class FakeView : public SettingsView {
public:
  SlotFields slots[4];
  WiredSettings wired;
  std::string keyText;
  std::string idText;
  bool dialogOpen = false;
  bool checks[8] = {};
  int checkWrites = 0;
  NearbyRowTexts rows[250];
  int rowWrites = 0;
  int slotWrites = 0;
  int wiredWrites = 0;
  std::vector<int> deviceIdWrites;

  SlotFields readSlot(int s) override { return slots[s]; }
  void writeSlot(int s, const SlotFields& f) override {
    slots[s] = f;
    ++slotWrites;
  }
  void setDeviceIdText(int s, const std::string& text) override {
    slots[s].deviceId = text;
    deviceIdWrites.push_back(s);
  }
  WiredSettings readWired() override { return wired; }
  void writeWired(const WiredSettings& w) override {
    wired = w;
    ++wiredWrites;
  }
  std::string converterKeyText() override { return keyText; }
  void setConverterKeyText(const std::string& text) override { keyText = text; }
  void setConverterIdText(const std::string& text) override { idText = text; }
  bool optionDialogOpen() override { return dialogOpen; }
  void setOptionCheck(int i, bool ticked) override {
    checks[i] = ticked;
    ++checkWrites;
  }
  std::string nearbyAddressText(int row) override { return rows[row].address; }
  void setNearbyRow(int row, const NearbyRowTexts& texts) override {
    rows[row] = texts;
    ++rowWrites;
  }
};

class RecordingTransport : public MessageTransport {
public:
  std::vector<Bytes> frames;
  bool wiredPortOpen() override { return true; }
  bool writeWired(const uint8_t* f, size_t n, std::string&) override {
    frames.emplace_back(f, f + n);
    return true;
  }
  bool writeDongleFrame(const uint8_t* f, size_t n, std::string&) override {
    frames.emplace_back(f, f + n);
    return true;
  }
};

// A plain wired link, so the payload can be read back from the frame.
struct Fixture {
  ConverterLinkState link;
  LinkFrameBuffer frameBuffer{};
  RecordingTransport transport;
  RecordingLog log;
  FakeView view;
  ConverterOptions options;
  NearbyDeviceList nearby;
  CommandChannel channel{link, frameBuffer, transport, log};
  AnswerTargets targets{view, log, options, nearby};
  Fixture() { link.linkMode = LinkMode::wired; }

  // Payloads of every command sent so far: long frame, then the 6-byte plain header.
  std::vector<Bytes> payloads() const {
    std::vector<Bytes> out;
    for (const Bytes& f : transport.frames) {
      EXPECT_GE(f.size(), 14u);
      EXPECT_EQ(f[6], 0x5A);
      out.emplace_back(f.begin() + 11, f.end() - 2);
    }
    return out;
  }
};

Bytes bytesOf(const uint8_t* p, size_t n) { return Bytes(p, p + n); }

SlotFields sampleSlot() {
  SlotFields f;
  f.active = true;
  f.manufacturer = "ABC";
  f.version = "01";
  f.deviceId = "12345678";
  f.media = "07";
  f.kek = "000102030405060708090A0B0C0D0E0F";
  f.masterKey = "F0E1D2C3B4A5968778695A4B3C2D1E0F";
  f.wiredAddress = "17";
  f.wirelessProtocol = 5;
  f.wirelessMode = 3;
  return f;
}

// ---- Set Data record ----

TEST(SlotRecord, EveryFieldInPlace) {
  uint8_t r[slotRecordLength];
  buildSlotRecord(2, sampleSlot(), WiredSettings{9, 8}, r);
  const Bytes expected = {
      0x0F, 0x35, 0x93, 0x02,                          // head, slot
      0x01, 0x00, 0x00, 0x00,                          // active
      0x78, 0x56, 0x34, 0x12, 0x43, 0x04, 0x01, 0x07,  // transport-header order
      0x43, 0x04, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07,  // link-layer order
      0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87, 0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F,
      0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
      0x09, 0x08, 0x05, 0x03,  // wired protocol, wired mode, wireless protocol, wireless mode
      0x01, 0x11, 0x00, 0x00};
  EXPECT_EQ(bytesOf(r, 64), expected);
}

TEST(SlotRecord, InactiveSlotAndShortTexts) {
  SlotFields f;
  f.deviceId = "00000000";
  f.version = "5";     // odd last digit makes no byte
  f.media = "1A2";     // first two digits
  f.kek = "AABB";      // rest of the key zero
  f.masterKey = "";
  f.manufacturer = "AB";  // missing letter counts as "@"
  uint8_t r[slotRecordLength];
  buildSlotRecord(0, f, WiredSettings{}, r);
  EXPECT_EQ(bytesOf(r + 4, 4), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(r[14], 0x00);
  EXPECT_EQ(r[15], 0x1A);
  EXPECT_EQ(bytesOf(r + 12, 2), (Bytes{0x40, 0x04}));
  EXPECT_EQ(bytesOf(r + 40, 16), (Bytes{0xAA, 0xBB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bytesOf(r + 24, 16), Bytes(16, 0));
  EXPECT_EQ(r[58], 4);  // initial wireless protocol OMS
  EXPECT_EQ(r[59], 2);  // initial wireless mode MODE5
}

TEST(SlotTexts, ManufacturerWiredAddressAndDeviceId) {
  const struct {
    const char* text;
    uint16_t code;
  } manufacturers[] = {{"ABC", 0x0443}, {"ABB", 0x0442}, {"KAM", 0x2C2D}, {"AB", 0x0440}, {"", 0x0000}, {"ABCD", 0x0443}};
  for (const auto& c : manufacturers) EXPECT_EQ(manufacturerCode(c.text), c.code) << c.text;
  // Wired addresses: decimal, modulo 256.
  const struct {
    const char* text;
    uint8_t byte;
  } addresses[] = {{"", 0},      {"abc", 0},  {"-1", 255},  {"99999", 159}, {"0", 0},   {"250", 250},
                   {"255", 255}, {"256", 0},  {" 17", 17},  {"12abc", 12},  {"+5", 5},  {"-255", 1},
                   {"-256", 0},  {"-", 0},    {"18446744073709551617", 1},  // 2^64 + 1
                   {"1 2", 1}};
  for (const auto& c : addresses) EXPECT_EQ(wiredAddressByte(c.text), c.byte) << c.text;
  // Device ids: leading zeros up to eight digits.
  const struct {
    const char* text;
    const char* padded;
    bool changed;
  } ids[] = {{"1234", "00001234", true}, {"", "00000000", true}, {"1234567", "01234567", true},
             {"12345678", "12345678", false}, {"123456789A", "123456789A", false}};
  for (const auto& c : ids) {
    std::string t = c.text;
    EXPECT_EQ(padDeviceIdText(t), c.changed) << c.text;
    EXPECT_EQ(t, c.padded);
  }
}

// ---- Get Data / Set Data commands ----

TEST(SlotCommands, GetDataPayloadAndKeyLoaded) {
  Fixture f;
  f.view.keyText = "0102030405060708090A0B0C0D0E0F10";
  for (int s = 0; s < 4; ++s) EXPECT_EQ(getSlotData(s, f.view, f.channel), 1);
  auto p = f.payloads();
  ASSERT_EQ(p.size(), 4u);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(p[static_cast<size_t>(s)], (Bytes{0x0F, 0x35, 0x92, static_cast<uint8_t>(s)}));
  EXPECT_EQ(f.link.converterKey[0], 0x01);
  EXPECT_EQ(f.link.converterKey[15], 0x10);
}

TEST(SlotCommands, SlotIndexOutsideSendsNothing) {
  Fixture f;
  for (int s : {-1, 4, 100}) {
    EXPECT_EQ(getSlotData(s, f.view, f.channel), 0);
    EXPECT_EQ(setSlotData(s, f.view, f.channel), 0);
  }
  EXPECT_TRUE(f.transport.frames.empty());
  EXPECT_TRUE(f.log.lines.empty());
}

TEST(SlotCommands, DeviceIdPaddedAndWrittenBackOrFirstEightDigitsCount) {
  const struct {
    const char* typed;
    const char* shown;  // afterwards
    std::vector<int> writes;
    Bytes id;
  } cases[] = {{"1234", "00001234", {1}, {0x34, 0x12, 0x00, 0x00}},
               {"123456789A", "123456789A", {}, {0x78, 0x56, 0x34, 0x12}}};
  for (const auto& c : cases) {
    Fixture f;
    f.view.slots[1] = sampleSlot();
    f.view.slots[1].deviceId = c.typed;
    ASSERT_EQ(setSlotData(1, f.view, f.channel), 1);
    EXPECT_EQ(f.view.slots[1].deviceId, c.shown);
    EXPECT_EQ(f.view.deviceIdWrites, c.writes);
    Bytes p = f.payloads().at(0);
    ASSERT_EQ(p.size(), 64u);
    EXPECT_EQ(p[2], 0x93);
    EXPECT_EQ(p[3], 1);
    EXPECT_EQ(Bytes(p.begin() + 8, p.begin() + 12), c.id);
    EXPECT_EQ(Bytes(p.begin() + 18, p.begin() + 22), c.id);
    EXPECT_EQ(Bytes(p.begin() + 12, p.begin() + 14), (Bytes{0x43, 0x04}));
    EXPECT_EQ(Bytes(p.begin() + 16, p.begin() + 18), (Bytes{0x43, 0x04}));
  }
}

// Addresses the combo offers, or that wrap onto them, go out; those the converter's answer
// would be refused for do not.
TEST(SlotCommands, WiredAddressOutsideTheListIsNotSent) {
  struct Case {
    const char* text;
    bool sent;
  };
  const Case cases[] = {{"0", true},    {"250", true},  {"251", false}, {"255", false}, {"-1", false},
                        {"507", false}, {"256", true},  {"", true},     {"17", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Fixture f;
    f.view.slots[2] = sampleSlot();
    f.view.slots[2].deviceId = "1234";
    f.view.slots[2].wiredAddress = c.text;
    EXPECT_EQ(setSlotData(2, f.view, f.channel), c.sent ? 1 : 0);
    EXPECT_EQ(f.transport.frames.size(), c.sent ? 1u : 0u);
    const std::vector<std::string> refused = {">>> Set Data of slot 3 not sent: the wired address must be 0 to 250.\n"};
    if (c.sent) {
      EXPECT_NE(f.log.lines, refused);
    } else {
      EXPECT_EQ(f.log.lines, refused);
      EXPECT_EQ(f.view.slots[2].deviceId, "1234");  // the refused slot is left as typed
    }
  }
}

// ---- Get Data answer ----

Bytes answerFor(const SlotFields& fields, int s, WiredSettings wired) {
  uint8_t r[slotRecordLength];
  buildSlotRecord(s, fields, wired, r);
  r[2] = 0x92;
  return bytesOf(r, 64);
}

TEST(GetDataAnswer, ExampleAddressFillsSlotThree) {
  Fixture f;
  Bytes a(64, 0);
  a[0] = 0x0F;
  a[1] = 0x35;
  a[2] = 0x92;
  a[3] = 2;
  const uint8_t address[8] = {0x78, 0x56, 0x34, 0x12, 0x43, 0x04, 0x01, 0x07};
  std::memcpy(a.data() + 8, address, 8);
  a[4] = 0x80;
  a[61] = 250;
  a.resize(100, 0xEE);  // a longer answer is read by its first 64 bytes
  ASSERT_TRUE(parseConverterAnswer(a.data(), a.size(), f.targets));
  const SlotFields& s = f.view.slots[2];
  EXPECT_EQ(s.manufacturer, "ABC");
  EXPECT_EQ(s.deviceId, "12345678");
  EXPECT_EQ(s.version, "01");
  EXPECT_EQ(s.media, "07");
  EXPECT_TRUE(s.active);
  EXPECT_EQ(s.wiredAddress, "250");
  EXPECT_EQ(s.kek, std::string(32, '0'));
  EXPECT_TRUE(f.view.slots[1].manufacturer.empty());
  EXPECT_TRUE(f.log.lines.empty());
}

TEST(GetDataAnswer, ActiveReadsOffsetFourOnly) {
  Fixture f;
  Bytes a = answerFor(sampleSlot(), 0, {});
  a[4] = 0;
  a[5] = 1;
  a[7] = 1;
  f.view.slots[0].active = true;
  parseConverterAnswer(a.data(), a.size(), f.targets);
  EXPECT_FALSE(f.view.slots[0].active);
}

TEST(GetDataAnswer, SetThenGetLeavesFieldsAsTheyWere) {
  Fixture f;
  f.view.slots[1] = sampleSlot();
  f.view.wired = WiredSettings{7, 6};
  const SlotFields before = f.view.slots[1];
  setSlotData(1, f.view, f.channel);
  Bytes p = f.payloads().at(0);
  p[2] = 0x92;
  f.view.slots[1] = SlotFields{};
  f.view.wired = WiredSettings{};
  ASSERT_TRUE(parseConverterAnswer(p.data(), p.size(), f.targets));
  EXPECT_TRUE(f.view.slots[1] == before);
  EXPECT_EQ(f.view.wired.protocol, 7);
  EXPECT_EQ(f.view.wired.mode, 6);
}

TEST(GetDataAnswer, WiredListsFollowLastAnswerWhateverSlot) {
  Fixture f;
  Bytes a = answerFor(sampleSlot(), 0, WiredSettings{1, 2});
  Bytes b = answerFor(sampleSlot(), 3, WiredSettings{10, 9});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  parseConverterAnswer(b.data(), b.size(), f.targets);
  EXPECT_EQ(f.view.wired.protocol, 10);
  EXPECT_EQ(f.view.wired.mode, 9);
  EXPECT_EQ(f.view.wiredWrites, 2);
}

TEST(GetDataAnswer, ManufacturerWithoutLettersShowsEmpty) {
  Fixture f;
  Bytes a = answerFor(sampleSlot(), 0, {});
  a[12] = 0x00;
  a[13] = 0x84;  // bit 15 set
  f.view.slots[0].manufacturer = "XYZ";
  parseConverterAnswer(a.data(), a.size(), f.targets);
  EXPECT_EQ(f.view.slots[0].manufacturer, "");
}

TEST(GetDataAnswer, OutOfRangeIgnoredWholeEdgeAccepted) {
  const struct {
    size_t offset;
    uint8_t value;
    const char* line;  // nullptr: accepted
  } cases[] = {{3, 3, nullptr},
               {3, 4, "<<< Ignored Get Data answer: slot 4 out of range.\n"},
               {3, 7, "<<< Ignored Get Data answer: slot 7 out of range.\n"},
               {3, 255, "<<< Ignored Get Data answer: slot 255 out of range.\n"},
               {56, 11, nullptr},
               {56, 12, "<<< Ignored Get Data answer: wired protocol 12 out of range.\n"},
               {57, 9, nullptr},
               {57, 10, "<<< Ignored Get Data answer: wired encryption mode 10 out of range.\n"},
               {58, 11, nullptr},
               {58, 200, "<<< Ignored Get Data answer: wireless protocol 200 out of range.\n"},
               {59, 7, nullptr},
               {59, 8, "<<< Ignored Get Data answer: wireless encryption mode 8 out of range.\n"},
               {61, 250, nullptr},
               {61, 251, "<<< Ignored Get Data answer: wired address 251 out of range.\n"},
               {60, 0xFF, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " = " << int{c.value});
    Fixture f;
    f.view.slots[0].manufacturer = "OLD";
    Bytes a = answerFor(sampleSlot(), 0, {});
    a[c.offset] = c.value;
    const bool applied = parseConverterAnswer(a.data(), a.size(), f.targets);
    EXPECT_EQ(applied, c.line == nullptr);
    EXPECT_EQ(f.log.lines, c.line == nullptr ? std::vector<std::string>{} : std::vector<std::string>{c.line});
    EXPECT_EQ(f.view.slotWrites, applied ? 1 : 0);
    if (!applied) {
      EXPECT_EQ(f.view.wiredWrites, 0);
      EXPECT_EQ(f.view.slots[0].manufacturer, "OLD");
    }
  }
}

TEST(AnswerParser, ShortAnswersIgnoredWithLine) {
  const struct {
    uint8_t code;
    size_t length;
    const char* line;
  } cases[] = {{0x92, 3, "<<< Ignored Get Data answer: 3 bytes, 64 expected.\n"},
               {0x92, 63, "<<< Ignored Get Data answer: 63 bytes, 64 expected.\n"},
               {0x96, 83, "<<< Ignored Scan answer: 83 bytes, 84 expected.\n"},
               {0x96, 4, "<<< Ignored Scan answer: 4 bytes, 84 expected.\n"},
               {0x97, 10, "<<< Ignored option bits answer: 10 bytes, 11 expected.\n"},
               {0x97, 3, "<<< Ignored option bits answer: 3 bytes, 11 expected.\n"}};
  for (const auto& c : cases) {
    Fixture f;
    Bytes a(c.length, 0x01);
    a[0] = 0x0F;
    a[1] = 0x35;
    a[2] = c.code;
    if (a.size() > 3) a[3] = 0;
    f.view.slots[0].manufacturer = "OLD";
    EXPECT_FALSE(parseConverterAnswer(a.data(), a.size(), f.targets));
    EXPECT_EQ(f.log.lines, std::vector<std::string>{c.line});
    EXPECT_EQ(f.view.slotWrites + f.view.wiredWrites + f.view.rowWrites + f.view.checkWrites, 0);
    EXPECT_EQ(f.nearby.count, 0u);
    EXPECT_EQ(f.options.bytes[0], 0xFF);
  }
}

TEST(AnswerParser, OtherAnswersChangeNothingSilently) {
  Fixture f;
  Bytes good = answerFor(sampleSlot(), 0, {});
  std::vector<Bytes> others;
  Bytes wrongSecond = good;
  wrongSecond[1] = 0x36;
  others.push_back(wrongSecond);
  Bytes wrongFirst = good;
  wrongFirst[0] = 0x0E;
  others.push_back(wrongFirst);
  Bytes setData = good;
  setData[2] = 0x93;
  others.push_back(setData);
  for (uint8_t code : {0x00, 0x98, 0x95, 0xFF}) {
    Bytes other = good;
    other[2] = code;
    others.push_back(other);
  }
  for (const Bytes& a : others) EXPECT_FALSE(parseConverterAnswer(a.data(), a.size(), f.targets));
  EXPECT_FALSE(parseConverterAnswer(good.data(), 2, f.targets));
  EXPECT_FALSE(parseConverterAnswer(nullptr, 0, f.targets));
  EXPECT_TRUE(f.log.lines.empty());
  EXPECT_EQ(f.view.slotWrites + f.view.wiredWrites, 0);
}

// ---- option bits ----

Bytes optionsAnswer() { return {0x0F, 0x35, 0x97, 0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0xFF}; }

// Bits never read start unticked: a box ticked only because nothing was known would be written.
TEST(OptionBits, UnknownBitsStartClearAndOkWritesWhatWasSet) {
  Fixture f;
  bool checks[8];
  optionChecksForDialog(f.options, checks);
  for (bool c : checks) EXPECT_FALSE(c);
  for (bool& c : checks) c = true;
  ASSERT_EQ(confirmConverterOptions(checks, f.options, f.view, f.channel), 1);
  EXPECT_EQ(f.payloads().at(0), (Bytes{0x0F, 0x35, 0x98, 1, 1, 1, 1, 1, 1, 1, 1}));
  for (uint8_t b : f.options.bytes) EXPECT_EQ(b, 1);
}

TEST(OptionBits, ReadRequestPayload) {
  Fixture f;
  f.view.keyText = "FF";
  ASSERT_EQ(requestConverterOptions(f.view, f.channel), 1);
  EXPECT_EQ(f.payloads().at(0), (Bytes{0x0F, 0x35, 0x97}));
  EXPECT_EQ(f.link.converterKey[0], 0xFF);
}

TEST(OptionBits, AnswerDuringDialogTicksByItsRules) {
  const struct {
    Bytes answer;
    bool checks[8];  // check 0 takes any non-zero byte, the others 1 only
  } cases[] = {{optionsAnswer(), {true, false, true, false, false, false, false, false}},
               {{0x0F, 0x35, 0x97, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x80},
                {true, true, true, true, true, true, true, false}}};
  for (const auto& c : cases) {
    Fixture f;
    f.view.dialogOpen = true;
    ASSERT_TRUE(parseConverterAnswer(c.answer.data(), c.answer.size(), f.targets));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(f.view.checks[i], c.checks[i]) << i;
    EXPECT_EQ(f.view.checkWrites, 8);
    EXPECT_EQ(bytesOf(f.options.bytes, 8), Bytes(c.answer.begin() + 3, c.answer.end()));
  }
}

TEST(OptionBits, AnswerBeforeDialogThenOk) {
  Fixture f;
  Bytes a = optionsAnswer();
  a.push_back(0x55);  // beyond offset 10: ignored
  ASSERT_TRUE(parseConverterAnswer(a.data(), a.size(), f.targets));
  EXPECT_EQ(f.view.checkWrites, 0);
  bool checks[8];
  optionChecksForDialog(f.options, checks);
  const bool expected[8] = {true, false, true, true, false, false, false, true};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(checks[i], expected[i]) << i;
  confirmConverterOptions(checks, f.options, f.view, f.channel);
  EXPECT_EQ(f.payloads().at(0), (Bytes{0x0F, 0x35, 0x98, 0x01, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01}));
}

// ---- nearby devices ----

Bytes scanAnswer(const std::vector<std::pair<Bytes, uint8_t>>& entries) {
  Bytes a(84, 0);
  a[0] = 0x0F;
  a[1] = 0x35;
  a[2] = 0x96;
  a[3] = 0x5A;
  for (size_t i = 0; i < entries.size() && i < 8; ++i) {
    std::memcpy(a.data() + 4 + 10 * i, entries[i].first.data(), 8);
    a[4 + 10 * i + 8] = entries[i].second;
    a[4 + 10 * i + 9] = 0xEE;
  }
  return a;
}

const Bytes meterAbc = {0x43, 0x04, 0x78, 0x56, 0x34, 0x12, 0x01, 0x07};
const Bytes meterAbb = {0x42, 0x04, 0x99, 0x99, 0x99, 0x99, 0x02, 0x04};

TEST(Nearby, ConverterItselfAndEmptyEntriesSkipped) {
  Fixture f;
  Bytes none = scanAnswer({});
  EXPECT_TRUE(parseConverterAnswer(none.data(), none.size(), f.targets));
  EXPECT_EQ(f.nearby.count, 0u);
  EXPECT_EQ(f.view.rowWrites, 0);
  Bytes a = scanAnswer({{{0x8F, 0x19, 1, 2, 3, 4, 5, 0x36}, 10},
                        {{0x00, 0x00, 1, 2, 3, 4, 5, 0x00}, 10},
                        {{0x8F, 0x19, 1, 2, 3, 4, 5, 0x37}, 10},
                        {{0x00, 0x00, 1, 2, 3, 4, 5, 0x01}, 10}});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  ASSERT_EQ(f.nearby.count, 2u);
  EXPECT_EQ(f.nearby.entries[0].address[7], 0x01);  // manufacturer 0 sorts first
  EXPECT_EQ(f.nearby.entries[1].address[7], 0x37);
}

TEST(Nearby, SameAddressKeepsOneEntryWithLatestRssiAndCountsEvery) {
  Fixture f;
  Bytes a = scanAnswer({{meterAbc, 100}});
  Bytes b = scanAnswer({{meterAbb, 50}, {meterAbc, 200}});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  parseConverterAnswer(b.data(), b.size(), f.targets);
  ASSERT_EQ(f.nearby.count, 2u);
  EXPECT_EQ(f.nearby.entries[1].rssi, 200);
  EXPECT_EQ(f.view.rows[1].rssi, "-102");
  // Every answer's value counts: -24 dBm, then -102 dBm.
  EXPECT_EQ(f.nearby.entries[1].rssiCount, 2u);
  EXPECT_EQ(f.nearby.entries[1].rssiMinDbm, -102);
  EXPECT_EQ(f.nearby.entries[1].rssiMaxDbm, -24);
  EXPECT_EQ(f.nearby.entries[1].rssiSumDbm, -126);
  EXPECT_EQ(f.nearby.entries[0].rssiCount, 1u);
  EXPECT_EQ(f.nearby.entries[0].rssiMinDbm, -49);
}

TEST(Nearby, RowTexts) {
  Fixture f;
  Bytes a = scanAnswer({{meterAbc, 200}});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  EXPECT_EQ(f.view.rows[0].address, "4304785634120107");
  EXPECT_EQ(f.view.rows[0].description, "ABC ID: 12345678 type: 07 version: 01");
  EXPECT_EQ(f.view.rows[0].rssi, "-102");
  EXPECT_EQ(f.nearby.entries[0].rssi, 200);
  EXPECT_EQ(bytesOf(f.nearby.entries[0].sortKey, 6), (Bytes{0x04, 0x43, 0x12, 0x34, 0x56, 0x78}));
}

TEST(Nearby, SortByManufacturerThenId) {
  for (bool abcFirst : {true, false}) {
    Fixture f;
    const Bytes lowId = {0x43, 0x04, 0xFF, 0x00, 0x00, 0x00, 0x09, 0x09};
    const Bytes highId = {0x43, 0x04, 0x00, 0x01, 0x00, 0x00, 0x01, 0x01};
    Bytes a = abcFirst ? scanAnswer({{highId, 1}, {meterAbc, 2}, {meterAbb, 3}, {lowId, 4}})
                       : scanAnswer({{lowId, 4}, {meterAbb, 3}, {highId, 1}, {meterAbc, 2}});
    parseConverterAnswer(a.data(), a.size(), f.targets);
    ASSERT_EQ(f.nearby.count, 4u);
    EXPECT_EQ(bytesOf(f.nearby.entries[0].address, 8), meterAbb);
    EXPECT_EQ(bytesOf(f.nearby.entries[1].address, 8), lowId);
    EXPECT_EQ(bytesOf(f.nearby.entries[2].address, 8), highId);
    EXPECT_EQ(bytesOf(f.nearby.entries[3].address, 8), meterAbc);
    EXPECT_EQ(f.view.rows[0].address, "4204999999990204");
  }
}

Bytes numberedMeter(uint32_t i) {
  return {0x43, 0x04, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0, 1, 7};
}

TEST(Nearby, FullListDropsLowestKey) {
  Fixture f;
  for (uint32_t i = 0; i < 250; ++i) addNearbyDevice(f.nearby, numberedMeter(i + 10).data(), 1);
  sortNearbyDevices(f.nearby);
  ASSERT_EQ(f.nearby.count, 250u);
  Bytes newcomer = numberedMeter(5);
  Bytes a = scanAnswer({{newcomer, 9}});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  EXPECT_EQ(f.nearby.count, 250u);
  // 10 had the lowest key and is gone; the newcomer sorts to the front.
  EXPECT_EQ(bytesOf(f.nearby.entries[0].address, 8), newcomer);
  EXPECT_EQ(bytesOf(f.nearby.entries[1].address, 8), numberedMeter(11));
  EXPECT_EQ(bytesOf(f.nearby.entries[249].address, 8), numberedMeter(259));
  for (uint32_t i = 0; i < 250; ++i) EXPECT_NE(bytesOf(f.nearby.entries[i].address, 8), numberedMeter(10));
  EXPECT_EQ(f.view.rowWrites, 250);
}

TEST(Nearby, FullListKnownAddressOnlyRefreshes) {
  Fixture f;
  for (uint32_t i = 0; i < 250; ++i) addNearbyDevice(f.nearby, numberedMeter(i).data(), 1);
  addNearbyDevice(f.nearby, numberedMeter(0).data(), 77);
  EXPECT_EQ(f.nearby.count, 250u);
  EXPECT_EQ(bytesOf(f.nearby.entries[0].address, 8), numberedMeter(0));
  EXPECT_EQ(f.nearby.entries[0].rssi, 77);
}

TEST(Nearby, RowsFromCountOnKeepTheirText) {
  Fixture f;
  f.view.rows[1].address = "stale";
  Bytes a = scanAnswer({{meterAbc, 1}});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  EXPECT_EQ(f.view.rows[1].address, "stale");
  EXPECT_EQ(f.view.rowWrites, 1);
}

TEST(Nearby, ScanRequestPayload) {
  Fixture f;
  ASSERT_EQ(scanNearby(f.view, f.channel), 1);
  EXPECT_EQ(f.payloads().at(0), (Bytes{0x0F, 0x35, 0x96}));
}

// ---- key find ----

std::unique_ptr<MeterKeyList> keyList() {
  auto list = std::make_unique<MeterKeyList>();
  list->count = 0;
  auto add = [&](Bytes id, uint8_t first, uint8_t second) {
    MeterKeyEntry& e = list->entries[list->count++];
    std::memcpy(e.id, id.data(), 4);
    std::memset(e.firstKey, first, 16);
    std::memset(e.secondKey, second, 16);
  };
  add({0x34, 0x12, 0x00, 0x00}, 0x99, 0x99);  // the reversed id must not match
  add({0x00, 0x00, 0x12, 0x34}, 0xA1, 0xB2);
  add({0x00, 0x00, 0x12, 0x34}, 0xCC, 0xDD);  // a later duplicate loses
  add({0x12, 0x34, 0x56, 0x78}, 0x01, 0x02);
  return list;
}

TEST(KeyFind, ShortIdPaddedNoReversalFirstMatchLongIdFirstEightDigits) {
  const struct {
    const char* typed;
    const char* shown;
    std::vector<int> writes;
    const char* masterKey;
    const char* kek;
  } cases[] = {{"1234", "00001234", {2}, "A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1", "B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2"},
               {"12345678FF", "12345678FF", {}, "01010101010101010101010101010101", "02020202020202020202020202020202"}};
  for (const auto& c : cases) {
    Fixture f;
    auto list = keyList();
    f.view.slots[2] = sampleSlot();
    f.view.slots[2].deviceId = c.typed;
    ASSERT_TRUE(findSlotKeys(2, f.view, *list));
    EXPECT_EQ(f.view.slots[2].deviceId, c.shown);
    EXPECT_EQ(f.view.deviceIdWrites, c.writes);
    EXPECT_EQ(f.view.slots[2].masterKey, c.masterKey);
    EXPECT_EQ(f.view.slots[2].kek, c.kek);
    EXPECT_EQ(f.view.slots[2].manufacturer, "ABC");
    EXPECT_TRUE(f.transport.frames.empty());
    EXPECT_TRUE(f.log.lines.empty());
  }
}

TEST(KeyFind, NoMatchChangesNothing) {
  Fixture f;
  auto list = keyList();
  f.view.slots[0] = sampleSlot();
  f.view.slots[0].deviceId = "87654321";
  EXPECT_FALSE(findSlotKeys(0, f.view, *list));
  EXPECT_EQ(f.view.slotWrites, 0);
  EXPECT_EQ(f.view.slots[0].masterKey, sampleSlot().masterKey);
  EXPECT_EQ(f.view.slots[0].kek, sampleSlot().kek);
  EXPECT_TRUE(f.log.lines.empty());
  EXPECT_FALSE(findSlotKeys(4, f.view, *list));
}

// ---- destination meter ----

TEST(DestinationMeter, SetsAddressFieldsOfChosenSlot) {
  Fixture f;
  f.view.rows[5].address = "4304785634120107";
  f.view.slots[1] = sampleSlot();
  f.view.slots[1].manufacturer = "ZZZ";
  f.view.slots[1].deviceId = "00000000";
  f.view.slots[1].version = "FF";
  f.view.slots[1].media = "EE";
  ASSERT_TRUE(chooseDestinationMeter(5, 1, f.view, f.log));
  EXPECT_EQ(f.log.lines, std::vector<std::string>{"Sending data [4304785634120107] to meter 2\n"});
  EXPECT_TRUE(f.view.slots[1] == sampleSlot());
  EXPECT_TRUE(f.transport.frames.empty());
}

TEST(DestinationMeter, EmptyRowLogsNothingSelected) {
  for (int row : {0, 249, -1, 250}) {
    Fixture f;
    f.view.slots[0] = sampleSlot();
    EXPECT_FALSE(chooseDestinationMeter(row, 0, f.view, f.log));
    EXPECT_EQ(f.log.lines, std::vector<std::string>{">>> Nothing selected\n"});
    EXPECT_EQ(f.view.slotWrites, 0);
  }
}

TEST(DestinationMeter, ScanRowTakenOver) {
  Fixture f;
  Bytes a = scanAnswer({{meterAbb, 1}, {meterAbc, 2}});
  parseConverterAnswer(a.data(), a.size(), f.targets);
  ASSERT_TRUE(chooseDestinationMeter(0, 3, f.view, f.log));
  EXPECT_EQ(f.view.slots[3].manufacturer, "ABB");
  EXPECT_EQ(f.view.slots[3].deviceId, "99999999");
  EXPECT_EQ(f.view.slots[3].version, "02");
  EXPECT_EQ(f.view.slots[3].media, "04");
  EXPECT_EQ(f.log.lines.back(), "Sending data [4204999999990204] to meter 4\n");
}

}  // namespace
