// Frames exchanged with the dongle: code byte, 16-bit little-endian payload length, payload.
#include "dongle/dongle_frame.h"

#include <cstring>

#include "serial/serial_trace.h"
#include "text/bytes.h"
#include "text/steady_clock.h"

namespace {

constexpr int queuePollMs = 1;  // pause between queue queries while bytes trickle in

long long nowMs() { return steadyClockMs(); }

long long frameDeadline(size_t count) {
  return nowMs() + dongleFrameWaitMs + static_cast<long long>(count / dongleFrameBytesPerMs);
}

// Waits until count bytes are queued or the deadline passes. Returns 1 when they are there.
int waitForQueued(DongleLink& link, size_t count, long long deadline) {
  for (;;) {
    int queued = bytesQueued(link.port);
    if (queued < 0) return 0;  // a port that went away
    if (static_cast<size_t>(queued) >= count) return 1;
    if (nowMs() >= deadline) return 0;
    if (!pauseOnPort(link.port, queuePollMs)) {
      // Bytes still queued after a hang-up can be read; nothing more will come.
      queued = bytesQueued(link.port);
      return queued >= 0 && static_cast<size_t>(queued) >= count ? 1 : 0;
    }
  }
}

long readExactly(DongleLink& link, uint8_t* buffer, size_t count, long long deadline) {
  if (!waitForQueued(link, count, deadline)) return 0;
  long got = readAvailable(link.port, buffer, count);
  return got > 0 ? got : 0;
}

// Throws away what has arrived of a frame that cannot be delivered.
void discardQueued(DongleLink& link) {
  uint8_t scratch[256];
  while (readAvailable(link.port, scratch, sizeof scratch) > 0) {
  }
}

// Reads and drops a payload too large for the buffer, so the next frame starts in place. The
// stick sends nothing that large, so such a header is out of step or garbage: it gets the wait
// of the largest real frame, not the 0.7 s a 65535-byte wait would hold the window for.
int skipPayload(DongleLink& link, size_t count) {
  const long long deadline = frameDeadline(count < dongleFramePayloadMax ? count : dongleFramePayloadMax);
  uint8_t scratch[256];
  size_t skipped = 0;
  while (skipped < count) {
    size_t want = count - skipped < sizeof scratch ? count - skipped : sizeof scratch;
    long got = readAvailable(link.port, scratch, want);
    if (got < 0) return 0;
    skipped += static_cast<size_t>(got);
    if (got > 0) continue;
    if (nowMs() >= deadline || !pauseOnPort(link.port, queuePollMs)) return 0;
  }
  return 1;
}

}  // namespace

size_t buildDongleFrame(uint8_t code, const uint8_t* payload, size_t n, uint8_t* frame, size_t capacity) {
  if (n > 0xFFFF || capacity < dongleFrameHeaderSize || n > capacity - dongleFrameHeaderSize) return 0;
  frame[0] = code;
  writeLe16(frame + 1, static_cast<uint16_t>(n));
  if (n > 0) std::memcpy(frame + dongleFrameHeaderSize, payload, n);
  return dongleFrameHeaderSize + n;
}

int writeDongleFrame(DongleLink& link, const uint8_t* frame, size_t frameSize, std::string* reason) {
  if (link.mode != dongleLinkDongle) {
    if (reason != nullptr) *reason = "no stick";
    return 0;
  }
  long written = 0;
  size_t total = dongleFrameHeaderSize;
  if (frameSize >= dongleFrameHeaderSize) {
    total += readLe16(frame + 1);
    if (total <= frameSize) {
      written = writeBytes(link.port, frame, total);
      if (written == static_cast<long>(total)) return 1;
    }
  }
  serialTrace("ERROR: Could not write to device.\n");
  serialTrace("Tried to write %d bytes, succeeded to write %ld.\n", static_cast<int>(total),
              written < 0 ? 0L : written);
  if (reason != nullptr) {
    *reason = total > frameSize ? "frame cut short" : writeFailureText(written, total, link.port.lastError);
  }
  return 0;
}

int dongleBytesQueued(DongleLink& link) {
  if (link.mode != dongleLinkDongle) return 0;
  int queued = bytesQueued(link.port);
  return queued > 0 ? queued : 0;
}

long readDongleBytes(DongleLink& link, uint8_t* buffer, size_t count) {
  if (link.mode != dongleLinkDongle) return 0;
  return readExactly(link, buffer, count, frameDeadline(count));
}

DongleFrameResult readDongleFrame(DongleLink& link, uint8_t* payload, size_t capacity) {
  DongleFrameResult result;
  if (link.mode != dongleLinkDongle) return result;
  if (dongleBytesQueued(link) <= 2) return result;
  uint8_t header[dongleFrameHeaderSize];
  for (size_t i = 0; i < dongleFrameHeaderSize; ++i) {
    if (readDongleBytes(link, header + i, 1) != 1) return result;
  }
  const size_t length = readLe16(header + 1);
  if (length > capacity) {
    int whole = skipPayload(link, length);
    serialTrace("Dongle frame 0x%02X dropped: %u payload bytes do not fit %u.\n", header[0],
                static_cast<unsigned>(length), static_cast<unsigned>(capacity));
    if (!whole) discardQueued(link);
    return result;
  }
  result.code = header[0];
  result.length = static_cast<uint16_t>(length);
  if (length > 0) {
    long got = readDongleBytes(link, payload, length);
    if (got != static_cast<long>(length)) {
      serialTrace("Dongle frame 0x%02X dropped: %u payload bytes announced, not all arrived.\n",
                  header[0], static_cast<unsigned>(length));
      discardQueued(link);
      return DongleFrameResult{};
    }
    result.payloadCount = static_cast<size_t>(got);
  }
  result.status = dongleFrameRead;
  return result;
}
