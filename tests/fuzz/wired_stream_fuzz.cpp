// The wired converter's byte stream as the link's wake-ups read it: arbitrary chunks, receiver
// resets where connecting and sending do them, and every good long frame routed to the answer
// parser and the identity update.
//
// Input: a series of operations, each one byte then its operands:
//   op % 5 == 0 or 1: a tick; next byte n, then n bytes (at most wiredReadMax) read from the port
//   op % 5 == 2:      connect: REQ_UD2 built into the shared buffer, then a receiver reset
//   op % 5 == 3:      a command sent: next byte n, n data bytes built as a long frame, then a reset
//   op % 5 == 4:      connect, then a well-formed answer with n data bytes arrives in two ticks
//                     split at the next byte; it must reach the listener unchanged
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "link/wired_answer.h"
#include "link/wired_connection.h"

namespace {

ConverterKeyList keys;  // large: static

// Checks what the receiver delivers, then hands an exact-size copy to the real router.
class CheckingListener : public WiredFrameListener {
public:
  explicit CheckingListener(WiredFrameListener& next) : next_(next) {}
  void onLongFrame(const uint8_t* frame, uint16_t length) override {
    FUZZ_CHECK(length >= 6 && length <= linkFrameCapacity);
    FUZZ_CHECK(frame[0] == 0x68 && frame[3] == 0x68 && frame[1] == frame[2]);
    FUZZ_CHECK(length == frame[1] + 6u && frame[length - 1] == 0x16);
    uint8_t sum = 0;
    for (size_t i = 4; i < length - 2u; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    FUZZ_CHECK(sum == frame[length - 2]);
    auto copy = exactCopy(frame, length);
    uint16_t payloadLength = 0;
    const uint8_t* payload = wiredAnswerPayload(copy.get(), length, payloadLength);
    if (payload != nullptr) {
      FUZZ_CHECK(payload >= copy.get() && payload + payloadLength <= copy.get() + length - 2);
    } else {
      FUZZ_CHECK(payloadLength == 0);
    }
    next_.onLongFrame(copy.get(), length);
    last.assign(frame, frame + length);
    ++frames;
  }
  size_t frames = 0;
  std::vector<uint8_t> last;

private:
  WiredFrameListener& next_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Two converters the key list knows, so identity updates also fill the key text.
  const uint8_t id1[4] = {0x12, 0x34, 0x56, 0x78};
  const uint8_t id2[4] = {0x00, 0x00, 0x00, 0x01};
  std::memcpy(keys.entries[0].id, id1, 4);
  std::memset(keys.entries[0].key, 0x11, 16);
  std::memcpy(keys.entries[1].id, id2, 4);
  std::memset(keys.entries[1].key, 0x22, 16);
  keys.count = 2;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LinkFrameBuffer receiver;  // one per process, as in the application
  receiver = LinkFrameBuffer{};     // all zero at start: inactive until the first reset
  AnswerWorld world;
  ConverterLinkState link;
  link.linkMode = LinkMode::wired;
  WiredAnswerRouter router(world.targets, link, keys);
  CheckingListener listener(router);

  ByteReader in{data, size};
  while (!in.empty()) {
    const uint8_t op = in.byte();
    switch (op % 5) {
      case 0:
      case 1: {
        size_t n = in.byte();
        if (n > wiredReadMax) n = wiredReadMax;
        const uint8_t* chunk = in.take(n);
        auto copy = exactCopy(chunk, n);
        handleWiredBytes(receiver, copy.get(), n, world.log, listener);
        break;
      }
      case 2:
        buildShortFrame(receiver, converterLinkAddress, reqUd2Control);
        resetReceiver(receiver);
        break;
      case 4: {
        size_t n = in.byte() % (longFrameMaxData + 1);
        const size_t split = in.byte();
        const uint8_t* body = in.take(n);
        std::vector<uint8_t> frame = {0x68, uint8_t(n + 2), uint8_t(n + 2), 0x68, 0x08, 0xFB};
        frame.insert(frame.end(), body, body + n);
        uint8_t sum = 0;
        for (size_t i = 4; i < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
        frame.push_back(sum);
        frame.push_back(0x16);
        resetReceiver(receiver);
        const size_t before = listener.frames;
        const size_t first = split < frame.size() ? split : frame.size();
        auto head = exactCopy(frame.data(), first);
        handleWiredBytes(receiver, head.get(), first, world.log, listener);
        auto tail = exactCopy(frame.data() + first, frame.size() - first);
        handleWiredBytes(receiver, tail.get(), frame.size() - first, world.log, listener);
        FUZZ_CHECK(listener.frames == before + 1 && listener.last == frame);
        break;
      }
      default: {
        size_t n = in.byte();
        const uint8_t* body = in.take(n);
        auto copy = exactCopy(body, n);
        const int built = buildLongFrame(receiver, converterLinkAddress, 0x53, copy.get(), n);
        FUZZ_CHECK(built == (n <= longFrameMaxData ? 1 : 0));
        if (built) {
          uint16_t length = 0;
          frameBuffer(receiver, length);
          FUZZ_CHECK(length == n + 8);
        }
        resetReceiver(receiver);
        break;
      }
    }
    FUZZ_CHECK(receiver.length <= linkFrameCapacity);
  }
  // A zero byte logs its whole tick, so a byte may cost a tick's dump, but never more.
  FUZZ_CHECK(world.log.text.size() <= 64 + size * (wiredReadMax * 6 + 512));
  return 0;
}
