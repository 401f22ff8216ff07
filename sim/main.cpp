// quarn-sim: the far side of Quarn's tests and demo, a simulated M-Bus converter (wired)
// or a USB wireless M-Bus stick with the converter behind it, served on a PTY.
#include <getopt.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sim_bytes.h"
#include "sim_port.h"
#include "sim_session.h"
#include "sim_site.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

int64_t monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const char usageText[] =
    "usage: quarn-sim [options]\n"
    "  --role wired|dongle      converter on the M-Bus wire (default) or USB wireless stick\n"
    "  --link PATH              symlink to the PTY (default $XDG_RUNTIME_DIR/ttySIM0, else\n"
    "                           ${TMPDIR:-/tmp}/quarn-sim-UID/ttySIM0); its folder must be\n"
    "                           yours and writable by you alone\n"
    "  --device PATH            serve an existing tty (a USB gadget's serial port) instead of a\n"
    "                           PTY; no link is made, the path is printed, and nothing\n"
    "                           is written until a byte came in\n"
    "  --exit-after SECONDS     end by itself after this time\n"
    "  --transcript FILE        one line per request received\n"
    "  --id HEX8                identification number as printed (default 12345678)\n"
    "  --manufacturer ABC|HEX4  wired manufacturer, letters or code (default KAM)\n"
    "  --version HEX2           version byte (default 01)\n"
    "  --fw HEX4                firmware version record (default 0102)\n"
    "  --counter N              last accepted message counter (default 0)\n"
    "  --key HEX32              converter key (default 000102...0F)\n"
    "  --options HEX16          the eight option bytes (default 0100000000000000)\n"
    "  --serial TEXT            dongle USB serial after ZJ (default 000042)\n"
    "  --beacon-ms N            dongle: converter radio frame period, 0 = none (default 1000)\n"
    "  --reply-ms N             turnaround before answers (default 20)\n"
    "  --quiet-air              dongle: no other meters' frames, no 0x0D frames\n"
    "  --no-records             answers without the counter and version records\n"
    "  --converters FILE        dongle: several converters behind the stick, one a line:\n"
    "                           ID KEY [slotN=HEX8]... [options=HEX16] and the faults silent,\n"
    "                           wrong-key (its key differs from KEY), stores-wrongly (Set Data\n"
    "                           keeps the wired address wrong); the first replaces --id, --key\n"
    "  --meters FILE            dongle: the meters the stick hears and the converter's Scan\n"
    "                           names, one a line: ID MAN VERSION TYPE MODE KEY INTERVAL_MS\n"
    "                           RSSI_DBM [WANDER_DB], MODE 0, 5 or 7 (KEY \"-\" for 0), e.g.\n"
    "                           12345678 KAM 1B 07 5 000102030405060708090A0B0C0D0E0F 1000 -70 8\n"
    "faults:\n"
    "  --split N                write frames in pieces of N bytes\n"
    "  --split-delay-ms N       pause between pieces (default 40)\n"
    "  --double                 every frame twice in one write\n"
    "  --bad-checksum           wired answers with a wrong checksum\n"
    "  --stray                  a stray 41 before every answer\n"
    "  --e5                     answer REQ_UD2 with E5\n"
    "  --zero                   answer REQ_UD2 with a lone 00\n"
    "  --silent                 write nothing at all\n"
    "  --nack                   dongle answers every frame with 1F 00 00\n"
    "  --hangup-midframe        close the PTY after half an answer and link a new one\n"
    "  --flood                  garbage at full speed\n"
    "  --stall-midpayload       half an answer, the rest after --stall-ms (default 3000)\n"
    "  --stall-ms N\n"
    "  --announce LEN           dongle: after AB, a frame announcing LEN payload bytes\n"
    "  --unknown-status         dongle: 7E 00 00 after each beacon\n"
    "  --unplug-after MS        pull the device out MS after the start: the PTY closes (the\n"
    "                           far side sees a hang-up) and the link is removed\n"
    "  --unplug-after-writes N  pull it out once N writes (Set Data, option bits) were accepted\n"
    "  --replug-after MS        put it back MS after the unplug: a new PTY at the same link,\n"
    "                           the converter's state kept; nothing new is printed\n";

enum OptionId {
  optRole = 1000, optLink, optDevice, optExitAfter, optTranscript, optId, optManufacturer, optVersion, optFw,
  optCounter, optKey, optOptions, optSerial, optBeaconMs, optReplyMs, optQuietAir, optSplit,
  optSplitDelay, optDouble, optBadChecksum, optStray, optE5, optZero, optSilent, optNack,
  optHangup, optFlood, optStall, optStallMs, optAnnounce, optUnknownStatus, optNoRecords, optUnplugAfter,
  optUnplugAfterWrites, optReplugAfter, optConverters, optMeters, optHelp
};

const struct option longOptions[] = {
    {"role", required_argument, nullptr, optRole},
    {"link", required_argument, nullptr, optLink},
    {"device", required_argument, nullptr, optDevice},
    {"exit-after", required_argument, nullptr, optExitAfter},
    {"transcript", required_argument, nullptr, optTranscript},
    {"id", required_argument, nullptr, optId},
    {"manufacturer", required_argument, nullptr, optManufacturer},
    {"version", required_argument, nullptr, optVersion},
    {"fw", required_argument, nullptr, optFw},
    {"counter", required_argument, nullptr, optCounter},
    {"key", required_argument, nullptr, optKey},
    {"options", required_argument, nullptr, optOptions},
    {"serial", required_argument, nullptr, optSerial},
    {"beacon-ms", required_argument, nullptr, optBeaconMs},
    {"reply-ms", required_argument, nullptr, optReplyMs},
    {"quiet-air", no_argument, nullptr, optQuietAir},
    {"no-records", no_argument, nullptr, optNoRecords},
    {"split", required_argument, nullptr, optSplit},
    {"split-delay-ms", required_argument, nullptr, optSplitDelay},
    {"double", no_argument, nullptr, optDouble},
    {"bad-checksum", no_argument, nullptr, optBadChecksum},
    {"stray", no_argument, nullptr, optStray},
    {"e5", no_argument, nullptr, optE5},
    {"zero", no_argument, nullptr, optZero},
    {"silent", no_argument, nullptr, optSilent},
    {"nack", no_argument, nullptr, optNack},
    {"hangup-midframe", no_argument, nullptr, optHangup},
    {"flood", no_argument, nullptr, optFlood},
    {"stall-midpayload", no_argument, nullptr, optStall},
    {"stall-ms", required_argument, nullptr, optStallMs},
    {"announce", required_argument, nullptr, optAnnounce},
    {"unknown-status", no_argument, nullptr, optUnknownStatus},
    {"unplug-after", required_argument, nullptr, optUnplugAfter},
    {"unplug-after-writes", required_argument, nullptr, optUnplugAfterWrites},
    {"replug-after", required_argument, nullptr, optReplugAfter},
    {"converters", required_argument, nullptr, optConverters},
    {"meters", required_argument, nullptr, optMeters},
    {"help", no_argument, nullptr, optHelp},
    {nullptr, 0, nullptr, 0}};

bool parseNumber(const char* text, long lo, long hi, long& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool parseHexExact(const char* text, uint8_t* dest, size_t count) {
  return simParseHex(text, dest, count) == static_cast<int>(count);
}

// The user's own runtime folder, else a private folder of the user's in the temporary one.
std::string defaultLinkPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/ttySIM0";
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  return base + "/quarn-sim-" + std::to_string(geteuid()) + "/ttySIM0";
}

struct Settings {
  SimRole role = SimRole::wired;
  std::string link;  // empty: defaultLinkPath()
  std::string device;  // an existing tty to serve instead of a PTY
  long exitAfter = 0;
  std::string transcript;
  std::string serial = "000042";
  std::string converters;  // --converters: read once all options are known
  std::string meters;      // --meters: likewise
};

// Applies one option; returns false with a message on stderr when it is not valid.
bool applyOption(int id, const char* arg, Settings& set, SimSession& s) {
  long v = 0;
  uint8_t bytes[16];
  switch (id) {
    case optRole:
      if (std::strcmp(arg, "wired") == 0) set.role = SimRole::wired;
      else if (std::strcmp(arg, "dongle") == 0) set.role = SimRole::dongle;
      else return false;
      return true;
    case optLink: set.link = arg; return !set.link.empty();
    case optDevice: set.device = arg; return !set.device.empty();
    case optExitAfter: return parseNumber(arg, 1, 86400 * 365, set.exitAfter);
    case optTranscript: set.transcript = arg; return true;
    case optId:
      if (!parseHexExact(arg, bytes, 4)) return false;
      for (int i = 0; i < 4; ++i) s.conv.id[i] = bytes[3 - i];
      return true;
    case optManufacturer: {
      int code = simManufacturerFromLetters(arg);
      if (code < 0) {
        if (!parseHexExact(arg, bytes, 2)) return false;
        code = bytes[0] << 8 | bytes[1];
      }
      s.conv.manufacturer = static_cast<uint16_t>(code);
      return true;
    }
    case optVersion:
      if (!parseHexExact(arg, bytes, 1)) return false;
      s.conv.version = bytes[0];
      return true;
    case optFw:
      if (!parseHexExact(arg, bytes, 2)) return false;
      s.conv.firmware = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
      return true;
    case optCounter:
      if (!parseNumber(arg, 0, 0xFFFFFFFFL, v)) return false;
      s.conv.counter = static_cast<uint32_t>(v);
      return true;
    case optKey: return parseHexExact(arg, s.conv.key, 16);
    case optOptions: return parseHexExact(arg, s.conv.options, 8);
    case optSerial: set.serial = arg; return !set.serial.empty();
    case optBeaconMs:
      if (!parseNumber(arg, 0, 3600000, v)) return false;
      s.timing.beaconMs = static_cast<int>(v);
      return true;
    case optReplyMs:
      if (!parseNumber(arg, 0, 60000, v)) return false;
      s.timing.replyMs = static_cast<int>(v);
      return true;
    case optQuietAir: s.faults.quietAir = true; return true;
    case optNoRecords: s.conv.noRecords = true; return true;
    case optSplit:
      if (!parseNumber(arg, 1, 1000, v)) return false;
      s.faults.splitBytes = static_cast<size_t>(v);
      return true;
    case optSplitDelay:
      if (!parseNumber(arg, 0, 60000, v)) return false;
      s.timing.splitDelayMs = static_cast<int>(v);
      return true;
    case optDouble: s.faults.doubleFrames = true; return true;
    case optBadChecksum: s.faults.badChecksum = true; return true;
    case optStray: s.faults.stray = true; return true;
    case optE5: s.faults.e5 = true; return true;
    case optZero: s.faults.zero = true; return true;
    case optSilent: s.faults.silent = true; return true;
    case optNack: s.faults.nack = true; return true;
    case optHangup: s.faults.hangupMidframe = true; return true;
    case optFlood: s.faults.flood = true; return true;
    case optStall: s.faults.stallMidpayload = true; return true;
    case optStallMs:
      if (!parseNumber(arg, 0, 600000, v)) return false;
      s.timing.stallMs = static_cast<int>(v);
      return true;
    case optAnnounce: return parseNumber(arg, 0, 65535, s.faults.announce);
    case optUnknownStatus: s.faults.unknownStatus = true; return true;
    case optUnplugAfter: return parseNumber(arg, 0, 86400000L, s.faults.unplugAfterMs);
    case optUnplugAfterWrites: return parseNumber(arg, 1, 1000000L, s.faults.unplugAfterAcks);
    case optReplugAfter: return parseNumber(arg, 0, 86400000L, s.faults.replugAfterMs);
    case optConverters: set.converters = arg; return !set.converters.empty();
    case optMeters: set.meters = arg; return !set.meters.empty();
    default: return false;
  }
}

// When --unplug-after and --replug-after are due; -1 once done or never.
struct PlugPlan {
  int64_t unplugAtMs;
  int64_t replugAtMs;
};

// Pulls the device out or puts it back when due. False when the new PTY cannot be linked.
bool playPlug(SimPort& port, SimSession& s, PlugPlan& plan, int64_t now) {
  const bool written = s.faults.unplugAfterAcks > 0 && s.writesAccepted >= unsigned(s.faults.unplugAfterAcks);
  if (written) s.faults.unplugAfterAcks = 0;  // once
  if ((plan.unplugAtMs >= 0 && now >= plan.unplugAtMs) || written) {
    simPortClose(port);
    simSessionUnplug(s);
    plan.unplugAtMs = -1;
    if (s.faults.replugAfterMs >= 0) plan.replugAtMs = now + s.faults.replugAfterMs;
  }
  if (plan.replugAtMs >= 0 && now >= plan.replugAtMs) {
    plan.replugAtMs = -1;
    std::string err;
    if (!simPortReopen(port, err)) {
      std::fprintf(stderr, "quarn-sim: %s\n", err.c_str());
      return false;
    }
  }
  return true;
}

void serve(SimPort& port, SimSession& s, int64_t endMs) {
  uint8_t buf[4096];
  SimAction action;
  PlugPlan plan{s.faults.unplugAfterMs >= 0 ? monotonicMs() + s.faults.unplugAfterMs : -1, -1};
  while (!stopRequested) {
    int64_t now = monotonicMs();
    if (endMs > 0 && now >= endMs) break;
    if (!playPlug(port, s, plan, now)) return;
    int64_t due = simSessionNextDueMs(s);
    int timeout = 10;
    if (s.faults.flood) timeout = 1;
    if (due >= 0 && due - now < timeout) timeout = due > now ? static_cast<int>(due - now) : 0;
    bool clientOpen = false;
    size_t n = simPortRead(port, buf, sizeof buf, timeout, clientOpen);
    now = monotonicMs();
    if (port.reopened) {  // the tty hung up: what was half read or queued is gone with it
      port.reopened = false;
      simSessionUnplug(s);
    }
    if (n) simSessionFeed(s, buf, n, now);
    simSessionTick(s, now);
    while (simSessionTakeDue(s, now, action)) {
      if (action.hangup) {
        std::string err;
        if (!simPortReopen(port, err)) {
          std::fprintf(stderr, "quarn-sim: %s\n", err.c_str());
          return;
        }
        simSessionResetInput(s);
        continue;
      }
      // Without a client, frames would only pile up in the PTY for the next one.
      if (!clientOpen) continue;
      size_t w = simPortWrite(port, action.bytes, action.n);
      if (w < action.n && !s.faults.flood)
        std::fprintf(stderr, "quarn-sim: wrote %zu of %zu bytes\n", w, action.n);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  auto session = std::make_unique<SimSession>();
  SimSession& s = *session;
  Settings set;
  simSessionInit(s, SimRole::wired, simDefaultFaults(), simDefaultTiming());
  int id = 0;
  while ((id = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
    if (id == optHelp) {
      std::fputs(usageText, stdout);
      return 0;
    }
    if (id == '?' || !applyOption(id, optarg, set, s)) {
      if (id != '?') {
        const char* name = "?";
        for (const struct option* o = longOptions; o->name; ++o)
          if (o->val == id) name = o->name;
        std::fprintf(stderr, "quarn-sim: bad value for --%s: %s\n", name, optarg ? optarg : "");
      }
      std::fputs(usageText, stderr);
      return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "quarn-sim: unexpected argument %s\n", argv[optind]);
    return 2;
  }
  if (s.faults.replugAfterMs >= 0 && s.faults.unplugAfterMs < 0 && s.faults.unplugAfterAcks <= 0) {
    std::fputs("quarn-sim: --replug-after needs --unplug-after or --unplug-after-writes\n", stderr);
    return 2;
  }
  s.role = set.role;
  if (!set.meters.empty()) {
    std::string err;
    if (!simLoadMeters(set.meters, s, err)) {
      std::fprintf(stderr, "quarn-sim: --meters: %s\n", err.c_str());
      return 2;
    }
  }
  if (!set.converters.empty()) {
    std::string err;
    if (!simLoadSite(set.converters, s, err)) {
      std::fprintf(stderr, "quarn-sim: --converters: %s\n", err.c_str());
      return 2;
    }
  }

  FILE* transcript = nullptr;
  if (!set.transcript.empty()) {
    transcript = std::fopen(set.transcript.c_str(), "a");
    if (!transcript) {
      std::fprintf(stderr, "quarn-sim: cannot open %s: %s\n", set.transcript.c_str(),
                   std::strerror(errno));
      return 1;
    }
    s.transcript = transcript;
  }

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  SimPort port;
  std::string err;
  if (!set.device.empty() && (!set.link.empty() || s.faults.unplugAfterMs >= 0 || s.faults.unplugAfterAcks > 0)) {
    std::fputs("quarn-sim: --device excludes --link and --unplug-after\n", stderr);
    return 2;
  }
  if (set.link.empty() && set.device.empty()) set.link = defaultLinkPath();
  const bool opened = set.device.empty() ? simPortOpen(port, set.link, err) : simPortOpenDevice(port, set.device, err);
  if (!opened) {
    std::fprintf(stderr, "quarn-sim: %s\n", err.c_str());
    return 1;
  }
  if (!set.device.empty()) {
    std::printf("%s\n", set.device.c_str());
  } else if (s.role == SimRole::wired) {
    std::printf("%s\n", set.link.c_str());
  } else {
    std::printf("%s|USB\\VID_10C4&PID_0003\\ZJ%s|Wireless M-Bus stick (simulated)\n",
                set.link.c_str(), set.serial.c_str());
  }
  std::fflush(stdout);

  int64_t endMs = set.exitAfter > 0 ? monotonicMs() + set.exitAfter * 1000 : 0;
  serve(port, s, endMs);
  simPortClose(port);
  if (transcript) std::fclose(transcript);
  return 0;
}
