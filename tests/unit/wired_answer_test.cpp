// The wired wake-up's result table and the converter identity update.
#include "link/wired_answer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "link/wired_connection.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Long frame written out by the M-Bus rules: 68 L L 68 C A data CS 16, CS the sum from C on.
Bytes longFrame(uint8_t c, uint8_t a, const Bytes& data) {
  Bytes f = {0x68, uint8_t(data.size() + 2), uint8_t(data.size() + 2), 0x68, c, a};
  f.insert(f.end(), data.begin(), data.end());
  unsigned sum = c + a;
  for (uint8_t b : data) sum += b;
  f.push_back(uint8_t(sum));
  f.push_back(0x16);
  return f;
}

// CI 0x72 answer: 12-byte long header with identification 12345678, manufacturer 0x0443,
// version 01, device type 0x36, then the records given.
Bytes converterAnswer(const Bytes& records) {
  Bytes data = {0x72, 0x78, 0x56, 0x34, 0x12, 0x43, 0x04, 0x01, 0x36, 0x05, 0x00, 0x00, 0x00};
  data.insert(data.end(), records.begin(), records.end());
  return longFrame(0x08, 0xFB, data);
}

struct Recorder : WiredFrameListener {
  std::vector<Bytes> frames;
  void onLongFrame(const uint8_t* frame, uint16_t length) override {
    frames.emplace_back(frame, frame + length);
  }
};

std::string dump(const Bytes& b) {
  std::string s;
  appendHexDumpText(s, b.data(), b.size());
  return s;
}

class WiredTick : public ::testing::Test {
protected:
  void SetUp() override { resetReceiver(rx); }
  void tick(const Bytes& b) { handleWiredBytes(rx, b.data(), b.size(), log, frames); }

  LinkFrameBuffer rx{};
  FakeLog log;
  Recorder frames;
};

TEST_F(WiredTick, SingleCharactersAndShortFrames) {
  struct Case {
    Bytes bytes;
    std::string expected;
  } cases[] = {
      {{0xE5}, "<<< Answer single byte ACK.\n"},
      {{0x00}, "<<< Answer\n0x00 \n"},
      {{0x41, 0xE5}, ""},  // a stray byte drops the rest of the tick
      {{0x10, 0x5B, 0xFB, 0x56, 0x16}, "<<< Answer\n0x10 0x5B 0xFB 0x56 0x16 \n"},
      {{0x10, 0x5B, 0xFB, 0x57, 0x16}, ""},  // short frame with a bad checksum is not logged
      {{0xE5, 0x00}, "<<< Answer single byte ACK.\n<<< Answer\n0xE5 0x00 \n"},
  };
  for (const Case& c : cases) {
    resetReceiver(rx);
    log.clearLog();
    tick(c.bytes);
    EXPECT_EQ(log.text, c.expected) << dump(c.bytes);
    for (const auto& piece : log.pieces) EXPECT_EQ(piece.style, logStylePlain);
  }
  EXPECT_TRUE(frames.frames.empty());
}

TEST_F(WiredTick, SplitFrameIsLoggedOnceWhenComplete) {
  Bytes f = converterAnswer({});
  tick(Bytes(f.begin(), f.begin() + 7));
  EXPECT_EQ(log.text, "");
  tick(Bytes(f.begin() + 7, f.end()));
  EXPECT_EQ(log.text, "<<< Answer\n" + dump(f));
  ASSERT_EQ(frames.frames.size(), 1u);
  EXPECT_EQ(frames.frames[0], f);
}

TEST_F(WiredTick, TwoFramesInOneTickBothLoggedInOrder) {
  Bytes a = converterAnswer({0x01});
  Bytes b = converterAnswer({0x02});
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  tick(both);
  EXPECT_EQ(log.text, "<<< Answer\n" + dump(a) + "<<< Answer\n" + dump(b));
  ASSERT_EQ(frames.frames.size(), 2u);
  EXPECT_EQ(frames.frames[1], b);
}

TEST_F(WiredTick, BadChecksumIsLoggedAndNotHandedOn) {
  Bytes f = converterAnswer({});
  f[f.size() - 2] ^= 0x01;
  tick(f);
  EXPECT_EQ(log.text, "<<< Wrong checksum!\n" + dump(f));
  EXPECT_TRUE(frames.frames.empty());
}

TEST_F(WiredTick, NothingIsReceivedBeforeTheFirstRequest) {
  LinkFrameBuffer fresh{};
  handleWiredBytes(fresh, Bytes{0xE5}.data(), 1, log, frames);
  EXPECT_EQ(log.text, "");
}

TEST(WiredPayload, StartsAfterTheLongHeaderAndStopsBeforeTheChecksum) {
  Bytes f = converterAnswer({0x0F, 0x35, 0x97});
  uint16_t n = 0;
  const uint8_t* p = wiredAnswerPayload(f.data(), uint16_t(f.size()), n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Bytes(p, p + n), (Bytes{0x0F, 0x35, 0x97}));

  Bytes bare = converterAnswer({});
  EXPECT_EQ(wiredAnswerPayload(bare.data(), uint16_t(bare.size()), n), nullptr);
  EXPECT_EQ(n, 0u);
}

// What each wired reply is as an answer event, and which request it answers: by wire every reply
// ends the wait, and only the one of the request's kind answers it.
TEST(WiredEvents, EachReplyIsTypedAndAnswersOnlyItsRequest) {
  Bytes getData = {0x0F, 0x35, 0x92, 0x01};
  getData.resize(64);
  getData[3] = 0x01;
  struct Case {
    const char* name;
    Bytes bytes;
    AnswerKind kind;
    uint8_t request;  // the request awaited
    bool answers;
  };
  const Case cases[] = {
      {"identity answers REQ_UD2", converterAnswer({0x04, 0xFD, 0x08, 0x10, 0, 0, 0, 0x02, 0xFD, 0x0C, 0x02, 0x01}),
       AnswerKind::identity, answerWaitReqUd2, true},
      {"E5 acknowledges Set Data", {0xE5}, AnswerKind::acknowledged, 0x93, true},
      {"E5 is no Get Data answer", {0xE5}, AnswerKind::acknowledged, 0x92, false},
      {"E5 is no identity", {0xE5}, AnswerKind::acknowledged, answerWaitReqUd2, false},
      {"slot 2 record answers Get Data of slot 2", converterAnswer(getData), AnswerKind::slotRecord, 0x92, true},
      {"option bits are no slot record", converterAnswer({0x0F, 0x35, 0x97, 1, 0, 1, 0, 0, 0, 0, 0}),
       AnswerKind::optionBits, 0x92, false},
      {"a short frame is garbled", {0x10, 0x40, 0xFB, 0x3B, 0x16}, AnswerKind::garbled, 0x93, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct Events : AnswerEventSink {
      std::vector<AnswerEvent> seen;
      void onAnswerEvent(const AnswerEvent& event) override { seen.push_back(event); }
    } events;
    FakeLog log;
    FakeView view;
    ConverterOptions options;
    NearbyDeviceList nearby;
    AnswerTargets targets{view, log, options, nearby};
    ConverterLinkState link;
    std::unique_ptr<ConverterKeyList> keys(new ConverterKeyList());
    keys->count = 0;
    WiredAnswerRouter router(targets, link, *keys, &events);
    LinkFrameBuffer rx{};
    resetReceiver(rx);
    handleWiredBytes(rx, c.bytes.data(), c.bytes.size(), log, router);
    ASSERT_EQ(events.seen.size(), 1u);
    EXPECT_EQ(events.seen[0].kind, c.kind);
    EXPECT_TRUE(events.seen[0].endsWait);
    AnswerWait wait;
    armAnswerWait(wait, c.request, true, 0, 2000, 0);
    EXPECT_EQ(answersRequest(wait, 1, events.seen[0]), c.answers);
  }
}

TEST(FirmwareText, HighByteDotLowByte) {
  const struct {
    uint16_t version;  // as the record carries it: low byte first
    const char* text;
  } cases[] = {{0x0102, "01.02"}, {0x0000, "00.00"}, {0xFF0A, "FF.0A"}, {0xABCD, "AB.CD"}};
  for (const auto& c : cases) {
    char text[8];
    firmwareText(c.version, text);
    EXPECT_STREQ(text, c.text);
  }
}

class WiredIdentity : public ::testing::Test {
protected:
  void SetUp() override {
    keys = std::make_unique<ConverterKeyList>();
    keys->count = 0;
  }
  IdentityUpdate update(const Bytes& f) {
    return updateWiredIdentity(f.data(), uint16_t(f.size()), link, *keys, log);
  }
  ConverterLinkState link;
  std::unique_ptr<ConverterKeyList> keys;
  FakeLog log;
};

TEST_F(WiredIdentity, CounterAndVersionRecordsFillTheIdentity) {
  IdentityUpdate u = update(converterAnswer({0x04, 0xFD, 0x08, 0x29, 0x00, 0x00, 0x00,  //
                                             0x02, 0xFD, 0x0C, 0x02, 0x01}));
  EXPECT_EQ(link.messageCounter, 42u);
  EXPECT_EQ(log.text,
            "Message counter found: 42\nFW version found: 01,02\nDongle ID: 0x7856341243040136");
  ASSERT_TRUE(u.idTextSet);
  EXPECT_EQ(u.idText, "SN: 12345678 ID: 7856341243040136 FW: 01.02");
  EXPECT_FALSE(u.keyTextSet);
}

TEST_F(WiredIdentity, MissingVersionRecordShowsUnknownFirmware) {
  IdentityUpdate u = update(converterAnswer({0x04, 0xFD, 0x08, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(link.messageCounter, 0x101u);
  EXPECT_EQ(u.idText, "SN: 12345678 ID: 7856341243040136 FW: --.--");
  EXPECT_EQ(log.text, "Message counter found: 257\nDongle ID: 0x7856341243040136");
}

TEST_F(WiredIdentity, KeyComesFromTheConverterKeyList) {
  keys->entries[0] = {{0x11, 0x11, 0x11, 0x11}, {0}};
  keys->entries[1] = {{0x12, 0x34, 0x56, 0x78}, {0xAB, 0xCD}};
  keys->entries[2] = {{0x12, 0x34, 0x56, 0x78}, {0xEE}};  // later duplicates lose
  keys->count = 3;
  IdentityUpdate u = update(converterAnswer({0x04, 0xFD, 0x08, 0x01, 0x00, 0x00, 0x00}));
  ASSERT_TRUE(u.keyTextSet);
  EXPECT_EQ(u.keyText, "ABCD0000000000000000000000000000");
}

TEST_F(WiredIdentity, SecuredAnswerTakesTheCounterOfItsSecurityLayer) {
  // 90 0F 00 2C 25 then the counter at frame bytes 11 to 14.
  Bytes f = longFrame(0x08, 0xFB, {0x90, 0x0F, 0x00, 0x2C, 0x25, 0x10, 0x00, 0x00, 0x00, 0xAA});
  link.messageCounter = 5;
  IdentityUpdate u = update(f);
  EXPECT_EQ(link.messageCounter, 0x11u);
  EXPECT_EQ(log.text, "Message counter found: 17\n");
  EXPECT_FALSE(u.idTextSet);
}

TEST_F(WiredIdentity, FramesTooShortForTheirFieldsChangeNothing) {
  const Bytes frames[] = {
      longFrame(0x08, 0xFB, {}),                                  // no CI at all
      longFrame(0x08, 0xFB, {0x90, 0x0F, 0x00, 0x2C}),            // counter missing
      converterAnswer({0x04, 0xFD, 0x08, 0x29}),                   // record value cut short
  };
  for (const Bytes& f : frames) {
    link = ConverterLinkState{};
    IdentityUpdate u = update(f);
    EXPECT_FALSE(u.idTextSet);
    EXPECT_EQ(log.text.find("Message counter found"), std::string::npos);
  }
}

// The counter rule of a CI 0x72 answer holds however much of the 12-byte header came; only a
// complete header replaces the address.
TEST_F(WiredIdentity, CounterRuleHoldsForEveryHeaderLength) {
  const Bytes before = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes converter = {0x78, 0x56, 0x34, 0x12, 0x43, 0x04, 0x01, 0x36};
  struct Case {
    const char* name;
    Bytes frame;
    uint32_t counter;
    Bytes address;
    const char* log;
  };
  const Case cases[] = {
      {"whole header, no record", converterAnswer({0x01, 0x02, 0x03}), 14, converter, ""},
      {"CI alone", longFrame(0x08, 0xFB, {0x72}), 14, before, ""},
      {"header cut short", longFrame(0x08, 0xFB, {0x72, 0x78, 0x56}), 14, before, ""},
      {"header one byte short", longFrame(0x08, 0xFB, {0x72, 0x78, 0x56, 0x34, 0x12, 0x43, 0x04, 0x01}), 14,
       before, ""},
      {"counter record in a short answer", longFrame(0x08, 0xFB, {0x72, 0x04, 0xFD, 0x08, 0x29, 0x00, 0x00, 0x00}),
       42, before, "Message counter found: 42\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    link = ConverterLinkState{};
    link.messageCounter = 10;
    std::copy(before.begin(), before.end(), link.converterAddress);
    log.clearLog();
    IdentityUpdate u = update(c.frame);
    EXPECT_EQ(link.messageCounter, c.counter);
    EXPECT_EQ(Bytes(link.converterAddress, link.converterAddress + 8), c.address);
    EXPECT_EQ(log.text, c.log);
    EXPECT_FALSE(u.idTextSet);
  }
}

TEST_F(WiredIdentity, OtherCiFieldsAreNotAnIdentity) {
  link.messageCounter = 3;
  update(longFrame(0x08, 0xFB, {0x78, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x04, 0xFD, 0x08, 9, 0, 0, 0}));
  EXPECT_EQ(link.messageCounter, 3u);
  EXPECT_EQ(log.text, "");
}

}  // namespace
