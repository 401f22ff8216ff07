// What the window owns for a run of either kind, with quarn-sim at the far end; the wired and
// the wireless rig add their own router and the tick that feeds it.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/key_list.h"
#include "codec/link_state.h"
#include "converter/answer_parser.h"
#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "link/dongle_session.h"
#include "link/serial_transport.h"
#include "mbus/link_frame.h"
#include "link/wired_connection.h"
#include "tests/e2e/sim_harness.h"
#include "tests/e2e/slot_values.h"
#include "tests/support/fake_log.h"
#include "tests/support/fake_view.h"

namespace e2e {

struct CommandRig {
  FakeLog log;
  FakeView view;
  LinkFrameBuffer frames{};
  ConverterLinkState link;
  std::unique_ptr<ConverterKeyList> keys{new ConverterKeyList()};
  ConverterOptions options;
  NearbyDeviceList nearby;
  AnswerTargets targets{view, log, options, nearby};
  WiredPort wired;
  DongleLink dongle;
  SerialTransport transport{wired, dongle};
  CommandChannel channel{link, frames, transport, log};

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
