// The ConverterLink the window and quarn-cli run, with quarn-sim at the far end; the wired and
// the wireless rig add the tick that feeds it. The names below are its records and parts.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/converter_link.h"
#include "tests/e2e/sim_harness.h"
#include "tests/e2e/slot_values.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"

namespace e2e {

struct CommandRig {
  FakeLog log;
  FakeView view;
  ConverterLink converter{view, log};
  LinkRecords& records = converter.records();
  LinkFrameBuffer& frames = records.frames;
  ConverterLinkState& link = records.state;
  ConverterKeyList* const keys = &records.converterKeys;
  ConverterOptions& options = records.options;
  NearbyDeviceList& nearby = records.nearby;
  // What the rigs' routers hand answers to; the link's own sessions have theirs.
  AnswerTargets targets{view, log, options, nearby};
  WiredPort& wired = converter.wiredSession().port;
  DongleLink& dongle = records.dongleLink;
  DongleRecord& record = records.dongleRecord;
  HeardConverterList& heard = records.heard;
  SerialTransport& transport = converter.transport();
  CommandChannel& channel = converter.channel();

  virtual ~CommandRig() = default;
  // One round of the receive timer of this kind of run.
  virtual void tick() = 0;
  std::function<void()> ticker() {
    return [this] { tick(); };
  }
  bool tickUntilLogged(const std::string& piece, size_t times = 1) {
    return tickUntil(ticker(), [&] { return countOf(log.text, piece) >= times; });
  }
};

// quarn-sim in the given role; a simulator that did not come up fails the test.
inline std::unique_ptr<SimProcess> startSimulator(const std::string& role, const std::vector<std::string>& extra) {
  auto sim = std::make_unique<SimProcess>(role, extra);
  EXPECT_TRUE(sim->running()) << sim->failure();
  return sim;
}

// Waits until the simulator's transcript has a line with all the texts.
inline bool waitTranscript(const SimProcess& sim, const std::vector<std::string>& texts,
                           const std::function<void()>& tick, size_t times = 1) {
  return tickUntil(tick, [&] { return sim.transcriptMatching(texts).size() >= times; });
}

}  // namespace e2e
