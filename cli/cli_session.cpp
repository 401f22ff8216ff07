// quarn-cli's link: the window's sessions and commands, waited for by the port layer.
#include "cli/cli_session.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/config_file.h"
#include "codec/answer_wait.h"
#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "converter/slot_data.h"
#include "serial/com_port_list.h"
#include "dongle/dongle_frame.h"
#include "serial/serial_port.h"
#include "serial/serial_trace.h"
#include "text/hex_text.h"
#include "text/printable_text.h"

namespace {

// Converters send about once a second; this many rounds of the wait show what the stick hears.
constexpr int defaultHearMs = 10000;
constexpr int secondConverterMs = 2500;

// Why a port did not open, in quarn-cli's own words; path as the user gave it.
std::string openFailureText(const std::string& path, const SerialPort& port) {
  const int error = port.lastError;
  if (port.failedStep != serialStepOpen && port.failedStep != serialStepNone) {
    const char* step = serialStepMessage(port.failedStep);
    return "cannot set up " + path + ": " + (step != nullptr ? step : std::strerror(error));
  }
  if (error == ENOENT) return "port " + path + " not found";
  if (error == EBUSY || error == EWOULDBLOCK) return "cannot open " + path + ": in use by another program";
#ifndef _WIN32
  struct stat info {};
  if ((error == EACCES || error == EPERM) && stat(path.c_str(), &info) == 0) {
    const group* g = getgrgid(info.st_gid);
    const passwd* owner = getpwuid(info.st_uid);
    const std::string groupName = g != nullptr ? g->gr_name : std::to_string(info.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
    const std::string owned = "owner " + (owner != nullptr ? std::string(owner->pw_name) : std::to_string(info.st_uid)) +
                              ":" + groupName + ", mode " + mode;
    gid_t groups[256];
    const int count = getgroups(256, groups);
    bool member = getegid() == info.st_gid;
    for (int i = 0; i < count; ++i) member = member || groups[i] == info.st_gid;
    if (groupName == "dialout" && !member)
      return "cannot open " + path + ": not in the dialout group (" + owned + ")";
    return "cannot open " + path + ": permission denied (" + owned + ")";
  }
#endif
  return "cannot open " + path + ": " + std::strerror(error);
}

bool sameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

}  // namespace

CliSession::CliSession(CliView& view, CliLog& log)
    : view_(view),
      log_(log),
      records_(new CliRecords()),
      targets_{view_, log_, records_->options, records_->nearby},
      wired_(records_->frames, targets_, records_->link, records_->converterKeys),
      dongle_(records_->dongleRecord, records_->dongleLink, records_->link, records_->heard, targets_),
      transport_(wired_.port, records_->dongleLink),
      channel_{records_->link, records_->frames, transport_, log_, &wired_.port.answerWait} {
  records_->converterKeys.count = 0;
  records_->meterKeys.count = 0;
}

CliSession::~CliSession() {
  wired_.close();
  closeSerialPort(records_->dongleLink.port);
}

void CliSession::loadHome(const std::string& home) {
  ConfigFile config;
  readConfigFile((home + "/" + configFileName).c_str(), config);
  if (config.configLoaded) view_.keyText = config.configLine2;
  loadKeyList((home + "/dongleKeys").c_str(), records_->converterKeys);
  loadKeyList((home + "/meterKeys").c_str(), records_->meterKeys);
}

bool CliSession::linkLost() {
  std::string notice = wireless() ? dongle_.takeLostNotice() : wired_.takeLostNotice();
  if (!notice.empty()) lost_ = notice;
  return !lost_.empty();
}

bool CliSession::wakeOnce(long long untilMs) {
  const int fd = wireless() ? dongle_.descriptor() : wired_.descriptor();
  if (fd < 0) return false;
  long long due = wireless() ? dongle_.deadline() : wired_.deadline();
  if (due < 0 || due > untilMs) due = untilMs;
  long long left = due - answerClockMs();
  if (left < 0) left = 0;
  if (waitForInput(fd, int(left)) < 0) return false;
  // Readable, hung up or a bound due: the session sorts out which.
  if (wireless()) dongle_.wake(log_);
  else wired_.wake(log_);
  return !linkLost();
}

WaitEnd CliSession::waitFor(const std::function<bool()>& done, long long untilMs) {
  while (!done()) {
    if (linkLost()) return WaitEnd::lost;
    if (answerClockMs() >= untilMs) return WaitEnd::noAnswer;
    if (!wakeOnce(untilMs)) return linkLost() ? WaitEnd::lost : WaitEnd::noAnswer;
  }
  return WaitEnd::answered;
}

WaitEnd CliSession::waitAnswer(int timeoutMs, const std::function<bool()>& landed) {
  AnswerWait& wait = answerWait();
  // Not armed right after sending: the message was not written (the log's last line says why).
  if (!wait.armed) {
    if (linkLost()) return WaitEnd::lost;
    notSent_ = log_.lastLine.empty() ? "not sent" : log_.lastLine;
    return WaitEnd::notSent;
  }
  if (timeoutMs > 0) {
    wait.boundMs = timeoutMs;
    wait.deadlineMs = answerClockMs() + timeoutMs;
  }
  // A little past the bound, so the session's own "No answer" line is logged before the wait ends.
  const long long until = wait.deadlineMs + 500;
  const WaitEnd end = waitFor([&wait] { return !wait.armed; }, until);
  if (end != WaitEnd::answered) return end;
  // The wait is also cleared when its bound passes or the link goes: neither is an answer.
  if (linkLost()) return WaitEnd::lost;
  if (wait.expired) return WaitEnd::noAnswer;
  return landed() ? WaitEnd::answered : WaitEnd::noAnswer;
}

int CliSession::connectWired(const std::string& port, bool secured, int timeoutMs, std::string& error) {
  ConverterLinkState& link = records_->link;
  link.linkMode = LinkMode::wired;
  link.securedMessages = secured;
  channel_.answerWait = &wired_.port.answerWait;
  // A name from the list, as the port dialog offers it; anything with "/" or "\" in it
  // is a device path.
  std::string path = port;
  if (port.find_first_of("/\\") == std::string::npos) {
    static ComPortList list;
    listComPorts(list);
    const int index = comPortIndex(list, port.c_str());
    if (index < 0) {
      error = "port " + port + " not found (quarn-cli ports lists them)";
      return exitPort;
    }
    path = comPortPath(list, index);
  }
  const size_t slash = path.find_last_of("/\\");
  wired_.port.portName = slash == std::string::npos ? path : path.substr(slash + 1);
  wired_.port.devicePath = path;
  log_.logTimestamp();
  const WiredConnectResult result = wired_.connect(log_);
  if (!result.connected) {
    error = openFailureText(path, wired_.port.port);
    return exitPort;
  }
  const int idWrites = view_.idWrites;
  const WaitEnd end = waitAnswer(timeoutMs, [this, idWrites] { return view_.idWrites != idWrites; });
  if (end == WaitEnd::lost || end == WaitEnd::notSent) {
    error = end == WaitEnd::lost ? lost_ : "REQ_UD2 not sent on " + wired_.port.portName + ": " + notSent_;
    return exitPort;
  }
  if (end != WaitEnd::answered) {
    error = "no identification answer to REQ_UD2 on " + wired_.port.portName;
    return exitNoAnswer;
  }
  return exitDone;
}

int CliSession::connectWireless(const std::string& converterId, int timeoutMs, std::string& error) {
  ConverterLinkState& link = records_->link;
  link.linkMode = LinkMode::wireless;
  link.securedMessages = true;  // over the air every message is secured, as in the window
  channel_.answerWait = &dongle_.watch.answerWait;
  // The search traces on standard output, which carries the command's result here: its lines
  // go to standard error with --verbose, else nowhere.
  int found, opened = 0;
  {
    SerialTraceRedirect trace(log_.verbose ? stderr : nullptr);
    found = findDongle(records_->dongleRecord, records_->dongleLink);
    if (found) opened = dongle_.open();
  }
  if (!found) {
    error = "USB wireless MBUS dongle not found";
    return exitPort;
  }
  if (!opened) {  // found but not opened: busy, or not the user's to open
    const char* cause = serialOpenCauseText(records_->dongleLink.port.lastError);
    error = "Error opening COM port " + donglePortName(records_->dongleRecord) + (cause ? std::string(" ") + cause : "");
    return exitPort;
  }
  log_.logTimestamp();
  if (!dongle_.writeStart()) {
    error = "cannot write to the stick on " + donglePortName(records_->dongleRecord);
    return exitPort;
  }
  // Converters are heard as they send; wait until the wanted one is heard or time is up.
  const long long until = answerClockMs() + (timeoutMs > 0 ? timeoutMs : defaultHearMs);
  const HeardConverterList& heard = records_->heard;
  auto find = [&heard, &converterId]() {
    int chosen = -1;
    for (int i = 0; i < heard.count; ++i) {
      char label[9];
      partnerLabel(heard.entries[i], label);
      if (converterId.empty() || sameIgnoringCase(label, converterId.c_str())) chosen = i;
    }
    return chosen;
  };
  WaitEnd end = waitFor([&] { return find() >= 0; }, until);
  // Without an ID, a little longer shows whether a second converter is about: they send about
  // once a second.
  if (end == WaitEnd::answered && converterId.empty()) {
    const long long more = answerClockMs() + secondConverterMs;
    end = waitFor([&heard] { return heard.count > 1; }, more < until ? more : until);
    if (end == WaitEnd::noAnswer) end = WaitEnd::answered;
  }
  if (end == WaitEnd::lost) {
    error = lost_;
    return exitPort;
  }
  const int chosen = find();
  std::string names;
  for (int i = 0; i < heard.count; ++i) {
    char label[9];
    partnerLabel(heard.entries[i], label);
    names += std::string(i ? ", " : "") + label;
  }
  if (heard.count == 0) {
    error = "no converter heard over the air";
    return exitNoAnswer;
  }
  if (converterId.empty() && heard.count > 1) {
    error = "more than one converter heard (" + names + "); choose one with --converter ID";
    return exitUsage;
  }
  if (chosen < 0) {
    error = "converter " + converterId + " not heard; heard: " + names;
    return exitNoAnswer;
  }
  uint8_t frame[partnerFrameSize];
  showIdentity(choosePartner(heard.entries[chosen], link, records_->converterKeys, frame), view_);
  if (!dongle_.writePartner(frame, sizeof frame)) {
    error = "cannot write to the stick on " + donglePortName(records_->dongleRecord);
    return exitPort;
  }
  return exitDone;
}

void CliSession::prepareCommand() {
  if (!forcedKey_.empty()) view_.keyText = forcedKey_;
  notSent_.clear();
  log_.logTimestamp();
}

WaitEnd CliSession::getSlot(int s, int timeoutMs) {
  prepareCommand();
  const int writes = view_.slotWrites[s];
  getSlotData(s, view_, channel_);
  return waitAnswer(timeoutMs, [this, s, writes] { return view_.slotWrites[s] != writes; });
}

WaitEnd CliSession::setSlot(int s, const SlotFields& fields, const WiredSettings& wired, int timeoutMs) {
  prepareCommand();
  view_.slots[s] = fields;
  view_.wired = wired;
  setSlotData(s, view_, channel_);
  return waitAnswer(timeoutMs, [] { return true; });
}

WaitEnd CliSession::readOptions(int timeoutMs) {
  prepareCommand();
  // Known again only once an answer stored the bits.
  records_->options.known = false;
  requestConverterOptions(view_, channel_);
  return waitAnswer(timeoutMs, [this] { return records_->options.known; });
}

WaitEnd CliSession::writeOptions(const bool bits[8], int timeoutMs) {
  prepareCommand();
  confirmConverterOptions(bits, records_->options, view_, channel_);
  return waitAnswer(timeoutMs, [] { return true; });
}

WaitEnd CliSession::scan(int timeoutMs) {
  prepareCommand();
  const uint32_t answers = records_->nearby.answers;
  scanNearby(view_, channel_);
  return waitAnswer(timeoutMs, [this, answers] { return records_->nearby.answers != answers; });
}

int CliSession::openStick(std::string& error) {
  records_->link.linkMode = LinkMode::wireless;
  records_->link.securedMessages = true;
  channel_.answerWait = &dongle_.watch.answerWait;
  int found;
  {
    SerialTraceRedirect trace(log_.verbose ? stderr : nullptr);
    found = findDongle(records_->dongleRecord, records_->dongleLink);
  }
  if (!found || !dongle_.open()) {
    error = "USB wireless MBUS dongle not found";
    return exitPort;
  }
  log_.logTimestamp();
  if (!dongle_.writeStart()) {
    error = "cannot write to the stick on " + donglePortName(records_->dongleRecord);
    return exitPort;
  }
  return exitDone;
}

int CliSession::partnerWith(int heardIndex, std::string& error) {
  if (heardIndex < 0 || heardIndex >= records_->heard.count) {
    error = "not heard";
    return exitNoAnswer;
  }
  uint8_t frame[partnerFrameSize];
  showIdentity(choosePartner(records_->heard.entries[heardIndex], records_->link, records_->converterKeys, frame),
               view_);
  if (!dongle_.writePartner(frame, sizeof frame)) {
    error = linkLost() ? lost_ : "cannot write to the stick on " + donglePortName(records_->dongleRecord);
    return exitPort;
  }
  return exitDone;
}
