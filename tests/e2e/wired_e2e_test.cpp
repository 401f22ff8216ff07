// The wired connection and the converter commands against quarn-sim over a PTY.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
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
#include "mbus/link_frame.h"
#include "link/wired_connection.h"
#include "serial/com_port_list.h"
#include "tests/e2e/command_rig.h"
#include "tests/e2e/sim_harness.h"
#include "tests/e2e/slot_values.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"

namespace {

using namespace e2e;
using Bytes = std::vector<uint8_t>;

// The simulator's converter unless told otherwise: identification 12345678, KAM (2D 2C),
// version 01, firmware 01.02, key 00 01 .. 0F.
const char* const simKeyText = "000102030405060708090A0B0C0D0E0F";
const char* const simIdText = "SN: 12345678 ID: 785634122D2C0136 FW: 01.02";
const uint8_t simAddress[8] = {0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x01, 0x36};
const char* const reqUd2Log = ">>> REQ_UD2\n0x10 0x5B 0xFB 0x56 0x16 \n";
const char* const sendLine = ">>> Send meter config message\n";

// The converter's long-frame answer: C 08, A FB, CI 72, the long data header, the payload
// and the counter and version records.
Bytes answerFrame(uint8_t access, uint32_t counter, const Bytes& payload = {}) {
  Bytes data;
  auto put = [&data](std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) data.push_back(b);
  };
  put({0x72});
  for (uint8_t b : simAddress) data.push_back(b);
  put({access, 0x00, 0x00, 0x00});
  for (uint8_t b : payload) data.push_back(b);
  put({0x04, 0xFD, 0x08, uint8_t(counter), uint8_t(counter >> 8), uint8_t(counter >> 16),
       uint8_t(counter >> 24)});
  put({0x02, 0xFD, 0x0C, 0x02, 0x01});
  Bytes frame;
  for (uint8_t b : {uint8_t(0x68), uint8_t(data.size() + 2), uint8_t(data.size() + 2), uint8_t(0x68),
                    uint8_t(0x08), uint8_t(0xFB)})
    frame.push_back(b);
  for (uint8_t b : data) frame.push_back(b);
  uint8_t sum = 0;
  for (size_t i = 4; i < frame.size(); ++i) sum = uint8_t(sum + frame[i]);
  frame.push_back(sum);
  frame.push_back(0x16);
  return frame;
}

std::string identityLines(uint32_t newCounter) {
  return "Message counter found: " + std::to_string(newCounter) +
         "\nFW version found: 01,02\nDongle ID: 0x785634122D2C0136";
}


// Everything the window would own for a wired run, with the simulator at the far end.
struct WiredRig : CommandRig {
  WiredRig() { converter.chooseWired(false); }

  void tick() override { converter.wiredSession().wake(log); }
  WiredConnectResult connect(const SimProcess& sim) { return converter.connectWired("ttySIM0", sim.linkPath()); }
  // Connects and waits for the identity answer to be handled.
  bool connectAndIdentify(const SimProcess& sim) {
    if (!connect(sim).connected) return false;
    return tickUntil(ticker(), [&] { return view.idWrites > 0; });
  }
};

std::unique_ptr<SimProcess> startSim(const std::vector<std::string>& extra = {}) {
  return startSimulator("wired", extra);
}

// ---- connecting and the wake-up ----

TEST(WiredE2e, ConnectSendsReqUd2AndTheAnswerFillsTheIdentity) {
  TempDir keyDir;
  keyDir.write("converters.txt",
               "other;87654321;FFEEDDCCBBAA99887766554433221100\n"
               "sim;12345678;00112233445566778899AABBCCDDEEFF\n");
  auto sim = startSim({"--counter", "41"});
  WiredRig rig;
  loadKeyList(keyDir.path().c_str(), *rig.keys);
  ASSERT_EQ(rig.keys->count, 2u);

  WiredConnectResult r = rig.connect(*sim);
  ASSERT_TRUE(r.connected) << r.errorText;
  EXPECT_EQ(r.errorText, "");
  EXPECT_EQ(r.statusText, "Connected to serial [ttySIM0]");
  EXPECT_EQ(rig.log.text, reqUd2Log);
  ASSERT_TRUE(waitTranscript(*sim, {"REQ_UD2", "105BFB5616", "accepted"}, rig.ticker()));

  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.idWrites > 0; }));
  EXPECT_EQ(rig.log.text, std::string(reqUd2Log) + "<<< Answer\n" + dump(answerFrame(0, 41)) +
                              identityLines(42));
  EXPECT_EQ(rig.link.messageCounter, 42u);
  EXPECT_EQ(Bytes(rig.link.converterAddress, rig.link.converterAddress + 8),
            Bytes(simAddress, simAddress + 8));
  EXPECT_EQ(rig.view.idText, simIdText);
  EXPECT_EQ(rig.view.keyText, "00112233445566778899AABBCCDDEEFF");
  for (const FakeLog::Piece& p : rig.log.pieces) EXPECT_EQ(p.style, logStylePlain) << p.text;
}

TEST(WiredE2e, PortListedThroughVirtualPortsAndConnectedByName) {
  auto sim = startSim();
  ASSERT_EQ(setenv("QUARN_VIRTUAL_PORTS", sim->portEntry().c_str(), 1), 0);
  auto list = std::make_unique<ComPortList>();
  int count = listComPorts(*list);
  unsetenv("QUARN_VIRTUAL_PORTS");
  int slot = -1;
  for (int i = 0; i < count; ++i)
    if (std::string(comPortName(*list, i)) == "ttySIM0") slot = i;
  ASSERT_GE(slot, 0) << "ttySIM0 not listed among " << count << " ports";
  EXPECT_EQ(std::string(comPortPath(*list, slot)), sim->linkPath());

  WiredRig rig;
  rig.wired.portName = comPortName(*list, slot);
  rig.wired.devicePath = comPortPath(*list, slot);
  ASSERT_TRUE(connectWired(rig.wired, rig.frames, rig.log).connected);
  EXPECT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.idText == simIdText; }));
}

TEST(WiredE2e, MissingPortGivesNotFound) {
  TempDir dir;
  WiredRig rig;
  rig.wired.portName = "ttyGONE";
  rig.wired.devicePath = dir.path() + "/ttyGONE";
  WiredConnectResult r = connectWired(rig.wired, rig.frames, rig.log);
  EXPECT_FALSE(r.connected);
  EXPECT_EQ(r.errorText, "Serial Error\nCOM port ttyGONE not found");
  EXPECT_FALSE(rig.wired.portOpen);
  // The failure stays where the user looks later: the status line's text and the log.
  EXPECT_EQ(r.statusText, "Not connected: COM port ttyGONE not found");
  EXPECT_EQ(rig.log.text, "Not connected: COM port ttyGONE not found\n");
  rig.tick();  // an idle tick on a closed port
  EXPECT_EQ(rig.log.text, "Not connected: COM port ttyGONE not found\n");
}

// What the wake-up logs for each kind of answer the converter gives to REQ_UD2.
struct AnswerCase {
  const char* name;
  std::vector<std::string> switches;
  std::string expected;   // log after the REQ_UD2 lines
  uint32_t counter;       // messageCounter afterwards
  bool identity;          // the Converter ID field is set
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class WiredAnswerTable : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(WiredAnswerTable, LogsWhatTheTableSays) {
  const AnswerCase& c = GetParam();
  auto sim = startSim(c.switches);
  WiredRig rig;
  ASSERT_TRUE(rig.connect(*sim).connected);
  const std::string expected = reqUd2Log + c.expected;
  if (c.expected.empty()) {
    // Nothing is to show: wait until the simulator has answered, then give the bytes time.
    ASSERT_TRUE(waitTranscript(*sim, {"REQ_UD2", "accepted"}, rig.ticker()));
    tickFor(rig.ticker(), 300);
  } else {
    ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.log.text.size() >= expected.size(); }))
        << rig.log.text;
    tickFor(rig.ticker(), 150);  // nothing more may follow
  }
  EXPECT_EQ(rig.log.text, expected);
  EXPECT_EQ(rig.link.messageCounter, c.counter);
  EXPECT_EQ(rig.view.idWrites > 0, c.identity);
  EXPECT_EQ(rig.view.badIndexWrites, 0);
}

Bytes withBadChecksum(Bytes frame) {
  frame[frame.size() - 2] = uint8_t(frame[frame.size() - 2] + 1);
  return frame;
}

const std::string fullAnswer = "<<< Answer\n" + dump(answerFrame(0, 0)) + identityLines(1);

INSTANTIATE_TEST_SUITE_P(
    Faults, WiredAnswerTable,
    ::testing::Values(
        AnswerCase{"plain", {}, fullAnswer, 1, true},
        AnswerCase{"e5", {"--e5"}, "<<< Answer single byte ACK.\n", 0, false},
        AnswerCase{"zero", {"--zero"}, "<<< Answer\n0x00 \n", 0, false},
        AnswerCase{"split", {"--split", "7", "--split-delay-ms", "30"}, fullAnswer, 1, true},
        AnswerCase{"stalled", {"--stall-midpayload", "--stall-ms", "400"}, fullAnswer, 1, true},
        AnswerCase{"double", {"--double"}, fullAnswer + fullAnswer, 1, true},
        AnswerCase{"badChecksum",
                   {"--bad-checksum"},
                   "<<< Wrong checksum!\n" + dump(withBadChecksum(answerFrame(0, 0))),
                   0,
                   false},
        AnswerCase{"stray", {"--stray"}, "", 0, false},
        AnswerCase{"strayBeforeE5", {"--stray", "--e5"}, "", 0, false},
        AnswerCase{"silent", {"--silent"}, "", 0, false}),
    [](const ::testing::TestParamInfo<AnswerCase>& p) { return std::string(p.param.name); });

TEST(WiredE2e, SplitFrameIsLoggedOnlyWhenItsStopByteArrives) {
  auto sim = startSim({"--split", "5", "--split-delay-ms", "40"});
  WiredRig rig;
  ASSERT_TRUE(rig.connect(*sim).connected);
  // The first pieces are in and handled while the frame is still incomplete.
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.frames.state == receiveLongFrame; }));
  rig.tick();
  EXPECT_EQ(rig.log.text, reqUd2Log);
  ASSERT_TRUE(rig.tickUntilLogged("Dongle ID"));
  EXPECT_EQ(countOf(rig.log.text, "<<< Answer\n"), 1u);
}

// Lines the wake-up may write for whatever bytes arrive.
bool isTickLine(const std::string& line) {
  if (line.empty()) return true;  // a dump of a multiple of 16 bytes ends with an empty line
  static const char* const starts[] = {"<<< Answer", "<<< Wrong checksum!", "0x", ">>> REQ_UD2",
                                       "Message counter found: ", "FW version found: ",
                                       "Dongle ID: "};
  for (const char* start : starts)
    if (line.compare(0, std::strlen(start), start) == 0) return true;
  return false;
}

TEST(WiredE2e, FloodOfGarbageKeepsEveryTickBoundedAndTheLogInShape) {
  auto sim = startSim({"--flood"});
  WiredRig rig;
  ASSERT_TRUE(rig.connect(*sim).connected);
  tickFor(rig.ticker(), 500);
  EXPECT_TRUE(rig.wired.portOpen);
  std::istringstream lines(rig.log.text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_TRUE(isTickLine(line)) << line;
  }
  EXPECT_GT(count, 2);  // garbage holds zero bytes and E5s, which are logged
  EXPECT_EQ(rig.view.badIndexWrites, 0);
}

TEST(WiredE2e, DisconnectThenReconnectSendsReqUd2Again) {
  auto sim = startSim({"--counter", "7"});
  WiredRig rig;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  closeWiredPort(rig.wired);
  EXPECT_FALSE(rig.wired.portOpen);
  const std::string before = rig.log.text;
  tickFor(rig.ticker(), 50);
  EXPECT_EQ(rig.log.text, before);  // a closed port is not read

  WiredConnectResult again = rig.connect(*sim);
  ASSERT_TRUE(again.connected) << again.errorText;
  EXPECT_EQ(again.statusText, "Connected to serial [ttySIM0]");
  ASSERT_TRUE(waitTranscript(*sim, {"REQ_UD2", "105BFB5616", "accepted"}, rig.ticker(), 2));
  ASSERT_TRUE(rig.tickUntilLogged("Dongle ID", 2));
  EXPECT_EQ(countOf(rig.log.text, ">>> REQ_UD2\n"), 2u);
  EXPECT_EQ(rig.log.text.substr(before.size()),
            std::string(reqUd2Log) + "<<< Answer\n" + dump(answerFrame(1, 7)) + identityLines(8));

  // Connecting while connected closes first and says so, then connects again.
  WiredConnectResult third = rig.connect(*sim);
  EXPECT_TRUE(third.connected);
  ASSERT_TRUE(waitTranscript(*sim, {"REQ_UD2", "accepted"}, rig.ticker(), 3));
}

TEST(WiredE2e, PortVanishingWhileOpenIsReportedLostAndClosed) {
  auto sim = startSim();
  WiredRig rig;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  sim->stop();
  const std::string before = rig.log.text;
  tickFor(rig.ticker(), 200);
  // The identity line before it leaves its line open; the notice starts one of its own.
  EXPECT_EQ(rig.log.text.substr(before.size()),
            "\nConnection lost: ttySIM0 (Input/output error). Reconnect or select a new COM port.\n");
  EXPECT_FALSE(rig.wired.portOpen);

  // A command still goes through the motions and says it was not sent.
  rig.view.keyText = simKeyText;
  EXPECT_EQ(getSlotData(0, rig.view, rig.channel), 1);
  EXPECT_EQ(countOf(rig.log.text, sendLine), 1u);
  EXPECT_EQ(countOf(rig.log.text, "Not sent: no COM port open\n"), 1u);
  tickFor(rig.ticker(), 50);

  // The link went with the simulator: reconnecting finds nothing.
  WiredConnectResult r = rig.connect(*sim);
  EXPECT_FALSE(r.connected);
  EXPECT_EQ(r.statusText, "Not connected: COM port ttySIM0 not found");
  EXPECT_EQ(r.errorText, "Serial Error\nCOM port ttySIM0 not found");
  EXPECT_FALSE(rig.wired.portOpen);
}

// ---- converter commands ----

void roundTripEverySlot(bool secured) {
  auto sim = startSim();
  WiredRig rig;
  rig.view.keyText = simKeyText;
  rig.link.securedMessages = secured;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  const char* kind = secured ? "secured" : "plain";
  for (int s = 0; s < slotCount; ++s) {
    SCOPED_TRACE("slot " + std::to_string(s + 1));
    rig.view.slots[s] = slotValues(s);
    rig.view.wired = wiredValues(s);
    const size_t acks = countOf(rig.log.text, "<<< Answer single byte ACK.\n");
    ASSERT_EQ(setSlotData(s, rig.view, rig.channel), 1);
    ASSERT_TRUE(waitTranscript(*sim, {kind, "accepted", "Set Data slot " + std::to_string(s)},
                               rig.ticker()));
    ASSERT_TRUE(rig.tickUntilLogged("<<< Answer single byte ACK.\n", acks + 1));

    SlotFields sent = slotValues(s);
    if (s == 2) sent.deviceId = "00004711";  // padded and written back
    EXPECT_EQ(rig.view.slots[s].deviceId, sent.deviceId);
    const std::string line = sim->transcriptMatching({"Set Data slot " + std::to_string(s)})[0];
    EXPECT_NE(line.find("man=" + sent.manufacturer + " "), std::string::npos) << line;
    EXPECT_NE(line.find("id=" + sent.deviceId + " "), std::string::npos) << line;
    EXPECT_NE(line.find("mk=" + sent.masterKey + " "), std::string::npos) << line;
    EXPECT_NE(line.find("kek=" + sent.kek + " "), std::string::npos) << line;
    EXPECT_NE(line.find("wiredAddress=" + sent.wiredAddress), std::string::npos) << line;

    rig.view.slots[s] = SlotFields();
    rig.view.wired = WiredSettings();
    const int writes = rig.view.slotWrites[s];
    ASSERT_EQ(getSlotData(s, rig.view, rig.channel), 1);
    ASSERT_TRUE(waitTranscript(*sim, {kind, "accepted", "Get Data slot " + std::to_string(s)},
                               rig.ticker()));
    ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.slotWrites[s] > writes; }));
    expectSameSlot(rig.view.slots[s], sent);
    EXPECT_EQ(rig.view.wired.protocol, wiredValues(s).protocol);
    EXPECT_EQ(rig.view.wired.mode, wiredValues(s).mode);
  }
  EXPECT_EQ(countOf(rig.log.text, sendLine), 2u * slotCount);
  EXPECT_EQ(sim->transcriptMatching({"refused"}).size(), 0u);
  EXPECT_EQ(countOf(rig.log.text, "Counter now: "), secured ? 2u * slotCount : 0u);
  EXPECT_EQ(rig.view.badIndexWrites, 0);
}

TEST(WiredCommandsE2e, SetThenGetDataRoundTripsEverySlotPlain) { roundTripEverySlot(false); }

TEST(WiredCommandsE2e, SetThenGetDataRoundTripsEverySlotSecured) { roundTripEverySlot(true); }

TEST(WiredCommandsE2e, SecuredMessagesCarryTheCounterFromTheAnswers) {
  auto sim = startSim({"--counter", "41"});
  WiredRig rig;
  rig.view.keyText = simKeyText;
  rig.link.securedMessages = true;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  ASSERT_EQ(rig.link.messageCounter, 42u);
  ASSERT_EQ(getSlotData(1, rig.view, rig.channel), 1);
  // 42 + 4 on the wire; 8 above 42 after sending, then the answer's record + 1.
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "accepted", "ctr=46 "}, rig.ticker()));
  // On the wire: L 49, C 53, A FB, the layer with counter 46, then behind the MAC the CI 5B,
  // the converter's address, access number 0, status 0 and the configuration 10 07 10.
  EXPECT_EQ(sim->transcriptMatching({"\t6831316853FB900F002C252E000000",
                                     "5B785634122D2C01360000100710", "Get Data slot 1"})
                .size(),
            1u);
  EXPECT_NE(rig.log.text.find("Counter now: 0x0000002E"), std::string::npos);
  ASSERT_TRUE(rig.tickUntilLogged("Message counter found: 47\n"));
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.slotWrites[1] > 0; }));
  EXPECT_EQ(rig.link.messageCounter, 47u);
}

TEST(WiredCommandsE2e, PlainCommandsAreRefusedWhenOptionBitZeroIsOff) {
  auto sim = startSim({"--options", "0000000000000000"});
  WiredRig rig;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"plain", "refused: plain not allowed", "Get Data slot 0"},
                             rig.ticker()));
  // The whole frame: L 11, C 53, A FB, CI 5A, access number 0, status and configuration 0,
  // the payload 0F 35 92 00, checksum 7E.
  EXPECT_EQ(sim->transcriptMatching({"\t680B0B6853FB5A000000000F3592007E16\t"}).size(), 1u);
  const std::string before = rig.log.text;
  tickFor(rig.ticker(), 200);
  EXPECT_EQ(rig.log.text, before);
  EXPECT_EQ(rig.view.slotWrites[0], 0);
}

void optionBitsExchange(bool secured) {
  auto sim = startSim({"--options", "01000102000000FF"});
  WiredRig rig;
  rig.view.keyText = simKeyText;
  rig.link.securedMessages = secured;
  const char* kind = secured ? "secured" : "plain";
  ASSERT_TRUE(rig.connectAndIdentify(*sim));

  // The dialog opens with every option clear until the converter answers.
  bool checks[optionCount];
  optionChecksForDialog(rig.options, checks);
  for (int i = 0; i < optionCount; ++i) rig.view.checks[i] = checks[i];
  for (bool c : rig.view.checks) EXPECT_FALSE(c);
  rig.view.dialogOpen = true;
  ASSERT_EQ(requestConverterOptions(rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {kind, "accepted", "Read option bits"}, rig.ticker()));
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.checkWrites >= optionCount; }));
  const Bytes stored(rig.options.bytes, rig.options.bytes + optionCount);
  EXPECT_EQ(stored, (Bytes{0x01, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0xFF}));
  const bool shown[optionCount] = {true, false, true, false, false, false, false, false};
  for (int i = 0; i < optionCount; ++i) EXPECT_EQ(rig.view.checks[i], shown[i]) << i;

  // "OK" with option 2 ticked as well writes the checks as ones and zeros.
  rig.view.checks[1] = true;
  ASSERT_EQ(confirmConverterOptions(rig.view.checks, rig.options, rig.view, rig.channel), 1);
  rig.view.dialogOpen = false;
  ASSERT_TRUE(waitTranscript(*sim, {kind, "accepted", "Write option bits 0101010000000000"},
                             rig.ticker()));
  ASSERT_TRUE(rig.tickUntilLogged("<<< Answer single byte ACK.\n"));

  // Read back outside the dialog: stored, the checks untouched, the next dialog ticks them.
  const int checkWrites = rig.view.checkWrites;
  for (uint8_t& b : rig.options.bytes) b = 0xEE;
  ASSERT_EQ(requestConverterOptions(rig.view, rig.channel), 1);
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.options.bytes[0] != 0xEE; }));
  EXPECT_EQ(Bytes(rig.options.bytes, rig.options.bytes + optionCount),
            (Bytes{0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(rig.view.checkWrites, checkWrites);
  optionChecksForDialog(rig.options, checks);
  const bool next[optionCount] = {true, true, true, false, false, false, false, false};
  for (int i = 0; i < optionCount; ++i) EXPECT_EQ(checks[i], next[i]) << i;
  EXPECT_EQ(sim->transcriptMatching({"refused"}).size(), 0u);
}

TEST(WiredCommandsE2e, OptionBitsReadAndWrittenPlain) { optionBitsExchange(false); }

TEST(WiredCommandsE2e, OptionBitsReadAndWrittenSecured) { optionBitsExchange(true); }

TEST(WiredCommandsE2e, ScanFillsTheNearbyRowsSorted) {
  auto sim = startSim();
  WiredRig rig;
  rig.view.keyText = simKeyText;
  rig.link.securedMessages = true;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  ASSERT_EQ(scanNearby(rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "accepted", "Scan"}, rig.ticker()));
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.rowWrites > 0; }));
  expectNearbyRows(rig.view, rig.nearby);

  // A second scan hears the same meters: no new rows.
  const int writes = rig.view.rowWrites;
  ASSERT_EQ(scanNearby(rig.view, rig.channel), 1);
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.rowWrites > writes; }));
  expectNearbyRows(rig.view, rig.nearby);
}

TEST(WiredCommandsE2e, WrongConverterKeyIsRefusedAndNothingIsReported) {
  auto sim = startSim();
  WiredRig rig;
  rig.view.keyText = "000102030405060708090A0B0C0D0E1F";  // one digit off
  rig.link.securedMessages = true;
  ASSERT_TRUE(rig.connectAndIdentify(*sim));
  const size_t start = rig.log.text.size();
  ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "refused: bad MAC"}, rig.ticker()));
  tickFor(rig.ticker(), 250);
  const std::string after = rig.log.text.substr(start);
  EXPECT_EQ(after.find("<<<"), std::string::npos) << after;
  EXPECT_EQ(countOf(after, sendLine), 1u);
  EXPECT_EQ(rig.view.slotWrites[0], 0);
  EXPECT_EQ(sim->transcriptMatching({"Get Data"}).size(), 0u);  // never decrypted
}

// A converter whose answers carry no counter record: each answer moves the counter on by 4,
// the identity stays unreported, and secured commands still go out with a fresh counter.
TEST(WiredE2e, AnswerWithoutCounterRecordAddsFourToTheCounter) {
  auto sim = startSim({"--no-records", "--counter", "41"});
  WiredRig rig;
  rig.view.keyText = simKeyText;
  rig.link.securedMessages = true;
  rig.link.messageCounter = 100;
  WiredConnectResult r = rig.connect(*sim);
  ASSERT_TRUE(r.connected) << r.errorText;
  ASSERT_TRUE(waitTranscript(*sim, {"REQ_UD2", "accepted"}, rig.ticker()));
  ASSERT_TRUE(rig.tickUntilLogged("<<< Answer\n"));
  tickFor(rig.ticker(), 250);
  EXPECT_EQ(rig.link.messageCounter, 104u);
  EXPECT_EQ(rig.log.text.find("Message counter found"), std::string::npos) << rig.log.text;
  EXPECT_EQ(rig.log.text.find("FW version found"), std::string::npos) << rig.log.text;
  EXPECT_EQ(rig.log.text.find("Dongle ID"), std::string::npos) << rig.log.text;
  EXPECT_EQ(rig.view.idWrites, 0);
  // The address is taken even so: the secured command below is built for it.
  EXPECT_EQ(Bytes(rig.link.converterAddress, rig.link.converterAddress + 8),
            Bytes(simAddress, simAddress + 8));
  // L 0x0F: CI, address and the four header bytes, nothing behind them.
  EXPECT_NE(rig.log.text.find("0x68 0x0F 0x0F 0x68 0x08 0xFB 0x72 "), std::string::npos)
      << rig.log.text;

  // The next secured command goes out with 104 + 4 (112 after sending) and the simulator
  // takes it; its answer, again without records, adds 4 once more.
  ASSERT_EQ(getSlotData(1, rig.view, rig.channel), 1);
  ASSERT_TRUE(waitTranscript(*sim, {"secured", "accepted", "ctr=108 ", "Get Data slot 1"},
                             rig.ticker()));
  ASSERT_TRUE(rig.tickUntilLogged("<<< Answer\n", 2));
  ASSERT_TRUE(tickUntil(rig.ticker(), [&] { return rig.view.slotWrites[1] > 0; }));
  EXPECT_EQ(rig.link.messageCounter, 112u + 4u);
  EXPECT_EQ(rig.log.text.find("Message counter found"), std::string::npos);
}

}  // namespace

// The window's timer reports an idle tick as unhandled so that FOX skips its widget refresh:
// the tick must say truthfully whether anything arrived.
TEST(WiredE2e, TickSaysWhetherAnythingArrived) {
  auto sim = startSim();
  WiredRig rig;
  EXPECT_FALSE(rig.converter.wiredSession().wake(rig.log));  // no port yet
  ASSERT_TRUE(rig.connect(*sim).connected);
  bool arrived = false;
  ASSERT_TRUE(tickUntil([&] { arrived = rig.converter.wiredSession().wake(rig.log) || arrived; },
                        [&] { return rig.view.idWrites > 0; }));
  EXPECT_TRUE(arrived);
  EXPECT_FALSE(rig.converter.wiredSession().wake(rig.log));  // answered; nothing more
}
