// The dongle's byte stream over a real socket pair: each wake-up of the link reads what is
// queued, takes it apart into frames and dispatches them, until the stream is used up. The writing end is closed
// once the input is queued, so a frame that announces more than arrives ends at once instead
// of waiting out its time-out. Every status report in the stream up to the first frame cut
// short must be logged: no frame is lost on the way.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "link/dongle_session.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The socket must hold the whole input without blocking the writer.
  if (size > 8192) return -1;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
  fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
  size_t written = 0;
  while (written < size) {
    ssize_t n = write(pair[1], data + written, size - written);
    if (n <= 0) std::abort();
    written += static_cast<size_t>(n);
  }
  close(pair[1]);

  static HeardConverterList heard;
  heard = HeardConverterList{};
  AnswerWorld world;
  ConverterLinkState link;
  DongleAnswerRouter router(world.targets);
  DongleLink dongle;
  dongle.mode = dongleLinkDongle;
  dongle.port.fd = pair[0];

  // Every wake-up that finds a header queued must consume something, or the event loop would spin.
  for (int queued = dongleBytesQueued(dongle); queued > 2;) {
    dongleTick(dongle, link, heard, world.log, router);
    const int after = dongleBytesQueued(dongle);
    FUZZ_CHECK(after < queued);
    queued = after;
    FUZZ_CHECK(heard.count >= 0 && heard.count <= heardConverterCapacity);
  }
  closeSerialPort(dongle.port);

  // Whole frames, oversized ones included, leave the next frame in place.
  size_t expectedReports = 0;
  for (size_t at = 0; size - at >= dongleFrameHeaderSize;) {
    const size_t length = data[at + 1] | data[at + 2] << 8;
    if (size - at - dongleFrameHeaderSize < length) break;
    expectedReports += length == 0;
    at += dongleFrameHeaderSize + length;
  }
  size_t reports = 0;
  for (const FakeLog::Piece& piece : world.log.pieces) {
    for (const char* start : {"<<< ACK received", "<<< NACK received", "<<< Queued MSG",
                              "<<< Unknown received"}) {
      reports += piece.text.rfind(start, 0) == 0;
    }
  }
  FUZZ_CHECK(reports == expectedReports);
  return 0;
}
