// Dongle frame dispatch, the heard-converter list and the partner choice.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/dongle_dispatch.h"
#include "link/dongle_session.h"
#include "link/heard_converters.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"
// The hang-up test needs a pseudo-terminal, which the Windows build of these tests has not.
#if __has_include(<pty.h>)
#define QUARN_HAVE_PTY 1
#include "tests/unit/serial_pty.h"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

struct Answers : ConverterAnswerListener {
  std::vector<Bytes> payloads;
  bool onConverterAnswer(const uint8_t* p, size_t n) override {
    payloads.emplace_back(p, p + n);
    return true;
  }
};

// A converter radio frame as the dongle delivers it: C, 8F 19, id 78 56 34 12, version 01,
// type 36, CI and 4 header bytes, then the records and answer bytes given.
Bytes converterFrame(const Bytes& tail, uint8_t type = 0x36) {
  Bytes p = {0x44, 0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, type, 0x7A, 0x05, 0x00, 0x00, 0x00};
  for (uint8_t b : tail) p.push_back(b);  // (insert trips a false array-bounds warning in GCC 12)
  return p;
}

class Dispatch : public ::testing::Test {
protected:
  void SetUp() override { heard.count = 0; }
  void feed(uint8_t code, const Bytes& payload, size_t announced = SIZE_MAX) {
    DongleFrameIn f{code, uint16_t(announced == SIZE_MAX ? payload.size() : announced),
                    payload.data(), payload.size()};
    dispatchDongleFrame(f, link, heard, log, answers);
  }
  ConverterLinkState link;
  HeardConverterList heard{};
  FakeLog log;
  Answers answers;
};

TEST_F(Dispatch, StatusReportsAreLoggedByCode) {
  struct Case {
    uint8_t code;
    const char* line;
  } cases[] = {
      {0x20, "<<< ACK received.\n"},
      {0x1F, "<<< NACK received.\n"},
      {0x50, "<<< Queued MSG was sent by USB stick.\n"},
      {0x7E, "<<< Unknown received 0x7E.\n"},
      {0x0D, "<<< Unknown received 0x0D.\n"},
  };
  for (const Case& c : cases) {
    log.clearLog();
    feed(c.code, {});
    EXPECT_EQ(log.text, c.line);
    ASSERT_EQ(log.pieces.size(), 1u);
    EXPECT_EQ(log.pieces[0].style, logStyleDongle);
  }
}

TEST_F(Dispatch, ConverterFrameWithCounterAndVersion) {
  Bytes p = converterFrame({0x04, 0xFD, 0x08, 0x10, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x0C, 0x02, 0x01,
                            0x0F, 0x35, 0x97});
  feed(0x8E, p);
  EXPECT_EQ(link.messageCounter, 0x14u);
  std::string dump;
  appendHexDumpText(dump, p.data(), p.size());
  EXPECT_EQ(log.text, std::string("<<< MBUS converter found with counter 0x00000014.\n"
                                  "<<< FW version:  02.01\n") +
                          FakeLog::timestampMark +
                          "<<< Incoming Received 29 bytes, message with CField 0x44.\n" + dump);
  ASSERT_EQ(heard.count, 1);
  EXPECT_EQ(heard.entries[0].counter, 0x14u);
  EXPECT_EQ(heard.entries[0].version, 0x0102);
  EXPECT_EQ(Bytes(heard.entries[0].address, heard.entries[0].address + 8),
            (Bytes{0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36}));
  ASSERT_EQ(answers.payloads.size(), 1u);
  EXPECT_EQ(answers.payloads[0], Bytes(p.begin() + 14, p.end()));
}

TEST_F(Dispatch, AnotherConvertersFrameNeitherAnswersNorMovesTheCounter) {
  const Bytes records = {0x04, 0xFD, 0x08, 0x10, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x0C, 0x02, 0x01};
  // Partner 12345679 (long-header order); the frame is from 12345678.
  const uint8_t partner[8] = {0x79, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36};
  std::copy(partner, partner + 8, link.converterAddress);
  link.messageCounter = 0x80;
  feed(0x8E, converterFrame(records));
  EXPECT_EQ(link.messageCounter, 0x80u);
  EXPECT_TRUE(answers.payloads.empty());
  ASSERT_EQ(heard.count, 1);
  EXPECT_EQ(heard.entries[0].counter, 0x14u);
  // The partner's own frame answers and moves it.
  link.converterAddress[0] = 0x78;
  feed(0x8E, converterFrame(records));
  EXPECT_EQ(link.messageCounter, 0x14u);
  EXPECT_EQ(answers.payloads.size(), 1u);
}

TEST_F(Dispatch, WithoutVersionRecordTheConverterIsNotRecorded) {
  feed(0x8E, converterFrame({0x04, 0xFD, 0x08, 0x10, 0x00, 0x00, 0x00}));
  EXPECT_EQ(heard.count, 0);
  EXPECT_EQ(link.messageCounter, 0x14u);
  EXPECT_EQ(answers.payloads.size(), 1u);
}

TEST_F(Dispatch, OtherFramesAreDroppedSilently) {
  feed(0x8E, converterFrame({0x04, 0xFD, 0x08, 1, 0, 0, 0}, 0x37));  // another device type
  feed(0x0D, converterFrame({0x04, 0xFD, 0x08, 1, 0, 0, 0}));        // code 0x0D
  feed(0x8E, {0x44, 0x8F, 0x19});                                     // too short to tell
  EXPECT_EQ(log.text, "");
  EXPECT_EQ(link.messageCounter, 0u);
  EXPECT_TRUE(answers.payloads.empty());
}

// Meters' frames go to the heard-meter table and nowhere else; the converter's, code 0x0D,
// status reports and frames too short to name a meter stay out of it.
TEST_F(Dispatch, MeterFramesAreCountedBesideTheDispatchAndNotLogged) {
  std::unique_ptr<HeardMeterTable> meters(new HeardMeterTable());
  const Bytes meter = {0x44, 0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x1B, 0x07, 0x7A, 0x42, 0x00, 0x00, 0x00, 0x0C, 0x13};
  const Bytes converter = converterFrame({0x04, 0xFD, 0x08, 1, 0, 0, 0});
  const struct {
    uint8_t code;
    Bytes payload;
    bool counted;
  } frames[] = {
      {0x8E, meter, true},   {0x8E, meter, true}, {0x0D, meter, false}, {0x8E, converter, false},
      {0x20, {}, false},     {0x8E, Bytes(meter.begin(), meter.begin() + 9), false},
  };
  long long now = 1000;
  for (const auto& f : frames) {
    DongleFrameIn in{f.code, uint16_t(f.payload.size()), f.payload.data(), f.payload.size()};
    EXPECT_EQ(recordMeterFrame(in, *meters, now), f.counted);
    now += 500;
  }
  ASSERT_EQ(meters->count, 1u);
  EXPECT_EQ(meters->entries[0].frames, 2u);
  EXPECT_EQ(meters->entries[0].firstSeenMs, 1000);
  EXPECT_EQ(meters->entries[0].lastSeenMs, 1500);
  EXPECT_EQ(meters->entries[0].ci, 0x7A);
  EXPECT_EQ(meters->entries[0].accessNumber, 0x42);
  // The dispatch itself still drops the meter's frame without a line.
  feed(0x8E, meter);
  EXPECT_EQ(log.text, "");
  EXPECT_TRUE(answers.payloads.empty());
}

TEST_F(Dispatch, RecordsAreSearchedOnlyInBytesThatArrived) {
  // The frame announces 40 bytes, but the counter record's value was cut off.
  Bytes p = converterFrame({0x04, 0xFD, 0x08, 0x10});
  feed(0x8E, p, 40);
  EXPECT_EQ(link.messageCounter, 0u);
  EXPECT_NE(log.text.find("Received 18 bytes"), std::string::npos);
}

TEST(HeardConverters, RefreshKeepsFirstVersionAndTheFiftyFirstDropsTheOldest) {
  HeardConverterList list{};
  uint8_t a[8] = {0x8F, 0x19, 0, 0, 0, 0, 0x01, 0x36};
  recordHeardConverter(list, a, 1, 0x0102);
  recordHeardConverter(list, a, 7, 0x0999);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.entries[0].counter, 7u);
  EXPECT_EQ(list.entries[0].version, 0x0102);

  for (uint8_t i = 1; i <= 50; ++i) {
    a[2] = i;
    recordHeardConverter(list, a, i, 0);
  }
  ASSERT_EQ(list.count, 50);
  EXPECT_EQ(list.entries[0].address[2], 1);   // the first one heard has gone
  EXPECT_EQ(list.entries[49].address[2], 50);
}

TEST(Partner, ChoosingAConverterSetsIdentityCounterAndTellsTheDongle) {
  auto keys = std::make_unique<ConverterKeyList>();
  keys->count = 1;
  keys->entries[0] = {{0x12, 0x34, 0x56, 0x78}, {0x01, 0x02}};
  HeardConverter entry{{0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36}, 0x1C, 0x0102};

  char label[9];
  partnerLabel(entry, label);
  EXPECT_STREQ(label, "12345678");

  ConverterLinkState link;
  uint8_t frame[partnerFrameSize];
  IdentityUpdate u = choosePartner(entry, link, *keys, frame);
  EXPECT_EQ(u.idText, "SN: 12345678 ID: 8F19785634120136 FW: 01.02");
  EXPECT_EQ(u.keyText, "01020000000000000000000000000000");
  EXPECT_EQ(Bytes(link.converterAddress, link.converterAddress + 8),
            (Bytes{0x78, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36}));
  EXPECT_EQ(link.messageCounter, 0x1Cu);
  EXPECT_EQ(Bytes(frame, frame + partnerFrameSize),
            (Bytes{0x01, 0x08, 0x00, 0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36}));
}

// Which frames of the partner answer the request waited for: the frame made into its event by
// the session, the event matched against the request by the link.
TEST(DongleAnswerWait, PartnerFrameAnswersOnlyItsOwnRequest) {
  // C field, radio address, CI and short header (14 bytes), then what follows.
  auto frame = [](std::vector<uint8_t> rest) {
    std::vector<uint8_t> f = {0x44, 0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36, 0x7A, 0x05, 0x00, 0x00, 0x00};
    for (uint8_t b : rest) f.push_back(b);  // GCC 12 misreads an insert of nothing as out of bounds
    return f;
  };
  const std::vector<uint8_t> counter20 = {0x04, 0xFD, 0x08, 0x14, 0x00, 0x00, 0x00};
  struct Case {
    const char* name;
    uint8_t request;
    bool secured;
    std::vector<uint8_t> frame;
    bool taken;  // the parser took the answer the frame carries
    bool answers;
  };
  const Case cases[] = {
      {"get data answer", 0x92, true, frame({0x0F, 0x35, 0x92, 0x00}), true, true},
      {"get data answer for another slot", 0x92, true, frame({0x0F, 0x35, 0x92, 0x01}), true, false},
      {"get data answer thrown out", 0x92, true, frame({0x0F, 0x35, 0x92, 0x00}), false, false},
      {"answer to another command", 0x92, true, frame({0x0F, 0x35, 0x97, 0x00}), true, false},
      {"beacon after get data", 0x92, true, frame(counter20), false, false},
      {"set data taken: the request's counter", 0x93, true, frame(counter20), false, true},
      {"option bits taken: the request's counter", 0x98, true, frame(counter20), false, true},
      {"set data refused: counter behind", 0x93, true, frame({0x04, 0xFD, 0x08, 0x10, 0x00, 0x00, 0x00}), false, false},
      // A converter counting on its own, or a later request's: not proof this one was taken.
      {"beacon whose counter rose past the request's", 0x93, true, frame({0x04, 0xFD, 0x08, 0x18, 0x00, 0x00, 0x00}),
       false, false},
      {"counter record cut short", 0x93, true, frame({0x04, 0xFD, 0x08, 0x14, 0x00}), false, false},
      {"plain set data has no counter", 0x93, false, frame(counter20), false, false},
      {"header only", 0x92, true, frame({}), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnswerWait wait;
    armAnswerWait(wait, c.request, c.secured, 20, 6000, 0);
    AnswerEvent event;
    const bool made = partnerFrameEvent(c.frame.data(), c.frame.size(), c.taken, event);
    EXPECT_EQ(made && answersRequest(wait, 0, event), c.answers);
  }
}

#ifdef QUARN_HAVE_PTY
// The stick's frames carry no checksum: half an answer completed by the next frame's bytes reads
// as an answer whose record is refused. Only an answer taken ends the wait, so a stick pulled out
// afterwards still ends the request as a lost link, with half a frame read or not.
TEST(DongleTick, OnlyAnAnswerTakenEndsTheWaitAndAHangUpAfterOneThrownOutIsLost) {
  struct Case {
    const char* name;
    uint8_t wirelessProtocol;  // answer byte 58; 142 is what a glued beacon put there
    bool taken;
    Bytes beforeHangUp;  // what the reader holds when the stick goes
  };
  const Case cases[] = {
      {"whole answer, then half a frame", 0, true, {0x8E, 0x30, 0x00, 0x44, 0x8F, 0x19}},
      // The rest of the beacon read as a header announcing 9032 bytes.
      {"answer glued to a beacon, then the beacon's rest", 142, false, {0x13, 0x48, 0x23, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair pty;
    DongleLink dongle;
    dongle.mode = dongleLinkDongle;
    ASSERT_EQ(openSerialPort(dongle.port, pty.slavePath.c_str()), 1);
    ConverterLinkState link;
    HeardConverterList heard{};
    FakeLog log;
    FakeView view;
    ConverterOptions options;
    NearbyDeviceList nearby;
    AnswerTargets targets{view, log, options, nearby};
    DongleAnswerRouter router(targets);
    DongleWatch watch;
    watch.portName = "ttyACM0";
    AnswerMatcher matcher;
    matcher.wait = &watch.answerWait;
    matcher.start(0);
    watch.sink = &matcher;
    armAnswerWait(watch.answerWait, 0x92, true, 20, 6000, answerClockMs());

    Bytes answer = {0x0F, 0x35, 0x92};
    answer.resize(64);
    answer[58] = c.wirelessProtocol;
    const Bytes payload = converterFrame(answer);
    Bytes frame = {0x8E, uint8_t(payload.size()), 0x00};
    for (uint8_t b : payload) frame.push_back(b);
    pty.send(frame);
    // Each wake-up as the session's: when the port is readable or hung up, bounded.
    auto tickOnce = [&] {
      for (int i = 0; i < 200; ++i)
        if (waitForInput(dongle.port.fd, 10) == 1 && dongleTick(dongle, link, heard, log, router, &watch)) return true;
      return false;
    };
    ASSERT_TRUE(tickOnce());
    EXPECT_EQ(view.slotWrites[0], c.taken ? 1 : 0);
    EXPECT_EQ(watch.answerWait.armed, !c.taken);
    EXPECT_EQ(matcher.answered, c.taken);

    pty.send(c.beforeHangUp);
    pty.hangUp();
    ASSERT_TRUE(tickOnce());
    EXPECT_TRUE(watch.lost);
    EXPECT_FALSE(serialPortIsOpen(dongle.port));
    EXPECT_FALSE(watch.answerWait.armed);
    EXPECT_EQ(takeLostNotice(watch), "Connection lost: ttyACM0");
  }
}
#endif

// A flood rests the port between wake-ups; frames further apart than a rest never wait.
TEST(DongleRest, RestsOnlyAfterBusyWakeUpsCloseTogether) {
  struct Wake {
    bool busy;
    long long nowMs;
    long long untilMs;  // expected after it
  };
  struct Case {
    const char* name;
    std::vector<Wake> wakes;
  };
  const Case cases[] = {
      {"first frames ever", {{true, 1000, -1}}},
      {"frames again within a rest", {{true, 1000, -1}, {true, 1000 + dongleRestMs - 1, 1000 + dongleRestMs - 1 + dongleRestMs}}},
      {"frames again just at a rest", {{true, 1000, -1}, {true, 1000 + dongleRestMs, -1}}},
      {"frames 10 ms apart do not rest", {{true, 0, -1}, {true, 10, -1}, {true, 20, -1}, {true, 30, -1}}},
      {"a flood keeps resting", {{true, 0, -1}, {true, 1, 1 + dongleRestMs}, {true, 9, 9 + dongleRestMs}, {true, 19, 19 + dongleRestMs}}},
      {"a wake-up without frames ends the rest", {{true, 0, -1}, {true, 5, 5 + dongleRestMs}, {false, 13, -1}, {true, 14, -1}}},
      {"the gap counts from the last busy wake-up", {{true, 0, -1}, {false, 5, -1}, {true, 7, 7 + dongleRestMs}}},
      {"frames after a quiet while", {{true, 0, -1}, {true, 5, 5 + dongleRestMs}, {true, 500, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DongleRest rest;
    EXPECT_FALSE(rest.resting(0));
    for (const Wake& w : c.wakes) {
      rest.afterWake(w.busy, w.nowMs);
      EXPECT_EQ(rest.untilMs, w.untilMs) << w.nowMs;
      EXPECT_EQ(rest.resting(w.nowMs), w.untilMs >= 0) << w.nowMs;
      if (w.untilMs >= 0) {
        EXPECT_TRUE(rest.resting(w.untilMs - 1)) << w.nowMs;
        EXPECT_FALSE(rest.resting(w.untilMs)) << w.nowMs;
      }
    }
  }
}

}  // namespace
