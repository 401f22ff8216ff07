// The serial port layer and dongle frames on real pseudo-terminals.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "dongle/dongle_frame.h"
#include "dongle/dongle_link.h"
#include "serial/serial_port.h"
#include "serial/serial_trace.h"
#include "tests/support/time_bound.h"
#include "tests/unit/serial_pty.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The longest the GUI thread may be held by one read of a dongle frame.
constexpr long long guiBoundMs = 100;

long long elapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// Waits until the port reports at least count queued bytes (the pty needs a moment).
void waitQueued(SerialPort& port, int count) {
  for (int i = 0; i < 200 && bytesQueued(port) < count; ++i) usleep(1000);
}

// Writes from the near side until the pty takes nothing more, also after it has settled.
void fillUntilFull(int fd) {
  uint8_t block[1024];
  std::memset(block, 0x5A, sizeof block);
  for (int round = 0; round < 50; ++round) {
    long took = 0;
    for (int i = 0; i < 100000; ++i) {
      ssize_t put = write(fd, block, sizeof block);
      if (put <= 0) break;
      took += put;
    }
    if (round > 0 && took == 0) return;
    usleep(20000);
  }
}

struct OpenPort {
  PtyPair pty;
  SerialPort port;
  OpenPort(const SerialProfile& profile) {
    EXPECT_EQ(1, openSerialPort(port, pty.slavePath.c_str())) << std::strerror(port.lastError);
    EXPECT_EQ(1, applyProfile(port, profile));
  }
  ~OpenPort() { closeSerialPort(port); }
};

struct ProfileCase {
  const SerialProfile* profile;
  speed_t speed;
};

class ProfileTest : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileTest, LineSettingsReachThePortAndOtherFieldsStay) {
  PtyPair pty;
  SerialPort port;
  ASSERT_EQ(1, openSerialPort(port, pty.slavePath.c_str()));
  termios before{};
  ASSERT_EQ(0, tcgetattr(port.fd, &before));
  before.c_cc[VKILL] = 0x55;  // a special character the profile must not touch
  before.c_cflag |= CSTOPB | PARODD | CS7;
  ASSERT_EQ(0, tcsetattr(port.fd, TCSANOW, &before));
  ASSERT_EQ(1, applyProfile(port, *GetParam().profile));
  termios after{};
  ASSERT_EQ(0, tcgetattr(port.fd, &after));
  EXPECT_EQ(GetParam().speed, cfgetospeed(&after));
  EXPECT_EQ(GetParam().speed, cfgetispeed(&after));
  EXPECT_EQ(static_cast<tcflag_t>(CS8), after.c_cflag & CSIZE);
  // The pty driver forces parity off, so PARENB is checked on the settings themselves below.
  EXPECT_EQ(0u, after.c_cflag & PARODD);
  EXPECT_EQ(0u, after.c_cflag & CSTOPB);
  EXPECT_EQ(static_cast<tcflag_t>(CLOCAL | CREAD), after.c_cflag & (CLOCAL | CREAD));
  EXPECT_EQ(0u, after.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_EQ(0u, after.c_oflag & OPOST);
  EXPECT_EQ(0u, after.c_iflag & (ICRNL | IXON | ISTRIP));
  EXPECT_EQ(0x55, after.c_cc[VKILL]);
  EXPECT_NE(0, fcntl(port.fd, F_GETFL) & O_NONBLOCK);
  closeSerialPort(port);
}

TEST_P(ProfileTest, SettingsAreEightEvenOne) {
  termios state{};
  std::memset(&state, 0xFF, sizeof state);  // every flag set, as a hostile previous owner might
  state.c_cc[VKILL] = 0x55;
  ASSERT_EQ(1, profileLineSettings(state, *GetParam().profile));
  EXPECT_EQ(static_cast<tcflag_t>(CS8), state.c_cflag & CSIZE);
  EXPECT_NE(0u, state.c_cflag & PARENB);
  EXPECT_EQ(0u, state.c_cflag & (PARODD | CSTOPB));
  EXPECT_EQ(static_cast<tcflag_t>(CLOCAL | CREAD), state.c_cflag & (CLOCAL | CREAD));
  EXPECT_NE(0u, state.c_cflag & HUPCL);  // a flag outside the profile keeps its value
  EXPECT_EQ(GetParam().speed, cfgetospeed(&state));
  EXPECT_EQ(0u, state.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_EQ(0x55, state.c_cc[VKILL]);
}

TEST(SerialProfile, UnknownBaudRateIsRefused) {
  termios state{};
  const SerialProfile odd = {9600u, 50, 10};
  EXPECT_EQ(0, profileLineSettings(state, odd));
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProfileTest,
                         ::testing::Values(ProfileCase{&dongleSerialProfile, B2000000},
                                           ProfileCase{&wiredSerialProfile, B2400}),
                         [](const ::testing::TestParamInfo<ProfileCase>& param) {
                           return std::string(param.param.speed == B2400 ? "Wired" : "Dongle");
                         });

TEST(SerialPort, ProfileCanBeAppliedAgainAfterReopening) {
  PtyPair pty;
  for (int round = 0; round < 3; ++round) {
    SerialPort port;
    ASSERT_EQ(1, openSerialPort(port, pty.slavePath.c_str()));
    EXPECT_EQ(1, applyProfile(port, round == 1 ? wiredSerialProfile : dongleSerialProfile)) << round;
    EXPECT_EQ(1, applyProfile(port, dongleSerialProfile)) << round;
    closeSerialPort(port);
  }
}

TEST(SerialPort, ReadsNeverBlockAndReturnWhatIsQueued) {
  OpenPort open(wiredSerialProfile);
  uint8_t buffer[16] = {};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, readAvailable(open.port, buffer, sizeof buffer));
  EXPECT_WITHIN_MS(elapsedMs(start), 20);
  EXPECT_EQ(0, bytesQueued(open.port));
  open.pty.send({1, 2, 3, 4, 5});
  waitQueued(open.port, 5);
  EXPECT_EQ(5, bytesQueued(open.port));
  EXPECT_EQ(3, readAvailable(open.port, buffer, 3));
  EXPECT_EQ(2, bytesQueued(open.port));
  EXPECT_EQ(2, readAvailable(open.port, buffer + 3, sizeof buffer - 3));
  EXPECT_EQ(0, std::memcmp(buffer, "\x01\x02\x03\x04\x05", 5));
}

TEST(SerialPort, WritesReachTheFarSideWithEveryByteValue) {
  OpenPort open(wiredSerialProfile);
  Bytes all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(256, writeBytes(open.port, all.data(), all.size()));
  Bytes got = open.pty.received();
  EXPECT_EQ(all, got);  // raw: no CR/LF mapping, no echo
}

// A stick that talks before it is opened (as after a replug) finds a fresh tty, cooked and
// echoing. What it queued then is dropped at the open, never read as a frame, and nothing it
// sends afterwards comes back to it.
TEST(SerialPort, BytesQueuedBeforeTheOpenAreDroppedAndNothingIsEchoedAfter) {
  PtyPair pty;
  {
    const int slave = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios cooked{};
    ASSERT_EQ(0, tcgetattr(slave, &cooked));
    cooked.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(0, tcsetattr(slave, TCSANOW, &cooked));
    close(slave);
  }
  pty.send({0x1A, 0x68, 0x03, 0x03, 0x68});  // no line end: held in the cooked line
  pty.received();  // what the cooked tty echoed before the open is the udev rule's to prevent
  SerialPort port;
  ASSERT_EQ(1, openSerialPort(port, pty.slavePath.c_str())) << std::strerror(port.lastError);
  ASSERT_EQ(1, applyProfile(port, dongleSerialProfile));
  usleep(20000);
  EXPECT_EQ(0, bytesQueued(port));
  uint8_t buffer[16] = {};
  EXPECT_EQ(0, readAvailable(port, buffer, sizeof buffer));
  pty.send({0x10, 0x20, 0x0A});
  waitQueued(port, 3);
  ASSERT_EQ(3, readAvailable(port, buffer, sizeof buffer));
  EXPECT_EQ(0, std::memcmp(buffer, "\x10\x20\x0A", 3));
  EXPECT_TRUE(pty.received().empty());
  closeSerialPort(port);
}

TEST(SerialPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
  PtyPair pty;
  SerialPort first;
  SerialPort second;
  ASSERT_EQ(1, openSerialPort(first, pty.slavePath.c_str()));
  EXPECT_EQ(0, openSerialPort(second, pty.slavePath.c_str()));
  EXPECT_EQ(-1, second.fd);
  EXPECT_EQ(serialStepOpen, second.failedStep);
  EXPECT_TRUE(second.lastError == EBUSY || second.lastError == EWOULDBLOCK) << second.lastError;
  EXPECT_STREQ("The port is in use by another program.", serialOpenCauseText(second.lastError));
  closeSerialPort(first);
  EXPECT_EQ(-1, first.fd);
  EXPECT_EQ(1, openSerialPort(second, pty.slavePath.c_str()));
  closeSerialPort(second);
}

// The exclusive flag belongs to the open port alone: on a pseudo-terminal it outlives the
// close and would lock every later non-root opener out; a refused open must not set it on a
// port another program holds. A watcher descriptor reads the flag even where root ignores it.
TEST(SerialPort, ExclusiveFlagLastsOnlyWhileThePortIsOurs) {
  PtyPair pty;
  const int watcher = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(watcher, 0);
  auto exclusive = [watcher] {
    int flag = -1;
    return ioctl(watcher, TIOCGEXCL, &flag) == 0 ? flag : -1;
  };
  SerialPort port;
  for (int round = 0; round < 3; ++round) {  // open, close and reopen
    ASSERT_EQ(1, openSerialPort(port, pty.slavePath.c_str())) << std::strerror(port.lastError);
    EXPECT_EQ(1, exclusive());
    closeSerialPort(port);
    EXPECT_EQ(0, exclusive());
  }
  ASSERT_EQ(0, flock(watcher, LOCK_EX | LOCK_NB));  // another program holds the port
  EXPECT_EQ(0, openSerialPort(port, pty.slavePath.c_str()));
  EXPECT_EQ(0, exclusive());
  close(watcher);
}

TEST(SerialPort, MissingDeviceKeepsEnoent) {
  SerialPort port;
  EXPECT_EQ(0, openSerialPort(port, "/nonexistent/ttyUSB9"));
  EXPECT_EQ(ENOENT, port.lastError);
  EXPECT_EQ(nullptr, serialOpenCauseText(ENOENT));
}

// What quarn-cli tells about a refused port: owner, group and mode of the node as the system has them.
TEST(SerialPort, PermissionTextNamesOwnerGroupAndMode) {
  EXPECT_EQ("permission denied (owner root:root, mode 0666)", openPermissionText("/dev/null", EACCES));
  EXPECT_EQ("permission denied (owner root:root, mode 0666)", openPermissionText("/dev/null", EPERM));
  EXPECT_EQ("", openPermissionText("/dev/null", EBUSY));
  EXPECT_EQ("", openPermissionText("/nonexistent/ttyUSB9", EACCES));
}

TEST(SerialPort, CauseTexts) {
  EXPECT_STREQ("Permission denied: the user is not in the dialout group. Run sudo adduser $USER dialout, then log out and in again.",
               serialOpenCauseText(EACCES));
  EXPECT_STREQ("The port is in use by another program.", serialOpenCauseText(EBUSY));
  EXPECT_STREQ("The port is in use by another program.", serialOpenCauseText(EWOULDBLOCK));
  EXPECT_EQ(nullptr, serialOpenCauseText(ENOTTY));
  EXPECT_STREQ("Error getting serial parameters.", serialStepMessage(serialStepGetState));
  EXPECT_STREQ("Error setting serial parameters.", serialStepMessage(serialStepSetState));
  EXPECT_STREQ("Error setting timeouts.", serialStepMessage(serialStepTimeouts));
  EXPECT_EQ(nullptr, serialStepMessage(serialStepOpen));
}

TEST(SerialPort, NotATerminalIsRefused) {
  SerialPort port;
  EXPECT_EQ(0, openSerialPort(port, "/dev/null"));  // TIOCEXCL fails: not a tty
  EXPECT_EQ(ENOTTY, port.lastError);
  char path[] = "/tmp/quarn-serial-fileXXXXXX";
  port.fd = mkstemp(path);
  ASSERT_GE(port.fd, 0);
  EXPECT_EQ(0, applyProfile(port, wiredSerialProfile));
  EXPECT_EQ(serialStepGetState, port.failedStep);
  closeSerialPort(port);
  unlink(path);
}

TEST(SerialPort, WriteGivesUpAfterItsTimeOutWhenNobodyReads) {
  OpenPort open(wiredSerialProfile);
  fillUntilFull(open.port.fd);
  const uint8_t ten[10] = {};
  auto start = std::chrono::steady_clock::now();
  long written = writeBytes(open.port, ten, sizeof ten);
  long long took = elapsedMs(start);
  EXPECT_GE(written, 0);
  EXPECT_LT(written, 10);
  EXPECT_GE(took, 145);  // 50 ms + 10 x 10 ms
  EXPECT_WITHIN_MS(took, 600);
}

TEST(SerialPort, ClosedPortFailsEveryCall) {
  SerialPort port;
  uint8_t b = 0;
  EXPECT_EQ(-1, readAvailable(port, &b, 1));
  EXPECT_EQ(-1, writeBytes(port, &b, 1));
  EXPECT_EQ(-1, bytesQueued(port));
  closeSerialPort(port);  // harmless when closed
}

TEST(SerialPort, WaitForInputEndsWhenTheTimeIsUp) {
  OpenPort open(wiredSerialProfile);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, waitForInput(open.port.fd, 60));
  const long long took = elapsedMs(start);
  EXPECT_GE(took, 55);
  EXPECT_WITHIN_MS(took, 400);
  EXPECT_EQ(0, waitForInput(open.port.fd, 0));  // a look, no wait
}

TEST(SerialPort, WaitForInputEndsWhenBytesArriveOrTheFarSideHangsUp) {
  OpenPort open(wiredSerialProfile);
  open.pty.send({0x10, 0x5B});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, waitForInput(open.port.fd, 2000));
  EXPECT_WITHIN_MS(elapsedMs(start), 500);
  uint8_t got[4] = {};
  waitQueued(open.port, 2);
  EXPECT_EQ(2, readAvailable(open.port, got, sizeof got));
  open.pty.hangUp();
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, waitForInput(open.port.fd, 2000));
  EXPECT_WITHIN_MS(elapsedMs(start), 500);
  EXPECT_EQ(1, serialPortHungUp(open.port));
}

TEST(SerialTrace, RedirectSendsLinesElsewhereWhileItLives) {
  std::FILE* elsewhere = std::tmpfile();
  ASSERT_NE(elsewhere, nullptr);
  const std::string seen = captureStdout([elsewhere] {
    serialTrace("before\n");
    {
      SerialTraceRedirect away(elsewhere);
      serialTrace("there %d\n", 1);
      SerialTraceRedirect nowhere(nullptr);
      serialTrace("lost\n");
    }
    serialTrace("after\n");
  });
  EXPECT_EQ("before\nafter\n", seen);
  char line[32] = {};
  std::rewind(elsewhere);
  ASSERT_NE(std::fgets(line, sizeof line, elsewhere), nullptr);
  EXPECT_STREQ("there 1\n", line);
  EXPECT_EQ(nullptr, std::fgets(line, sizeof line, elsewhere));
  std::fclose(elsewhere);
}

// ---- dongle frames ----

struct DongleOnPty {
  PtyPair pty;
  DongleLink link;
  DongleOnPty() {
    link.mode = dongleLinkDongle;
    EXPECT_EQ(1, openSerialPort(link.port, pty.slavePath.c_str()));
    EXPECT_EQ(1, applyProfile(link.port, dongleSerialProfile));
  }
  ~DongleOnPty() { closeSerialPort(link.port); }
  void waitFor(int count) { waitQueued(link.port, count); }
};

// One frame read on the clock, with what the serial layer traced meanwhile.
struct TracedRead {
  DongleFrameResult got;
  long long took = 0;
  std::string trace;
};

TracedRead readTraced(DongleOnPty& dongle, uint8_t* payload, size_t capacity) {
  TracedRead r;
  auto start = std::chrono::steady_clock::now();
  r.trace = captureStdout([&] { r.got = readDongleFrame(dongle.link, payload, capacity); });
  r.took = elapsedMs(start);
  return r;
}

TEST(DongleFrame, StartFrameIsThreeBytes) {
  DongleOnPty dongle;
  const uint8_t frame[] = {0xAB, 0x00, 0x00, 0xEE};  // the trailing byte is not part of it
  EXPECT_EQ(1, writeDongleFrame(dongle.link, frame, sizeof frame));
  EXPECT_EQ((Bytes{0xAB, 0x00, 0x00}), dongle.pty.received());
}

TEST(DongleFrame, MessageFrameIsHeaderAndMessage) {
  DongleOnPty dongle;
  Bytes frame = {0xAC, 0x0A, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(1, writeDongleFrame(dongle.link, frame.data(), frame.size()));
  EXPECT_EQ(frame, dongle.pty.received());
}

TEST(DongleFrame, FrameLongerThanItsBufferIsNotWritten) {
  DongleOnPty dongle;
  const uint8_t frame[] = {0xAC, 0x0A, 0x00, 1, 2};
  std::string trace = captureStdout([&] { EXPECT_EQ(0, writeDongleFrame(dongle.link, frame, sizeof frame)); });
  EXPECT_EQ("ERROR: Could not write to device.\nTried to write 13 bytes, succeeded to write 0.\n", trace);
  EXPECT_TRUE(dongle.pty.received(20).empty());
}

TEST(DongleFrame, ShortWriteIsTraced) {
  DongleOnPty dongle;
  fillUntilFull(dongle.link.port.fd);
  const uint8_t frame[] = {0xAB, 0x00, 0x00};
  std::string trace = captureStdout([&] { EXPECT_EQ(0, writeDongleFrame(dongle.link, frame, sizeof frame)); });
  EXPECT_EQ("ERROR: Could not write to device.\nTried to write 3 bytes, succeeded to write 0.\n", trace);
}

TEST(DongleFrame, TwoBytesAreNoFrameTheThirdCompletesTheHeader) {
  DongleOnPty dongle;
  uint8_t payload[dongleFramePayloadMax];
  dongle.pty.send({0x20, 0x00});
  dongle.waitFor(2);
  EXPECT_EQ(2, dongleBytesQueued(dongle.link));
  EXPECT_EQ(dongleFrameNone, readDongleFrame(dongle.link, payload, sizeof payload).status);
  EXPECT_EQ(2, dongleBytesQueued(dongle.link));  // nothing consumed
  dongle.pty.send({0x00});
  dongle.waitFor(3);
  DongleFrameResult got = readDongleFrame(dongle.link, payload, sizeof payload);
  EXPECT_EQ(dongleFrameRead, got.status);
  EXPECT_EQ(0x20, got.code);
  EXPECT_EQ(0, got.length);
  EXPECT_EQ(0u, got.payloadCount);
}

TEST(DongleFrame, PayloadFrameIsReadWhole) {
  DongleOnPty dongle;
  Bytes frame = {0x8E, 0x12, 0x00};
  for (int i = 0; i < 18; ++i) frame.push_back(static_cast<uint8_t>(0xA0 + i));
  dongle.pty.send(frame);
  dongle.waitFor(21);
  uint8_t payload[dongleFramePayloadMax] = {};
  DongleFrameResult got = readDongleFrame(dongle.link, payload, sizeof payload);
  EXPECT_EQ(dongleFrameRead, got.status);
  EXPECT_EQ(0x8E, got.code);
  EXPECT_EQ(18, got.length);
  ASSERT_EQ(18u, got.payloadCount);
  EXPECT_EQ(0, std::memcmp(payload, frame.data() + 3, 18));
  EXPECT_EQ(0, dongleBytesQueued(dongle.link));
}

TEST(DongleFrame, SplitPayloadIsWaitedFor) {
  DongleOnPty dongle;
  Bytes first = {0x8E, 0x12, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Bytes rest = {11, 12, 13, 14, 15, 16, 17, 18};
  dongle.pty.send(first);
  dongle.waitFor(13);
  int far = dup(dongle.pty.master);
  pid_t child = fork();
  if (child == 0) {
    usleep(25000);  // well inside the wait bound
    ssize_t put = write(far, rest.data(), rest.size());
    _exit(put == static_cast<ssize_t>(rest.size()) ? 0 : 1);
  }
  close(far);
  uint8_t payload[dongleFramePayloadMax] = {};
  auto start = std::chrono::steady_clock::now();
  DongleFrameResult got = readDongleFrame(dongle.link, payload, sizeof payload);
  EXPECT_GE(elapsedMs(start), 15);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(dongleFrameRead, got.status);
  ASSERT_EQ(18u, got.payloadCount);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(i + 1, payload[i]);
}

TEST(DongleFrame, PayloadThatNeverCompletesIsDroppedAndTheReaderRecovers) {
  DongleOnPty dongle;
  dongle.pty.send({0x8E, 0x12, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  dongle.waitFor(13);
  uint8_t payload[dongleFramePayloadMax];
  std::memset(payload, 0x77, sizeof payload);
  const TracedRead traced = readTraced(dongle, payload, sizeof payload);
  EXPECT_EQ(dongleFrameNone, traced.got.status);
  EXPECT_GE(traced.took, dongleFrameWaitMs - 5);
  EXPECT_WITHIN_MS(traced.took, guiBoundMs);
  EXPECT_EQ("Dongle frame 0x8E dropped: 18 payload bytes announced, not all arrived.\n", traced.trace);
  EXPECT_EQ(0x77, payload[0]);  // a failed read leaves the buffer as it was
  EXPECT_EQ(0, dongleBytesQueued(dongle.link));
  dongle.pty.send({0x50, 0x00, 0x00});
  dongle.waitFor(3);
  DongleFrameResult got = readDongleFrame(dongle.link, payload, sizeof payload);
  EXPECT_EQ(dongleFrameRead, got.status);
  EXPECT_EQ(0x50, got.code);
}

// The wait runs on the GUI thread: even the largest frame, stalled half-way, gives up in time
// for the window to keep answering.
TEST(DongleFrame, LargestFrameStalledGivesUpWithinTheGuiBound) {
  DongleOnPty dongle;
  Bytes half = {0x44, static_cast<uint8_t>(dongleFramePayloadMax & 0xFF),
                static_cast<uint8_t>(dongleFramePayloadMax >> 8)};
  for (size_t i = 0; i < dongleFramePayloadMax / 2; ++i) half.push_back(0x5A);
  dongle.pty.send(half);
  dongle.waitFor(static_cast<int>(half.size()));
  uint8_t payload[dongleFramePayloadMax];
  const TracedRead traced = readTraced(dongle, payload, sizeof payload);
  EXPECT_EQ(dongleFrameNone, traced.got.status);
  EXPECT_GE(traced.took, dongleFrameWaitMaxMs - 5);
  EXPECT_WITHIN_MS(traced.took, guiBoundMs);
  EXPECT_EQ("Dongle frame 0x44 dropped: 524 payload bytes announced, not all arrived.\n", traced.trace);
}

TEST(DongleFrame, OversizeFrameIsSkippedAndTheNextFrameStaysInPlace) {
  DongleOnPty dongle;
  const size_t announced = 600;
  Bytes stream = {0x44, static_cast<uint8_t>(announced & 0xFF), static_cast<uint8_t>(announced >> 8)};
  for (size_t i = 0; i < announced; ++i) stream.push_back(0xCC);
  Bytes good = {0x44, 0x04, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};
  stream.insert(stream.end(), good.begin(), good.end());
  dongle.pty.send(stream);
  dongle.waitFor(static_cast<int>(stream.size()));
  // Guard bytes around the buffer catch any write past its end.
  uint8_t guarded[dongleFramePayloadMax + 16];
  std::memset(guarded, 0x11, sizeof guarded);
  uint8_t* payload = guarded + 8;
  DongleFrameResult got;
  std::string trace = captureStdout([&] { got = readDongleFrame(dongle.link, payload, dongleFramePayloadMax); });
  EXPECT_EQ(dongleFrameNone, got.status);
  EXPECT_EQ("Dongle frame 0x44 dropped: 600 payload bytes do not fit 524.\n", trace);
  for (size_t i = 0; i < sizeof guarded; ++i) ASSERT_EQ(0x11, guarded[i]) << i;
  got = readDongleFrame(dongle.link, payload, dongleFramePayloadMax);
  EXPECT_EQ(dongleFrameRead, got.status);
  EXPECT_EQ(0x44, got.code);
  ASSERT_EQ(4u, got.payloadCount);
  EXPECT_EQ(0, std::memcmp(payload, good.data() + 3, 4));
}

// A header announcing 65535 bytes, then only what a real frame holds: the wait ends within the
// GUI bound, and a frame sent afterwards is read in step.
TEST(DongleFrame, HeaderAnnouncingTheMostIsGivenUpWithinTheGuiBound) {
  DongleOnPty dongle;
  Bytes stream = {0x8E, 0xFF, 0xFF};
  for (size_t i = 0; i < dongleFramePayloadMax; ++i) stream.push_back(0x55);
  dongle.pty.send(stream);
  dongle.waitFor(static_cast<int>(stream.size()));
  uint8_t payload[dongleFramePayloadMax];
  const TracedRead traced = readTraced(dongle, payload, sizeof payload);
  EXPECT_EQ(dongleFrameNone, traced.got.status);
  EXPECT_GE(traced.took, dongleFrameWaitMaxMs - 5);
  EXPECT_WITHIN_MS(traced.took, guiBoundMs);
  EXPECT_EQ("Dongle frame 0x8E dropped: 65535 payload bytes do not fit 524.\n", traced.trace);
  EXPECT_EQ(0, dongleBytesQueued(dongle.link));
  dongle.pty.send({0x44, 0x02, 0x00, 0xAA, 0xBB});
  dongle.waitFor(5);
  DongleFrameResult got = readDongleFrame(dongle.link, payload, sizeof payload);
  EXPECT_EQ(dongleFrameRead, got.status);
  EXPECT_EQ(0x44, got.code);
  ASSERT_EQ(2u, got.payloadCount);
  EXPECT_EQ(0xBB, payload[1]);
}

TEST(DongleFrame, LargestFittingFrameIsRead) {
  DongleOnPty dongle;
  Bytes stream = {0x44, static_cast<uint8_t>(dongleFramePayloadMax & 0xFF),
                  static_cast<uint8_t>(dongleFramePayloadMax >> 8)};
  for (size_t i = 0; i < dongleFramePayloadMax; ++i) stream.push_back(static_cast<uint8_t>(i));
  dongle.pty.send(stream);
  dongle.waitFor(static_cast<int>(stream.size()));
  uint8_t payload[dongleFramePayloadMax];
  DongleFrameResult got = readDongleFrame(dongle.link, payload, sizeof payload);
  EXPECT_EQ(dongleFrameRead, got.status);
  EXPECT_EQ(dongleFramePayloadMax, got.payloadCount);
  EXPECT_EQ(0, std::memcmp(payload, stream.data() + 3, dongleFramePayloadMax));
}

TEST(DongleFrame, HangUpMidFrameFailsQuietlyAndQuickly) {
  DongleOnPty dongle;
  dongle.pty.send({0x8E, 0x12, 0x00, 1, 2, 3});
  dongle.waitFor(6);
  dongle.pty.hangUp();
  uint8_t payload[dongleFramePayloadMax];
  auto start = std::chrono::steady_clock::now();
  DongleFrameResult got;
  captureStdout([&] { got = readDongleFrame(dongle.link, payload, sizeof payload); });
  EXPECT_EQ(dongleFrameNone, got.status);
  EXPECT_WITHIN_MS(elapsedMs(start), guiBoundMs);
  EXPECT_EQ(0, dongleBytesQueued(dongle.link));
  EXPECT_EQ(0, readDongleBytes(dongle.link, payload, 1));
  EXPECT_EQ(dongleFrameNone, readDongleFrame(dongle.link, payload, sizeof payload).status);
  const uint8_t frame[] = {0xAB, 0x00, 0x00};
  captureStdout([&] { EXPECT_EQ(0, writeDongleFrame(dongle.link, frame, sizeof frame)); });
}

TEST(DongleFrame, ReadBytesWaitsThenReads) {
  DongleOnPty dongle;
  uint8_t buffer[4] = {};
  dongle.pty.send({9, 8, 7, 6});
  EXPECT_EQ(4, readDongleBytes(dongle.link, buffer, 4));
  EXPECT_EQ(0, std::memcmp(buffer, "\x09\x08\x07\x06", 4));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, readDongleBytes(dongle.link, buffer, 1));  // nothing comes: bounded wait
  EXPECT_GE(elapsedMs(start), dongleFrameWaitMs - 5);
}

TEST(DongleFrame, WiredModeDoesNothing) {
  DongleOnPty dongle;
  dongle.link.mode = dongleLinkNone;
  dongle.pty.send({0x20, 0x00, 0x00});
  waitQueued(dongle.link.port, 3);
  uint8_t payload[dongleFramePayloadMax];
  const uint8_t frame[] = {0xAB, 0x00, 0x00};
  std::string trace = captureStdout([&] {
    EXPECT_EQ(0, writeDongleFrame(dongle.link, frame, sizeof frame));
    EXPECT_EQ(0, dongleBytesQueued(dongle.link));
    EXPECT_EQ(0, readDongleBytes(dongle.link, payload, 1));
    EXPECT_EQ(dongleFrameNone, readDongleFrame(dongle.link, payload, sizeof payload).status);
  });
  EXPECT_EQ("", trace);
  EXPECT_TRUE(dongle.pty.received(20).empty());
  EXPECT_EQ(3, bytesQueued(dongle.link.port));  // nothing was read either
}

}  // namespace
