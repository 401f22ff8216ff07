// Failures said out loud: requests not sent, links that hang up, answers that never come.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec/answer_wait.h"
#include "converter/option_bits.h"
#include "converter/slot_data.h"
#include "link/dongle_session.h"
#include "link/wired_connection.h"
#include "dongle/dongle_frame.h"
#include "dongle/dongle_link.h"
#include "tests/e2e/command_rig.h"

namespace {

using namespace e2e;

const char* const simKey = "000102030405060708090A0B0C0D0E0F";
const char* const wrongKey = "FF0102030405060708090A0B0C0D0E0F";
const char* const wiredLost =
    "Connection lost: ttySIM0 (Input/output error). Reconnect or select a new COM port.\n";
const char* const stickLost = "Connection lost: ttySIM0 (Input/output error).\n";

struct WiredRig : CommandRig {
  WiredRig() {
    converter.chooseWired(false);
    view.keyText = simKey;
  }
  void tick() override { converter.wiredSession().wake(log); }
  bool connect(const SimProcess& sim) { return converter.connectWired("ttySIM0", sim.linkPath()).connected; }
};

struct StickRig : CommandRig {
  DongleAnswerRouter router{targets};
  DongleWatch& watch = converter.dongleSession().watch;
  StickRig() { converter.chooseWireless(); }
  void tick() override { dongleTick(dongle, link, heard, log, router, &watch); }
  // Opens the stick, starts it and takes the converter it hears as partner.
  bool openWithPartner(const SimProcess& sim, const char* keyText) {
    if (setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1) != 0) return false;
    const int found = findDongle(record, dongle);
    unsetenv("QUARN_VIRTUAL_PORTS");
    if (found != 1 || openDonglePort(record, dongle) != 1) return false;
    watch.portName = donglePortName(record);
    const uint8_t start[3] = {dongleCodeStart, 0, 0};
    if (writeDongleFrame(dongle, start, sizeof start) != 1) return false;
    if (!tickUntil(ticker(), [&] { return heard.count == 1; })) return false;
    uint8_t frame[partnerFrameSize];
    choosePartner(heard.entries[0], link, *keys, frame);
    view.keyText = keyText;
    return writeDongleFrame(dongle, frame, sizeof frame) == 1 &&
           tickUntilLogged("<<< ACK received.\n", 2);
  }
};

// A request that cannot be written is logged as not sent, after its send line and dump, and
// nothing is waited for.
TEST(FailuresE2e, RequestNotWrittenIsLoggedWithTheReason) {
  struct Case {
    const char* name;
    bool wireless;
    bool open;  // a port was open, then its far end went away
    const char* reason;
  };
  const Case cases[] = {
      {"no port", false, false, "Not sent: no COM port open\n"},
      {"port gone", false, true, "Not sent: ttySIM0: Input/output error\n"},
      {"stick gone", true, true, "Not sent: Input/output error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<CommandRig> rig;
    auto sim = startSimulator(c.wireless ? "dongle" : "wired", {"--beacon-ms", "0"});
    if (c.wireless) {
      auto stick = std::make_unique<StickRig>();
      ASSERT_TRUE(stick->openWithPartner(*sim, simKey));
      rig = std::move(stick);
    } else {
      auto wired = std::make_unique<WiredRig>();
      if (c.open) {
        ASSERT_TRUE(wired->connect(*sim));
      }
      rig = std::move(wired);
    }
    if (c.open) sim->stop();
    clearAnswerWait(*rig->channel.answerWait);  // REQ_UD2's, not looked at here
    const size_t start = rig->log.text.size();
    ASSERT_EQ(getSlotData(0, rig->view, rig->channel), 1);
    const std::string after = rig->log.text.substr(start);
    const size_t send = after.find(">>> Send meter config message\n");
    ASSERT_NE(send, std::string::npos) << after;
    EXPECT_GT(after.find(c.reason), send) << after;
    EXPECT_EQ(after.substr(after.size() - std::string(c.reason).size()), c.reason) << after;
    EXPECT_FALSE(rig->channel.answerWait->armed);
  }
}

// The wired port or the stick hanging up mid-answer: one line, the status text once, the port
// closed and the ticks quiet after it; the wired port connects again.
TEST(FailuresE2e, HangUpIsReportedOnceAndTheWiredPortReconnects) {
  {
    SCOPED_TRACE("wired");
    auto sim = startSimulator("wired", {"--hangup-midframe"});
    WiredRig rig;
    ASSERT_TRUE(rig.connect(*sim));
    ASSERT_TRUE(rig.tickUntilLogged(wiredLost));
    EXPECT_FALSE(rig.wired.portOpen);
    EXPECT_EQ(takeLostNotice(rig.wired), "Connection lost: ttySIM0");
    EXPECT_EQ(takeLostNotice(rig.wired), "");
    const std::string before = rig.log.text;
    tickFor(rig.ticker(), wiredAnswerBoundMs + 300);
    EXPECT_EQ(rig.log.text, before);  // no second line, no overdue REQ_UD2
    // Reconnect: the simulator linked a fresh PTY, which answers (and hangs up) again.
    ASSERT_TRUE(rig.connect(*sim));
    ASSERT_TRUE(waitTranscript(*sim, {"REQ_UD2", "accepted"}, rig.ticker(), 2));
    ASSERT_TRUE(rig.tickUntilLogged(wiredLost, 2));
  }
  {
    SCOPED_TRACE("stick");
    auto sim = startSimulator("dongle", {"--beacon-ms", "0", "--hangup-midframe"});
    StickRig rig;
    ASSERT_TRUE(rig.openWithPartner(*sim, simKey));
    ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
    ASSERT_TRUE(rig.tickUntilLogged(stickLost));
    EXPECT_FALSE(serialPortIsOpen(rig.dongle.port));
    EXPECT_EQ(takeLostNotice(rig.watch), "Connection lost: ttySIM0");
    EXPECT_EQ(takeLostNotice(rig.watch), "");
    const std::string before = rig.log.text;
    tickFor(rig.ticker(), 200);
    EXPECT_EQ(rig.log.text, before);
  }
}

// A request whose answer does not come within the link's bound gets one line naming it and the
// likely causes; one that is answered gets none.
TEST(FailuresE2e, WiredAnswerMissingAfterTheBoundIsLoggedOnce) {
  struct Case {
    const char* name;
    std::vector<std::string> switches;
    bool secured;
    const char* key;
    const char* line;  // nullptr: answered, nothing to say
  };
  const Case cases[] = {
      {"silent REQ_UD2", {"--silent"}, false, simKey,
       "No answer to REQ_UD2 within 2.0 s: wrong address, or converter out of reach.\n"},
      {"wrong key", {}, true, wrongKey,
       "No answer to Get Data within 2.0 s: wrong converter key or address, or converter out of reach.\n"},
      {"answered", {}, true, simKey, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = startSimulator("wired", c.switches);
    WiredRig rig;
    rig.link.securedMessages = c.secured;
    rig.view.keyText = c.key;
    ASSERT_TRUE(rig.connect(*sim));
    if (!c.switches.empty()) {
      ASSERT_TRUE(rig.tickUntilLogged(c.line));
    } else {
      ASSERT_TRUE(rig.tickUntilLogged("Dongle ID"));
      ASSERT_EQ(getSlotData(0, rig.view, rig.channel), 1);
      if (c.line != nullptr) {
        ASSERT_TRUE(rig.tickUntilLogged(c.line));
      }
    }
    tickFor(rig.ticker(), wiredAnswerBoundMs + 300);
    EXPECT_EQ(countOf(rig.log.text, "No answer to "), c.line != nullptr ? 1u : 0u) << rig.log.text;
  }
}

TEST(FailuresE2e, AnswerMissingOverTheAirIsLoggedOnce) {
  struct Case {
    const char* name;
    const char* key;
    bool setData;
    const char* line;
  };
  const Case cases[] = {
      {"wrong key", wrongKey, false,
       "No answer to Get Data within 6.0 s: wrong converter key or address, or converter out of reach.\n"},
      {"Set Data acknowledged by the counter", simKey, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = startSimulator("dongle", {"--beacon-ms", "500"});
    StickRig rig;
    ASSERT_TRUE(rig.openWithPartner(*sim, c.key));
    const size_t start = rig.log.text.size();
    ASSERT_EQ(c.setData ? setSlotData(0, rig.view, rig.channel) : getSlotData(0, rig.view, rig.channel), 1);
    // Beacons keep coming the whole time; they must not count as the answer.
    tickFor(rig.ticker(), wirelessAnswerBoundMs + 500);
    const std::string after = rig.log.text.substr(start);
    EXPECT_EQ(countOf(after, "No answer to "), c.line != nullptr ? 1u : 0u) << after;
    if (c.line != nullptr) {
      EXPECT_EQ(countOf(after, c.line), 1u) << after;
      EXPECT_GE(countOf(after, "<<< Incoming Received "), 2u);
    }
  }
}

}  // namespace
