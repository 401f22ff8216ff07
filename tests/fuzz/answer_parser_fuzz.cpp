// Converter answers (Get Data, Scan, option bits and anything else) handed to the parser one
// after another, as they arrive over either link.
//
// Input: a set-up byte (bit 0: option dialog open; bits 1-7: meters already in the nearby list,
// times two), then answers, each a length byte and that many payload bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

namespace {

// Meters heard before this input, so a full list and its roll are reached without hundreds of
// Scan answers.
void prefillNearby(NearbyDeviceList& list, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    const uint8_t address[8] = {0x2D, 0x2C, uint8_t(i), uint8_t(i >> 8), 0x44, 0x33, 0x01, 0x07};
    addNearbyDevice(list, address, uint8_t(i * 7));
  }
  sortNearbyDevices(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AnswerWorld world;
  ByteReader in{data, size};
  const uint8_t setup = in.byte();
  world.view.dialogOpen = (setup & 1) != 0;
  prefillNearby(world.nearby, (setup >> 1) * 2u);

  while (!in.empty()) {
    size_t n = in.byte();
    const uint8_t* answer = in.take(n);
    auto copy = exactCopy(answer, n);
    const ConverterOptions before = world.options;
    const bool changed = parseConverterAnswer(copy.get(), n, world.targets);
    FUZZ_CHECK(world.nearby.count <= nearbyCapacity);
    for (uint32_t i = 1; i < world.nearby.count; ++i) {
      FUZZ_CHECK(std::memcmp(world.nearby.entries[i - 1].sortKey, world.nearby.entries[i].sortKey,
                             sizeof world.nearby.entries[i].sortKey) <= 0);
    }
    if (!changed) {
      FUZZ_CHECK(std::memcmp(before.bytes, world.options.bytes, optionCount) == 0);
    }
    // Only the three answer kinds act, and only when at least their head arrived.
    if (changed) {
      FUZZ_CHECK(n >= 3 && copy[0] == converterCommandPrefix0 && copy[1] == converterCommandPrefix1);
      FUZZ_CHECK(copy[2] == commandGetData || copy[2] == commandScan ||
                 copy[2] == commandReadOptions);
    }
  }
  return 0;
}
