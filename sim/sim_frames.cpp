// M-Bus link frames and dongle frames, built and cut out of a byte stream.
#include "sim_frames.h"

#include <cstring>

#include "sim_bytes.h"

size_t simBuildLongFrame(uint8_t c, uint8_t a, const uint8_t* data, size_t n, uint8_t* out,
                         size_t cap) {
  if (n > 253 || cap < n + 8) return 0;
  out[0] = simLongStart;
  out[1] = out[2] = static_cast<uint8_t>(n + 2);
  out[3] = simLongStart;
  out[4] = c;
  out[5] = a;
  if (n) std::memcpy(out + 6, data, n);
  out[6 + n] = simSum8(out + 4, n + 2);
  out[7 + n] = simStopByte;
  return n + 8;
}

void simLinkReaderReset(SimLinkReader& r) { r.count = 0; }

static size_t pushBytes(uint8_t* buf, size_t& count, size_t cap, const uint8_t* bytes, size_t n) {
  size_t room = cap - count;
  size_t take = n < room ? n : room;
  if (take) std::memcpy(buf + count, bytes, take);
  count += take;
  return take;
}

size_t simLinkReaderPush(SimLinkReader& r, const uint8_t* bytes, size_t n) {
  return pushBytes(r.bytes, r.count, sizeof r.bytes, bytes, n);
}

static void dropFront(uint8_t* buf, size_t& count, size_t k) {
  if (k >= count) {
    count = 0;
    return;
  }
  std::memmove(buf, buf + k, count - k);
  count -= k;
}

SimLinkEvent simLinkReaderNext(SimLinkReader& r, uint8_t* out, size_t cap, size_t& outLength) {
  outLength = 0;
  if (r.count == 0) return SimLinkEvent::none;
  uint8_t first = r.bytes[0];
  if (first != simShortStart && first != simLongStart) {
    // Report the run of bytes that cannot start a frame as one piece of noise.
    size_t k = 0;
    while (k < r.count && r.bytes[k] != simShortStart && r.bytes[k] != simLongStart) ++k;
    size_t copy = k < cap ? k : cap;
    std::memcpy(out, r.bytes, copy);
    outLength = copy;
    dropFront(r.bytes, r.count, k);
    return SimLinkEvent::noise;
  }
  if (first == simShortStart) {
    if (r.count < 5) return SimLinkEvent::none;
    if (r.bytes[4] != simStopByte) {
      out[0] = first;
      outLength = 1;
      dropFront(r.bytes, r.count, 1);
      return SimLinkEvent::noise;
    }
    std::memcpy(out, r.bytes, 5);
    outLength = 5;
    bool good = simSum8(r.bytes + 1, 2) == r.bytes[3];
    dropFront(r.bytes, r.count, 5);
    return good ? SimLinkEvent::shortFrame : SimLinkEvent::badChecksum;
  }
  if (r.count < 4) return SimLinkEvent::none;
  size_t l = r.bytes[1];
  if (r.bytes[2] != l || r.bytes[3] != simLongStart || l < 3) {
    out[0] = first;
    outLength = 1;
    dropFront(r.bytes, r.count, 1);
    return SimLinkEvent::noise;
  }
  size_t total = l + 6;
  if (r.count < total) return SimLinkEvent::none;
  if (r.bytes[total - 1] != simStopByte || cap < total) {
    out[0] = first;
    outLength = 1;
    dropFront(r.bytes, r.count, 1);
    return SimLinkEvent::noise;
  }
  std::memcpy(out, r.bytes, total);
  outLength = total;
  bool good = simSum8(r.bytes + 4, l) == r.bytes[total - 2];
  dropFront(r.bytes, r.count, total);
  return good ? SimLinkEvent::longFrame : SimLinkEvent::badChecksum;
}

size_t simBuildDongleFrame(uint8_t code, const uint8_t* payload, size_t n, uint8_t* out,
                           size_t cap) {
  if (n > 0xFFFF || cap < n + simDongleHeader) return 0;
  out[0] = code;
  out[1] = static_cast<uint8_t>(n & 0xFF);
  out[2] = static_cast<uint8_t>(n >> 8);
  if (n) std::memcpy(out + simDongleHeader, payload, n);
  return n + simDongleHeader;
}

void simDongleReaderReset(SimDongleReader& r) {
  r.count = 0;
  r.skip = 0;
}

size_t simDongleReaderPush(SimDongleReader& r, const uint8_t* bytes, size_t n) {
  size_t skipped = 0;
  if (r.skip) {
    skipped = n < r.skip ? n : r.skip;
    r.skip -= skipped;
  }
  return skipped + pushBytes(r.bytes, r.count, sizeof r.bytes, bytes + skipped, n - skipped);
}

SimDongleEvent simDongleReaderNext(SimDongleReader& r, uint8_t& code, uint8_t* out, size_t cap,
                                   size_t& outLength, size_t& announced) {
  outLength = 0;
  announced = 0;
  if (r.count < simDongleHeader) return SimDongleEvent::none;
  code = r.bytes[0];
  size_t n = r.bytes[1] | (static_cast<size_t>(r.bytes[2]) << 8);
  announced = n;
  if (n > simDonglePayloadMax || n > cap) {
    size_t have = r.count - simDongleHeader;
    r.skip = n - have;
    r.count = 0;
    return SimDongleEvent::tooLong;
  }
  if (r.count < simDongleHeader + n) return SimDongleEvent::none;
  if (n) std::memcpy(out, r.bytes + simDongleHeader, n);
  outLength = n;
  dropFront(r.bytes, r.count, simDongleHeader + n);
  return SimDongleEvent::frame;
}
