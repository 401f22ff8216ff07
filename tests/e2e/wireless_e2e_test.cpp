// The wireless run against quarn-sim playing the USB stick with the converter behind it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/key_list.h"
#include "codec/link_state.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "converter/slot_data.h"
#include "link/dongle_session.h"
#include "link/heard_converters.h"
#include "mbus/link_frame.h"
#include "link/wired_connection.h"
#include "dongle/dongle_frame.h"
#include "dongle/dongle_link.h"
#include "tests/e2e/command_rig.h"
#include "tests/e2e/sim_harness.h"
#include "tests/e2e/slot_values.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"

namespace {

using namespace e2e;
using Bytes = std::vector<uint8_t>;

const uint8_t radioAddress[8] = {0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36};
const char* const ackLine = "<<< ACK received.\n";
const char* const sentLine = "<<< Queued MSG was sent by USB stick.\n";
const char* const incomingLine = "<<< Incoming Received ";

// Everything the window would own for a wireless run.
struct WirelessRig : CommandRig {
  DongleAnswerRouter router{targets};

  WirelessRig() { converter.chooseWireless(); }

  void tick() override { dongleTick(dongle, link, heard, log, router); }
  // Finds the simulated stick through the virtual port list and opens it.
  bool open(const SimProcess& sim) {
    if (setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1) != 0) return false;
    int found = findDongle(record, dongle);
    unsetenv("QUARN_VIRTUAL_PORTS");
    return found == 1 && openDonglePort(record, dongle) == 1;
  }
  int start() {
    const uint8_t frame[3] = {dongleCodeStart, 0x00, 0x00};
    return writeDongleFrame(dongle, frame, sizeof frame);
  }
};

std::unique_ptr<SimProcess> startStick(const std::vector<std::string>& extra) {
  return startSimulator("dongle", extra);
}

// The payload bytes of every logged incoming frame, in log order.
std::vector<Bytes> incomingDumps(const std::string& log) {
  std::vector<Bytes> dumps;
  for (size_t at = log.find(incomingLine); at != std::string::npos;
       at = log.find(incomingLine, at + 1)) {
    size_t n = std::strtoul(log.c_str() + at + std::strlen(incomingLine), nullptr, 10);
    size_t p = log.find('\n', at) + 1;
    Bytes bytes;
    while (bytes.size() < n && p + 5 <= log.size() && log.compare(p, 2, "0x") == 0) {
      bytes.push_back(uint8_t(std::strtoul(log.substr(p + 2, 2).c_str(), nullptr, 16)));
      p += 5;
      if (p < log.size() && log[p] == '\n') ++p;
    }
    dumps.push_back(bytes);
  }
  return dumps;
}

bool isOwnConverterFrame(const Bytes& b) {
  return b.size() >= 14 && b[0] == 0x44 && Bytes(b.begin() + 1, b.begin() + 9) ==
                                                Bytes(radioAddress, radioAddress + 8);
}

TEST(WirelessE2e, StickFoundOpenedAndStartedWithAb) {
  auto sim = startStick({"--beacon-ms", "0", "--serial", "0000E2E"});
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  EXPECT_EQ(rig.record.found, 1);
  EXPECT_EQ(dongleSerial(rig.record), "ZJ0000E2E");
  EXPECT_EQ(std::string(rig.record.portName), "ttySIM0");
  EXPECT_EQ(rig.dongle.mode, dongleLinkDongle);
  EXPECT_EQ(sim->transcript().size(), 0u);  // the search writes nothing

  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"dongle 0xAB", "accepted", "start"}, rig.ticker()));
  EXPECT_NE(sim->transcript()[0].find("\tAB0000\t"), std::string::npos) << sim->transcript()[0];

  // The stick acknowledges, then passes on what it hears of the converter.
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.heard.count == 1; }));
  // The version record carries 02 01 (0x0102 low byte first); this line shows the bytes in
  // record order, while the partner's ID text shows 01.02.
  const std::string counterLines =
      "<<< MBUS converter found with counter 0x00000004.\n<<< FW version:  02.01\n";
  EXPECT_EQ(rig.log.text.substr(0, std::strlen(ackLine) + counterLines.size()),
            ackLine + counterLines);
  std::vector<Bytes> dumps = incomingDumps(rig.log.text);
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_NE(rig.log.text.find(std::string(FakeLog::timestampMark) + incomingLine +
                              "26 bytes, message with CField 0x44.\n"),
            std::string::npos);
  ASSERT_EQ(dumps[0].size(), 26u);
  EXPECT_TRUE(isOwnConverterFrame(dumps[0]));
  EXPECT_EQ(Bytes(dumps[0].begin() + 14, dumps[0].end()),
            (Bytes{0x04, 0xFD, 0x08, 0, 0, 0, 0, 0x02, 0xFD, 0x0C, 0x02, 0x01}));
  for (const FakeLog::Piece& p : rig.log.pieces) {
    if (p.text != FakeLog::timestampMark) {
      EXPECT_EQ(p.style, logStyleDongle) << p.text;
    }
  }

  const HeardConverter& h = rig.heard.entries[0];
  EXPECT_EQ(Bytes(h.address, h.address + 8), Bytes(radioAddress, radioAddress + 8));
  EXPECT_EQ(h.counter, 4u);
  EXPECT_EQ(h.version, 0x0102);
  EXPECT_EQ(rig.link.messageCounter, 4u);
}

// Chooses the converter heard after AB as the partner, with its key from the key list.
void startAndChoosePartner(SimProcess& sim, WirelessRig& rig, const TempDir& keyDir,
                           const std::string& keyText) {
  loadKeyList(keyDir.path().c_str(), *rig.keys);
  ASSERT_TRUE(rig.open(sim));
  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.heard.count == 1; }));
  char label[9];
  partnerLabel(rig.heard.entries[0], label);
  EXPECT_STREQ(label, "12345678");
  uint8_t frame[partnerFrameSize];
  IdentityUpdate update = choosePartner(rig.heard.entries[0], rig.link, *rig.keys, frame);
  showIdentity(update, rig.view);
  EXPECT_EQ(rig.view.idText, "SN: 12345678 ID: 8F19785634120136 FW: 01.02");
  EXPECT_EQ(rig.view.keyText, keyText);
  EXPECT_EQ(Bytes(rig.link.converterAddress, rig.link.converterAddress + 8),
            (Bytes{0x78, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36}));
  ASSERT_EQ(writeDongleFrame(rig.dongle, frame, sizeof frame), 1);
  ASSERT_TRUE(waitTranscript(
      sim, {"dongle 0x01", "0108008F19785634120136", "accepted", "(this converter)"},
      rig.ticker()));
  ASSERT_TRUE(rig.tickUntilLogged(ackLine, 2));
}

// Sends one command and waits until the stick reported it sent and the converter answered.
void exchange(SimProcess& sim, WirelessRig& rig, const std::function<int()>& send,
              const std::string& decoded) {
  const size_t incoming = countOf(rig.log.text, incomingLine);
  const size_t sent = countOf(rig.log.text, sentLine);
  const size_t accepted = sim.transcriptMatching({"secured", "accepted"}).size();
  ASSERT_EQ(send(), 1);
  ASSERT_TRUE(waitTranscript(sim, {"secured", "accepted"}, rig.ticker(), accepted + 1))
      << (sim.transcript().empty() ? "" : sim.transcript().back());
  EXPECT_EQ(sim.transcriptMatching({"secured", "accepted", decoded}).size(), 1u) << decoded;
  ASSERT_TRUE(rig.tickUntilLogged(sentLine, sent + 1));
  ASSERT_TRUE(rig.tickUntilLogged(incomingLine, incoming + 1));
}

TEST(WirelessE2e, PartnerChosenThenEveryCommandSecuredAndAnswered) {
  TempDir keyDir;
  keyDir.write("keys.txt", "sim;12345678;000102030405060708090A0B0C0D0E0F\n");
  auto sim = startStick({"--beacon-ms", "0", "--options", "01000102000000FF"});
  WirelessRig rig;
  startAndChoosePartner(*sim, rig, keyDir, "000102030405060708090A0B0C0D0E0F");

  for (int s = 0; s < slotCount; ++s) {
    SCOPED_TRACE("slot " + std::to_string(s + 1));
    rig.view.slots[s] = slotValues(s);
    rig.view.wired = wiredValues(s);
    exchange(*sim, rig, [&] { return setSlotData(s, rig.view, rig.channel); },
             "Set Data slot " + std::to_string(s));
    SlotFields sent = rig.view.slots[s];
    rig.view.slots[s] = SlotFields();
    rig.view.wired = WiredSettings();
    exchange(*sim, rig, [&] { return getSlotData(s, rig.view, rig.channel); },
             "Get Data slot " + std::to_string(s));
    ASSERT_EQ(rig.view.slotWrites[s], 1);
    expectSameSlot(rig.view.slots[s], sent);
    EXPECT_EQ(rig.view.wired.protocol, wiredValues(s).protocol);
    EXPECT_EQ(rig.view.wired.mode, wiredValues(s).mode);
  }

  rig.view.dialogOpen = true;
  exchange(*sim, rig, [&] { return requestConverterOptions(rig.view, rig.channel); },
           "Read option bits");
  EXPECT_EQ(Bytes(rig.options.bytes, rig.options.bytes + optionCount),
            (Bytes{0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0xFF}));
  const bool shown[optionCount] = {true, false, true, false, false, false, false, false};
  for (int i = 0; i < optionCount; ++i) EXPECT_EQ(rig.view.checks[i], shown[i]) << i;
  rig.view.checks[7] = true;
  exchange(*sim, rig,
           [&] { return confirmConverterOptions(rig.view.checks, rig.options, rig.view, rig.channel); },
           "Write option bits 0100010000000001");
  rig.view.dialogOpen = false;

  exchange(*sim, rig, [&] { return scanNearby(rig.view, rig.channel); }, "Scan");
  expectNearbyRows(rig.view, rig.nearby);

  // Every message went out secured over the air, with a counter the converter took as fresh:
  // a Get Data is 48 bytes behind AC 30 00, wireless C-field and CI, the radio-order address.
  EXPECT_EQ(sim->transcriptMatching({"\tAC300043900F002C25", "728F1978568F190136", "Get Data slot 0"})
                .size(),
            1u);
  EXPECT_EQ(sim->transcriptMatching({"refused"}).size(), 0u);
  EXPECT_EQ(sim->transcriptMatching({"secured", "accepted"}).size(), 2u * slotCount + 3);
  const size_t messages = 2 * slotCount + 3;
  EXPECT_EQ(countOf(rig.log.text, ">>> Send meter config message\n"), messages);
  EXPECT_EQ(countOf(rig.log.text, "Counter now: 0x"), messages);
  EXPECT_EQ(countOf(rig.log.text, sentLine), messages);
  EXPECT_EQ(countOf(rig.log.text, ackLine), messages + 2);  // and AB and the partner frame
  for (const Bytes& d : incomingDumps(rig.log.text)) EXPECT_TRUE(isOwnConverterFrame(d));
  EXPECT_EQ(rig.view.badIndexWrites, 0);
}

TEST(WirelessE2e, WrongKeyIsRefusedOverTheAirAndNothingIsParsed) {
  TempDir keyDir;  // no list: the key field keeps what the user typed
  auto sim = startStick({"--beacon-ms", "0"});
  WirelessRig rig;
  rig.view.keyText = "FF0102030405060708090A0B0C0D0E0F";
  startAndChoosePartner(*sim, rig, keyDir, "FF0102030405060708090A0B0C0D0E0F");
  const size_t incoming = countOf(rig.log.text, incomingLine);
  ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "refused: bad MAC"}, rig.ticker()));
  // The stick reports the message sent; the converter never answers it.
  ASSERT_TRUE(rig.tickUntilLogged(sentLine));
  tickFor(rig.ticker(), 200);
  EXPECT_EQ(countOf(rig.log.text, incomingLine), incoming);
  EXPECT_EQ(rig.view.slotWrites[0], 0);
  EXPECT_EQ(sim->transcriptMatching({"Get Data"}).size(), 0u);
}

// Status reports of the stick, each with its own log line.
struct StatusCase {
  const char* name;
  std::vector<std::string> switches;
  const char* line;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class WirelessStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(WirelessStatus, IsLogged) {
  const StatusCase& c = GetParam();
  auto sim = startStick(c.switches);
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(rig.tickUntilLogged(c.line)) << rig.log.text;
  EXPECT_EQ(rig.view.badIndexWrites, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, WirelessStatus,
    ::testing::Values(StatusCase{"ack", {"--beacon-ms", "0"}, "<<< ACK received.\n"},
                      StatusCase{"nack", {"--beacon-ms", "0", "--nack"}, "<<< NACK received.\n"},
                      StatusCase{"unknown",
                                 {"--beacon-ms", "50", "--unknown-status", "--quiet-air"},
                                 "<<< Unknown received 0x7E.\n"}),
    [](const ::testing::TestParamInfo<StatusCase>& p) { return std::string(p.param.name); });

TEST(WirelessE2e, OtherMetersAndIgnoredFramesAreDropped) {
  auto sim = startStick({"--beacon-ms", "30"});
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  // Nine converter frames span at least two frames of code 0x0D and four of other meters.
  ASSERT_TRUE(rig.tickUntilLogged(incomingLine, 10));
  std::vector<Bytes> dumps = incomingDumps(rig.log.text);
  int skipped = 0;
  for (size_t i = 0; i < dumps.size(); ++i) {
    ASSERT_TRUE(isOwnConverterFrame(dumps[i])) << "frame " << i;
    if (i == 0) continue;
    // Byte 10 is the converter's access number; a 0x0D frame between two beacons used one.
    const int step = uint8_t(dumps[i][10] - dumps[i - 1][10]);
    EXPECT_TRUE(step == 1 || step == 2) << "frame " << i << " step " << step;
    if (step == 2) ++skipped;
  }
  EXPECT_GE(skipped, 2);
  EXPECT_EQ(rig.heard.count, 1);
  EXPECT_EQ(rig.nearby.count, 0u);
}

TEST(WirelessE2e, QuietAirDeliversEveryConverterFrame) {
  auto sim = startStick({"--beacon-ms", "30", "--quiet-air"});
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  ASSERT_TRUE(rig.tickUntilLogged(incomingLine, 6));
  std::vector<Bytes> dumps = incomingDumps(rig.log.text);
  for (size_t i = 1; i < dumps.size(); ++i)
    EXPECT_EQ(uint8_t(dumps[i][10] - dumps[i - 1][10]), 1) << "frame " << i;
}

TEST(WirelessE2e, StickHangingUpMidFrameLeavesTheTicksGoingOn) {
  TempDir keyDir;
  keyDir.write("keys.txt", "sim;12345678;000102030405060708090A0B0C0D0E0F\n");
  auto sim = startStick({"--beacon-ms", "0", "--hangup-midframe"});
  WirelessRig rig;
  startAndChoosePartner(*sim, rig, keyDir, "000102030405060708090A0B0C0D0E0F");
  const size_t incoming = countOf(rig.log.text, incomingLine);
  const int heard = rig.heard.count;

  // Half of the converter's answer arrives, then the stick is gone.
  ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "accepted", "Get Data slot 0"}, rig.ticker()));
  tickFor(rig.ticker(), 600);
  EXPECT_EQ(countOf(rig.log.text, incomingLine), incoming);
  EXPECT_EQ(rig.view.slotWrites[0], 0);
  EXPECT_EQ(rig.heard.count, heard);

  // Plugged in again, it opens, takes the next request and passes frames on.
  ASSERT_EQ(openDonglePort(rig.record, rig.dongle), 1);
  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"dongle 0xAB", "accepted"}, rig.ticker(), 2));
  ASSERT_TRUE(rig.tickUntilLogged(incomingLine, incoming + 1));
}

// A payload that pauses briefly is waited for; one that pauses too long is dropped.
struct StallCase {
  const char* stallMs;
  bool answered;
};

class WirelessStall : public ::testing::TestWithParam<StallCase> {};

TEST_P(WirelessStall, AnswerWithAPauseInItsPayload) {
  TempDir keyDir;
  keyDir.write("keys.txt", "sim;12345678;000102030405060708090A0B0C0D0E0F\n");
  auto sim = startStick({"--beacon-ms", "0", "--stall-midpayload", "--stall-ms", GetParam().stallMs});
  WirelessRig rig;
  startAndChoosePartner(*sim, rig, keyDir, "000102030405060708090A0B0C0D0E0F");
  ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "accepted", "Get Data slot 0"}, rig.ticker()));
  if (GetParam().answered) {
    ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.slotWrites[0] == 1; }));
    EXPECT_EQ(rig.view.slots[0].manufacturer, "ABC");  // the simulator's first slot
    EXPECT_EQ(rig.view.slots[0].deviceId, "12345678");
  } else {
    tickFor(rig.ticker(), 800);
    EXPECT_EQ(rig.view.slotWrites[0], 0);
    // The rest came late and was thrown away; the next frames are read in step again.
    const size_t acks = countOf(rig.log.text, ackLine);
    const size_t incoming = countOf(rig.log.text, incomingLine);
    ASSERT_EQ(rig.start(), 1);
    ASSERT_TRUE(rig.tickUntilLogged(ackLine, acks + 1));
    ASSERT_TRUE(rig.tickUntilLogged(incomingLine, incoming + 1));
  }
}

INSTANTIATE_TEST_SUITE_P(Pauses, WirelessStall,
                         ::testing::Values(StallCase{"30", true}, StallCase{"600", false}),
                         [](const ::testing::TestParamInfo<StallCase>& p) {
                           return std::string(p.param.answered ? "short" : "long");
                         });

TEST(WirelessE2e, FloodOfGarbageKeepsTheTicksGoing) {
  auto sim = startStick({"--beacon-ms", "0", "--flood"});
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  int ticks = 0;
  tickFor([&] { rig.tick(); ++ticks; }, 500);
  EXPECT_GT(ticks, 1);
  // Random headers may read as status reports; anything else must be dropped unlogged.
  std::istringstream lines(rig.log.text);
  std::string line;
  while (std::getline(lines, line))
    EXPECT_TRUE(line.compare(0, 14, "<<< Unknown re") == 0 || line == "<<< ACK received." ||
                line == "<<< NACK received." || line == "<<< Queued MSG was sent by USB stick.")
        << line;
  EXPECT_EQ(rig.heard.count, 0);
}

TEST(WirelessE2e, OverlongFrameIsDroppedAndTheNextOnesAreRead) {
  auto sim = startStick({"--beacon-ms", "0", "--announce", "600"});
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.heard.count == 1; }));
  tickFor(rig.ticker(), 300);
  EXPECT_EQ(countOf(rig.log.text, incomingLine), 1u) << rig.log.text;
  // The stick still answers and its frames are still read.
  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(rig.tickUntilLogged(incomingLine, 2));
  ASSERT_TRUE(rig.tickUntilLogged(ackLine, 2));
}

}  // namespace

// The window's timer reports an idle tick as unhandled so that FOX skips its widget refresh:
// the tick must say truthfully whether a frame was read.
TEST(WirelessE2e, TickSaysWhetherAFrameWasRead) {
  auto sim = startStick({"--beacon-ms", "0", "--quiet-air"});
  WirelessRig rig;
  EXPECT_FALSE(dongleTick(rig.dongle, rig.link, rig.heard, rig.log, rig.router));  // not open yet
  ASSERT_TRUE(rig.open(*sim));
  EXPECT_FALSE(dongleTick(rig.dongle, rig.link, rig.heard, rig.log, rig.router));  // nothing sent
  ASSERT_EQ(rig.start(), 1);
  bool read = false;
  ASSERT_TRUE(tickUntil([&] { read = dongleTick(rig.dongle, rig.link, rig.heard, rig.log, rig.router) || read; },
                        [&] { return rig.log.text.find(ackLine) != std::string::npos; }));
  EXPECT_TRUE(read);
}

namespace {

// Everything the stick had queued is handled in one wake-up, in order: nothing is left behind
// to build a backlog.
TEST(WirelessE2e, EveryQueuedFrameIsDispatchedInOneWakeUp) {
  auto sim = startStick({"--beacon-ms", "10", "--quiet-air"});
  WirelessRig rig;
  ASSERT_TRUE(rig.open(*sim));
  ASSERT_EQ(rig.start(), 1);
  ASSERT_TRUE(rig.tickUntilLogged(incomingLine));  // the converter is on the air
  rig.log.text.clear();
  usleep(300 * 1000);  // about 30 frames queue up unread
  const int queued = dongleBytesQueued(rig.dongle);
  ASSERT_GT(queued, 600);
  rig.tick();
  const std::vector<Bytes> dumps = incomingDumps(rig.log.text);
  size_t bytes = 0;
  for (const Bytes& d : dumps) bytes += d.size() + dongleFrameHeaderSize;
  for (const char* status : {ackLine, sentLine}) bytes += countOf(rig.log.text, status) * dongleFrameHeaderSize;
  EXPECT_GE(bytes, size_t(queued)) << rig.log.text;  // all of it, and what came meanwhile
  EXPECT_GE(dumps.size(), 20u);
  EXPECT_LT(dongleBytesQueued(rig.dongle), queued / 10);
}

// A quiet stick's frames are read as they come: a wake-up that finds frames long after the last
// one leaves the port watched, with no wake-up of its own scheduled.
TEST(WirelessE2e, QuietStickIsWatchedAgainAtOnce) {
  auto sim = startStick({"--beacon-ms", "10", "--quiet-air"});
  WirelessRig rig;
  DongleSession& session = rig.converter.dongleSession();
  ASSERT_EQ(setenv("QUARN_VIRTUAL_PORTS", sim->portEntry().c_str(), 1), 0);
  ASSERT_EQ(findDongle(rig.record, rig.dongle), 1);
  unsetenv("QUARN_VIRTUAL_PORTS");
  ASSERT_EQ(session.open(), 1);
  ASSERT_EQ(session.writeStart(), 1);
  for (int round = 0; round < 3; ++round) {
    usleep(useconds_t(dongleRestMs + 40) * 1000);  // frames queue; the last busy wake-up is past a rest
    ASSERT_GT(dongleBytesQueued(rig.dongle), 0) << round;
    ASSERT_TRUE(session.wake(rig.log)) << round;
    const long long now = answerClockMs();
    EXPECT_EQ(session.descriptorToWatch(now), session.descriptor()) << round;
    EXPECT_GE(session.descriptor(), 0) << round;
    const long long due = session.deadline();
    EXPECT_TRUE(due < 0 || due > now + dongleRestMs) << round << ": " << due - now;
  }
}

// The stick pulled out and plugged in again: the hang-up is said, the same serial is found on
// the new port, started and told its partner again; what was heard is kept.
TEST(WirelessE2e, StickPulledOutAndPluggedInAgainIsReopened) {
  auto sim = startStick({"--beacon-ms", "100", "--unplug-after", "1000", "--replug-after", "500"});
  WirelessRig rig;
  DongleSession& session = rig.converter.dongleSession();
  ASSERT_EQ(setenv("QUARN_VIRTUAL_PORTS", sim->portEntry().c_str(), 1), 0);
  ASSERT_EQ(findDongle(rig.record, rig.dongle), 1);
  ASSERT_EQ(session.open(), 1);
  ASSERT_EQ(session.writeStart(), 1);
  const auto wake = [&] { session.wake(rig.log); };
  ASSERT_TRUE(tickUntil(wake, [&] { return rig.heard.count > 0; }));
  uint8_t partner[partnerFrameSize];
  choosePartner(rig.heard.entries[0], rig.link, *rig.keys, partner);
  ASSERT_EQ(session.writePartner(partner, sizeof partner), 1);

  ASSERT_TRUE(tickUntil(wake, [&] { return session.lost(); }));
  EXPECT_EQ(session.descriptor(), -1);
  EXPECT_EQ(takeLostNotice(session.watch), "Connection lost: ttySIM0");
  const int heard = rig.heard.count;
  EXPECT_GT(session.deadline(), 0);  // the next look for the stick
  ASSERT_TRUE(tickUntil([&] { session.lookForStick(rig.log); }, [&] { return !session.lost(); }));
  unsetenv("QUARN_VIRTUAL_PORTS");
  EXPECT_NE(rig.log.text.find("Stick ZJ000042 is back on ttySIM0.\n"), std::string::npos) << rig.log.text;
  EXPECT_GE(session.descriptor(), 0);
  EXPECT_EQ(rig.heard.count, heard);
  EXPECT_TRUE(waitTranscript(*sim, {"dongle 0xAB", "accepted"}, wake, 2));
  EXPECT_TRUE(waitTranscript(*sim, {"dongle 0x01", "accepted"}, wake, 2));
  const size_t incoming = countOf(rig.log.text, incomingLine);
  EXPECT_TRUE(tickUntil(wake, [&] { return countOf(rig.log.text, incomingLine) > incoming; }));
}

}  // namespace
