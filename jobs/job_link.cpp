// A job's link: connecting, and each command sent and waited for through the face's waiter.
#include "jobs/job_link.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/answer_wait.h"
#include "serial/com_port_list.h"
#include "serial/serial_port.h"
#include "serial/serial_trace.h"
#include "settings/site_check.h"
#include "text/printable_text.h"

namespace {

// Converters send about once a second; this many rounds of the wait show what the stick hears.
constexpr int defaultHearMs = 10000;
constexpr int secondConverterMs = 2500;
// A wait ends a little past the answer's bound, so the session's own "No answer" line is logged.
constexpr int pastBoundMs = 500;

// Why a port did not open, in the jobs' own words; path as the user gave it.
std::string openFailureText(const std::string& path, const SerialPort& port) {
  const int error = port.lastError;
  if (port.failedStep != serialStepOpen && port.failedStep != serialStepNone) {
    const char* step = serialStepMessage(port.failedStep);
    return "cannot set up " + path + ": " + (step != nullptr ? step : std::strerror(error));
  }
  if (error == ENOENT) return "port " + path + " not found";
  if (error == EBUSY || error == EWOULDBLOCK) return "cannot open " + path + ": in use by another program";
  const std::string refused = openPermissionText(path.c_str(), error);
  if (!refused.empty()) return "cannot open " + path + ": " + refused;
  return "cannot open " + path + ": " + std::strerror(error);
}

bool sameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// The heard converters' labels, comma-separated; chosen: the one matching converterId (or the
// last heard when it is empty), -1 for none.
std::string heardLabels(const HeardConverterList& heard, const std::string& converterId, int& chosen) {
  std::string names;
  chosen = -1;
  for (int i = 0; i < heard.count; ++i) {
    char label[9];
    partnerLabel(heard.entries[i], label);
    if (converterId.empty() || sameIgnoringCase(label, converterId.c_str())) chosen = i;
    names += std::string(i ? ", " : "") + label;
  }
  return names;
}

}  // namespace

bool PortWaiter::waitOnce(ConverterLink& link, long long untilMs) {
  const int fd = link.portDescriptor();
  if (fd < 0) return false;
  long long due = link.deadline();
  if (due < 0 || due > untilMs) due = untilMs;
  long long left = due - answerClockMs();
  if (left < 0) left = 0;
  if (waitForInput(fd, int(left)) < 0) return false;
  // Readable, hung up or a bound due: the link sorts out which.
  link.wake();
  return true;
}

OwnLink::OwnLink(Log& log, JobWaiter& waiter)
    : view(new RecordView()), converter(new ConverterLink(*view, log)), link(*converter, log, waiter) {}

bool JobLink::linkLost() {
  link_.takeLostNotice();
  return !link_.lostText().empty();
}

WaitEnd JobLink::waitFor(const std::function<bool()>& done, long long untilMs) {
  while (!done()) {
    if (linkLost()) return WaitEnd::lost;
    if (answerClockMs() >= untilMs) return WaitEnd::noAnswer;
    if (!waiter_.waitOnce(link_, untilMs)) return linkLost() ? WaitEnd::lost : WaitEnd::noAnswer;
    if (linkLost()) return WaitEnd::lost;
  }
  return WaitEnd::answered;
}

WaitEnd JobLink::waitAnswer(int timeoutMs) {
  if (link_.settled()) return link_.outcome().end;
  link_.boundAnswer(timeoutMs);
  const WaitEnd end = waitFor([this] { return link_.settled(); }, link_.answerDeadline() + pastBoundMs);
  return end == WaitEnd::answered ? link_.outcome().end : end;
}

int JobLink::connectWired(const std::string& port, bool secured, int timeoutMs, std::string& error) {
  link_.chooseWired(secured);
  // A name from the list, as the port dialog offers it; anything with "/" or "\" in it
  // is a device path.
  std::string path = port;
  static ComPortList list;
  listComPorts(list);
  if (port.find_first_of("/\\") != std::string::npos) {
    // A path that is there but no port the search lists (/dev/tty, /dev/null, a file) would take
    // the request and be left at 2400 baud; a missing one is said by the open below.
    std::vector<std::string> paths(list.paths, list.paths + list.count);
    struct stat info {};
    if (stat(port.c_str(), &info) == 0 && !leadsToListedPort(port, paths)) {
      error = printableText(port) + ": not a serial port (quarn-cli ports lists them)";
      return exitPort;
    }
  } else {
    const int index = comPortIndex(list, port.c_str());
    if (index < 0) {
      error = "port " + port + " not found (quarn-cli ports lists them)";
      return exitPort;
    }
    path = comPortPath(list, index);
  }
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  log_.logTimestamp();
  if (!link_.connectWired(name, path).connected) {
    error = openFailureText(path, link_.wiredSession().port.port);
    return exitPort;
  }
  const WaitEnd end = waitAnswer(timeoutMs);
  if (end == WaitEnd::lost || end == WaitEnd::notSent) {
    error = end == WaitEnd::lost ? lostText() : "REQ_UD2 not sent on " + name + ": " + notSentText();
    return exitPort;
  }
  if (end != WaitEnd::answered) {
    error = "no identification answer to REQ_UD2 on " + name;
    return exitNoAnswer;
  }
  return exitDone;
}

int JobLink::connectWireless(const std::string& converterId, int timeoutMs, std::string& error, bool traceVerbose) {
  const int opened = openStick(error, traceVerbose);
  if (opened != exitDone) return opened;
  const std::string stickName = donglePortName(link_.records().dongleRecord);
  // Converters are heard as they send; wait until the wanted one is heard or time is up.
  const long long until = answerClockMs() + (timeoutMs > 0 ? timeoutMs : defaultHearMs);
  const HeardConverterList& heard = link_.records().heard;
  int chosen = -1;
  WaitEnd end = waitFor(
      [&] {
        heardLabels(heard, converterId, chosen);
        return chosen >= 0;
      },
      until);
  // Without an ID, a little longer shows whether a second converter is about: they send about
  // once a second.
  if (end == WaitEnd::answered && converterId.empty()) {
    const long long more = answerClockMs() + secondConverterMs;
    end = waitFor([&heard] { return heard.count > 1; }, more < until ? more : until);
    if (end == WaitEnd::noAnswer) end = WaitEnd::answered;
  }
  if (end == WaitEnd::lost) {
    error = lostText();
    return exitPort;
  }
  const std::string names = heardLabels(heard, converterId, chosen);
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
  if (!link_.choosePartner(chosen)) {
    error = "cannot write to the stick on " + stickName;
    return exitPort;
  }
  return exitDone;
}

void JobLink::prepareCommand() {
  if (!forcedKey_.empty()) link_.view().setConverterKeyText(forcedKey_);
  log_.logTimestamp();
}

WaitEnd JobLink::getSlot(int s, int timeoutMs) {
  prepareCommand();
  link_.getData(s);
  return waitAnswer(timeoutMs);
}

WaitEnd JobLink::setSlot(int s, const SlotFields& fields, const WiredSettings& wired, int timeoutMs) {
  prepareCommand();
  link_.view().writeSlot(s, fields);
  link_.view().writeWired(wired);
  link_.setData(s);
  return waitAnswer(timeoutMs);
}

WaitEnd JobLink::readOptions(int timeoutMs) {
  prepareCommand();
  link_.readOptions();
  return waitAnswer(timeoutMs);
}

WaitEnd JobLink::writeOptions(const bool bits[optionCount], int timeoutMs) {
  prepareCommand();
  link_.writeOptions(bits);
  return waitAnswer(timeoutMs);
}

WaitEnd JobLink::scan(int timeoutMs) {
  prepareCommand();
  link_.scan();
  return waitAnswer(timeoutMs);
}

// "ZJ000042 on ttyACM0, ZJ000043 on ttyACM1" for the sticks listed.
static std::string stickLabels(const PortInfo* sticks, int count) {
  std::string labels;
  for (int i = 0; i < count && i < stickChoiceMax; ++i)
    labels += (labels.empty() ? "" : ", ") + printableText(sticks[i].instanceId + dongleInstancePrefixLength) + " on " +
              printableText(sticks[i].name);
  return labels;
}

int JobLink::openStick(std::string& error, bool traceVerbose) {
  link_.chooseWireless();
  // The search traces on standard output, which carries the command's result here: its lines
  // go to standard error when verbose, else nowhere.
  PortInfo sticks[stickChoiceMax];
  const int present = listSticks(sticks, stickChoiceMax);
  if (stick.empty() && present > 1) {
    error = "more than one stick (" + stickLabels(sticks, present) + "); choose one with --stick SERIAL";
    return exitUsage;
  }
  // Two sticks may carry one serial: then only the port tells them apart.
  int named = 0;
  for (int i = 0; i < present && i < stickChoiceMax; ++i) named += isWantedStick(sticks[i], stick.c_str()) ? 1 : 0;
  if (!stick.empty() && named > 1) {
    error = "more than one stick is " + stick + " (" + stickLabels(sticks, present) +
            "); choose one by its port with --wireless --port NAME";
    return exitUsage;
  }
  bool found, opened = false;
  {
    SerialTraceRedirect trace(traceVerbose ? stderr : nullptr);
    found = link_.findStick(stick);
    if (found) opened = link_.openStick();
  }
  if (!found) {
    error = stick.empty() ? "USB wireless MBUS dongle not found"
                          : "stick " + stick + " not found" + (present > 0 ? "; sticks: " + stickLabels(sticks, present) : "");
    return exitPort;
  }
  const std::string stickName = donglePortName(link_.records().dongleRecord);
  if (!opened) {  // found but not opened: busy, or not the user's to open
    const char* cause = serialOpenCauseText(link_.records().dongleLink.port.lastError);
    error = "Error opening COM port " + stickName + (cause ? std::string(" ") + cause : "");
    return exitPort;
  }
  log_.logTimestamp();
  if (!link_.writeStart()) {
    error = "cannot write to the stick on " + stickName;
    return exitPort;
  }
  // Where several may be plugged in, the faces say which one was used.
  stickUsed = dongleSerial(link_.records().dongleRecord) + " on " + stickName;
  return exitDone;
}

int JobLink::partnerWith(int heardIndex, std::string& error) {
  if (heardIndex < 0 || heardIndex >= link_.records().heard.count) {
    error = "not heard";
    return exitNoAnswer;
  }
  if (!link_.choosePartner(heardIndex)) {
    error = !lostText().empty() ? lostText() : "cannot write to the stick on " + donglePortName(link_.records().dongleRecord);
    return exitPort;
  }
  return exitDone;
}
