// A long wireless session over the plain libraries, doing what the window's dongle timer and
// command handlers do: finds the stick, chooses the converter as partner, ticks every 5 ms and
// sends a converter command at a steady pace. Prints its figures as "name value" lines.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bench_clock.h"
#include "codec/key_list.h"
#include "link/converter_link.h"
#include "tests/support/fake_view.h"

namespace {

constexpr int dongleTimerMs = 5;          // the window's dongle timer period
constexpr int partnerWaitMs = 10000;      // how long the converter may take to be heard
constexpr int sampleEveryMs = 1000;       // backlog samples
constexpr const char* incomingLine = "<<< Incoming Received ";

// Whole milliseconds, as the session's deadlines and samples count them.
int64_t nowMs() { return static_cast<int64_t>(monotonicMs()); }

void sleepMs(int ms) {
  struct timespec ts = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

// Counts what the window's log would hold without keeping it, so the session's own memory
// stays flat and any growth is the libraries'.
class CountingLog : public Log {
public:
  void logText(const char* text, int) override {
    textBytes += std::strlen(text);
    if (std::strncmp(text, incomingLine, std::strlen(incomingLine)) == 0) ++incomingFrames;
    if (std::strncmp(text, "<<< ", 4) == 0) ++receivedLines;
    if (std::strncmp(text, ">>> ", 4) == 0) ++sentLines;
  }
  void logTimestamp() override { textBytes += 12; }
  void logHexDump(const uint8_t* bytes, size_t count, int) override {
    scratch.clear();
    appendHexDumpText(scratch, bytes, count);
    textBytes += scratch.size();
  }
  void clearLog() override {}

  uint64_t textBytes = 0;
  uint64_t incomingFrames = 0;
  uint64_t receivedLines = 0;
  uint64_t sentLines = 0;

private:
  std::string scratch;
};

struct Settings {
  long seconds = 60;
  long commandMs = 1000;
  const char* keyDir = nullptr;
};

bool parseArgs(int argc, char** argv, Settings& set) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!v) return false;
    if (std::strcmp(a, "--seconds") == 0) set.seconds = std::strtol(v, nullptr, 10);
    else if (std::strcmp(a, "--command-ms") == 0) set.commandMs = std::strtol(v, nullptr, 10);
    else if (std::strcmp(a, "--keys") == 0) set.keyDir = v;
    else return false;
    ++i;
  }
  return set.seconds > 0 && set.commandMs >= 50;
}

// The link the window runs, in a wireless run.
struct Session {
  CountingLog log;
  FakeView view;
  ConverterLink converter{view, log};
  LinkRecords& records = converter.records();

  void tick() { converter.wake(); }
};

// The commands the installer's buttons send, in turn: Get Data of each slot, Set Data of
// what was read, Scan, and the option bits read and written back. 1 when the request left.
int sendCommand(Session& s, uint64_t n) {
  ConverterLink& c = s.converter;
  const int step = static_cast<int>(n % 12);
  if (step < 4) c.getData(step);
  else if (step < 8) c.setData(step - 4);
  else if (step == 8) c.scan();
  else if (step == 9) {
    s.view.dialogOpen = true;
    c.readOptions();
  } else if (step == 10) {
    bool checks[optionCount];
    for (int i = 0; i < optionCount; ++i) checks[i] = s.view.checks[i];
    s.view.dialogOpen = false;
    c.writeOptions(checks);
  } else {
    c.getData(0);
  }
  return c.outcome().end == CommandEnd::notSent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings set;
  if (!parseArgs(argc, argv, set)) {
    std::fprintf(stderr,
                 "usage: quarn_soak_session [--seconds N] [--command-ms M] [--keys DIR]\n"
                 "QUARN_VIRTUAL_PORTS must name the simulated stick.\n");
    return 2;
  }
  auto session = std::make_unique<Session>();
  Session& s = *session;
  ConverterLink& c = s.converter;
  c.chooseWireless();
  if (set.keyDir) loadKeyList(set.keyDir, s.records.converterKeys);

  if (!c.findStick() || !c.openStick()) {
    std::fprintf(stderr, "soak: no stick found\n");
    return 1;
  }
  if (c.writeStart() != 1) return 1;

  int64_t deadline = nowMs() + partnerWaitMs;
  while (s.records.heard.count == 0 && nowMs() < deadline) {
    s.tick();
    sleepMs(dongleTimerMs);
  }
  if (s.records.heard.count == 0) {
    std::fprintf(stderr, "soak: no converter heard\n");
    return 1;
  }
  if (!c.choosePartner(0)) return 1;
  if (s.view.keyText.empty()) {
    std::fprintf(stderr, "soak: the converter is not in the key list\n");
    return 1;
  }

  const long rssStart = residentKb();
  const int64_t begin = nowMs();
  const int64_t end = begin + set.seconds * 1000;
  int64_t nextCommand = begin + set.commandMs;
  int64_t nextSample = begin + sampleEveryMs;
  uint64_t ticks = 0, commands = 0, failedCommands = 0;
  int maxQueued = 0, lastQueued = 0;
  int64_t slowestTickMs = 0;
  std::printf("# second queued_bytes incoming_frames rss_kb\n");
  while (nowMs() < end) {
    int64_t t0 = nowMs();
    s.tick();
    ++ticks;
    int64_t t1 = nowMs();
    if (t1 - t0 > slowestTickMs) slowestTickMs = t1 - t0;
    if (t1 >= nextCommand) {
      if (sendCommand(s, commands) == 1) ++commands;
      else ++failedCommands;
      nextCommand += set.commandMs;
    }
    if (t1 >= nextSample) {
      lastQueued = dongleBytesQueued(s.records.dongleLink);
      if (lastQueued > maxQueued) maxQueued = lastQueued;
      std::printf("sample %lld %d %llu %ld\n", static_cast<long long>((t1 - begin) / 1000),
                  lastQueued, static_cast<unsigned long long>(s.log.incomingFrames), residentKb());
      nextSample += sampleEveryMs;
    }
    sleepMs(dongleTimerMs);
  }
  const long rssEnd = residentKb();
  int slotAnswers = 0;
  for (int i = 0; i < FakeView::slotTotal; ++i) slotAnswers += s.view.slotWrites[i];

  std::printf("seconds %ld\n", set.seconds);
  std::printf("ticks %llu\n", static_cast<unsigned long long>(ticks));
  std::printf("commands_sent %llu\n", static_cast<unsigned long long>(commands));
  std::printf("commands_failed %llu\n", static_cast<unsigned long long>(failedCommands));
  std::printf("incoming_frames %llu\n", static_cast<unsigned long long>(s.log.incomingFrames));
  std::printf("received_lines %llu\n", static_cast<unsigned long long>(s.log.receivedLines));
  std::printf("log_text_bytes %llu\n", static_cast<unsigned long long>(s.log.textBytes));
  std::printf("slot_answers %d\n", slotAnswers);
  std::printf("option_answers %d\n", s.view.checkWrites);
  std::printf("scan_rows %d\n", s.view.rowWrites);
  std::printf("final_counter %u\n", static_cast<unsigned>(s.records.state.messageCounter));
  std::printf("queued_max %d\n", maxQueued);
  std::printf("queued_end %d\n", lastQueued);
  std::printf("slowest_tick_ms %lld\n", static_cast<long long>(slowestTickMs));
  std::printf("rss_start_kb %ld\n", rssStart);
  std::printf("rss_end_kb %ld\n", rssEnd);
  return 0;
}
