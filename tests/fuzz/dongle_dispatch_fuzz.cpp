// Frames as read from the dongle, with the announced length and the count actually read free
// to disagree, dispatched as the stick's wake-up does and routed to the answer parser.
//
// Input: a series of frames: code, announced length (2 bytes, little-endian), count (2 bytes,
// little-endian, at most 1023), then count payload bytes (fewer when the input ends).
#include <cstddef>
#include <cstdint>

#include "link/dongle_dispatch.h"
#include "link/dongle_session.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HeardConverterList heard;  // large enough to keep off the stack
  heard = HeardConverterList{};
  AnswerWorld world;
  ConverterLinkState link;
  DongleAnswerRouter router(world.targets);

  ByteReader in{data, size};
  while (!in.empty()) {
    const uint8_t code = in.byte();
    const uint16_t announced = in.word();
    size_t count = in.word() & 0x3FF;
    const uint8_t* payload = in.take(count);
    auto copy = exactCopy(payload, count);
    const DongleFrameIn frame{code, announced, copy.get(), count};
    const int32_t heardBefore = heard.count;
    dispatchDongleFrame(frame, link, heard, world.log, router);
    FUZZ_CHECK(heard.count >= 0 && heard.count <= heardConverterCapacity);
    FUZZ_CHECK(heard.count >= heardBefore);
    for (int32_t i = 0; i < heard.count; ++i) {
      char label[9];
      partnerLabel(heard.entries[i], label);
      FUZZ_CHECK(std::strlen(label) == 8);
    }
  }
  return 0;
}
