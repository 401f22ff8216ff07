// How a ConverterLink's command ends, on either link, with quarn-sim at the far end: answered,
// no answer, not sent and lost come from the answer wait and the sessions.
#include <stdlib.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/converter_link.h"
#include "serial/port_discovery.h"
#include "tests/e2e/sim_harness.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"

namespace {


const char* const simKey = "000102030405060708090A0B0C0D0E0F";
const char* const otherKey = "FF0102030405060708090A0B0C0D0E0F";

// The command looked at: REQ_UD2 of the wired connect, or a Get Data after it or after the
// partner was chosen, perhaps with the key wrong or the far end gone before or after it left.
enum class Step { reqUd2, getData, noPort, wrongKey, simGone, simGoneAfterSend };

struct Case {
  const char* name;
  bool wireless;
  std::vector<std::string> simArgs;
  Step step;
  CommandEnd end;
  const char* reason;  // what the outcome's reason starts with
};

struct LinkRun {
  FakeLog log;
  FakeView view;
  ConverterLink link{view, log};
  std::function<void()> wake() {
    return [this] { link.wake(); };
  }
  bool settle() { return tickUntil(wake(), [this] { return link.settled(); }); }
};

// Opens the stick, hears the converter and makes it the partner.
bool openStick(LinkRun& run, const SimProcess& sim) {
  run.link.chooseWireless();
  if (setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1) != 0) return false;
  const bool found = run.link.findStick();
  unsetenv("QUARN_VIRTUAL_PORTS");
  if (!found || !run.link.openStick() || run.link.writeStart() != 1) return false;
  if (!tickUntil(run.wake(), [&] { return run.link.records().heard.count > 0; })) return false;
  return run.link.choosePartner(0);
}

TEST(ConverterLinkE2e, EveryCommandEndsInItsTypedOutcomeOnBothLinks) {
  const std::vector<std::string> beacon = {"--beacon-ms", "100"};
  const Case cases[] = {
      {"wired answered", false, {}, Step::getData, CommandEnd::answered, ""},
      {"wired no answer", false, {"--silent"}, Step::reqUd2, CommandEnd::noAnswer, ""},
      {"wired no port", false, {}, Step::noPort, CommandEnd::notSent, "Not sent: no COM port open"},
      {"wired port gone", false, {}, Step::simGone, CommandEnd::notSent, "Not sent: ttySIM0: "},
      {"wired lost", false, {"--hangup-midframe"}, Step::reqUd2, CommandEnd::lost, "Connection lost: ttySIM0"},
      {"stick answered", true, beacon, Step::getData, CommandEnd::answered, ""},
      {"stick no answer", true, beacon, Step::wrongKey, CommandEnd::noAnswer, ""},
      {"stick gone", true, beacon, Step::simGone, CommandEnd::notSent, "Not sent: "},
      {"stick lost", true, beacon, Step::simGoneAfterSend, CommandEnd::lost, "Connection lost: ttySIM0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = std::make_unique<SimProcess>(c.wireless ? "dongle" : "wired", c.simArgs);
    ASSERT_TRUE(sim->running()) << sim->failure();
    LinkRun run;
    ConverterLink& link = run.link;
    if (c.wireless) {
      ASSERT_TRUE(openStick(run, *sim));
    } else {
      link.chooseWired(false);
    }
    if (!c.wireless && c.step != Step::noPort) {
      ASSERT_TRUE(link.connectWired("ttySIM0", sim->linkPath()).connected);
      link.boundAnswer(300);
      ASSERT_TRUE(run.settle());
      EXPECT_EQ(link.identity().known, link.outcome().end == CommandEnd::answered);
    }
    if (c.step != Step::reqUd2) {
      EXPECT_EQ(link.outcome().end, CommandEnd::answered) << "before Get Data";
      run.view.keyText = c.step == Step::wrongKey ? otherKey : simKey;
      if (c.step == Step::simGone) sim->stop();
      link.getData(0);
      if (c.step == Step::simGoneAfterSend) sim->stop();
      link.boundAnswer(c.wireless ? 1500 : 300);
      ASSERT_TRUE(run.settle());
    }
    EXPECT_EQ(link.outcome().end, c.end) << link.outcome().reason << "\n" << run.log.text;
    EXPECT_EQ(link.outcome().reason.rfind(c.reason, 0), 0u) << link.outcome().reason;
    // Only an answer to Get Data fills the slot's record.
    EXPECT_EQ(run.view.slotWrites[0] == 1, c.step == Step::getData);
  }
}

// The wired port closes and reconnects under its name; an option read that goes unanswered or
// unsent leaves the bits known from before, and a second answer of the same bits still counts.
TEST(ConverterLinkE2e, DisconnectReconnectAndOptionReads) {
  auto sim = std::make_unique<SimProcess>("wired", std::vector<std::string>{});
  ASSERT_TRUE(sim->running()) << sim->failure();
  LinkRun run;
  ConverterLink& link = run.link;
  link.chooseWired(false);
  ASSERT_TRUE(link.connectWired("ttySIM0", sim->linkPath()).connected);
  ASSERT_TRUE(run.settle());
  run.view.keyText = simKey;
  for (int read = 0; read < 2; ++read) {
    link.readOptions();
    ASSERT_TRUE(run.settle());
    EXPECT_EQ(link.outcome().end, CommandEnd::answered) << "read " << read;
  }
  link.disconnectWired();
  EXPECT_EQ(link.descriptor(0), -1);
  EXPECT_EQ(link.wiredPortName(), "ttySIM0");
  link.readOptions();
  EXPECT_EQ(link.outcome().end, CommandEnd::notSent);
  EXPECT_EQ(link.portRefusal(), "no COM port open");
  EXPECT_TRUE(link.records().options.known);
  ASSERT_TRUE(link.connectWired(link.wiredPortName(), link.wiredDevicePath()).connected);
  EXPECT_TRUE(link.portRefusal().empty());
}

void keepPort(const PortInfo& port, void* context) { *static_cast<PortInfo*>(context) = port; }

// A partner chosen from a list as shown, and udev's word on the stick: its removal is its loss,
// its return is worth a look, another port's events change nothing.
TEST(ConverterLinkE2e, PartnerAsShownAndTheSticksDeviceEvents) {
  auto sim = std::make_unique<SimProcess>("dongle", std::vector<std::string>{"--beacon-ms", "100"});
  ASSERT_TRUE(sim->running()) << sim->failure();
  LinkRun run;
  ASSERT_TRUE(openStick(run, *sim));
  ConverterLink& link = run.link;
  const HeardConverter shown = link.records().heard.entries[0];
  link.records().heard = HeardConverterList{};
  EXPECT_FALSE(link.choosePartner(0));
  EXPECT_TRUE(link.choosePartner(shown));
  EXPECT_TRUE(link.identity().known);

  PortInfo stick{};
  enumerateVirtualPorts(sim->portEntry().c_str(), keepPort, &stick);
  PortInfo other{};
  std::snprintf(other.devicePath, sizeof other.devicePath, "/dev/ttyS9");
  EXPECT_FALSE(link.deviceChanged({deviceRemoved, other}));
  EXPECT_FALSE(link.stickGone());
  EXPECT_FALSE(link.deviceChanged({deviceRemoved, stick}));
  EXPECT_TRUE(link.stickGone());
  EXPECT_EQ(link.takeLostNotice(), "Connection lost: ttySIM0");
  EXPECT_FALSE(link.deviceChanged({deviceAdded, other}));
  EXPECT_TRUE(link.deviceChanged({deviceAdded, stick}));
}

}  // namespace
