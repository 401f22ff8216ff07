// A job's hold on one converter link: connecting, each converter command sent and waited for
// through the face's waiter, every wait bounded. The jobs of jobs/ are written against this.
//
// The job layer in short: a job is a plain function that takes records (a settings file, a site
// plan, a timeout) and a JobLink, sends its commands one by one and returns a typed result (per
// step: sent, acknowledged, read back, differences; the exit code it means). It never prints and
// never opens a window. A face runs it: quarn-cli with a PortWaiter (blocking on the port), the
// window with a waiter that runs the FOX event loop until the link was woken, so the window stays
// live while a job waits. A new job (survey, keys check) is one more function in jobs/ taking a
// JobLink; both faces then only add how they ask for it and how they show its result.
#pragma once
#include <functional>
#include <string>

#include <memory>

#include "jobs/job_waiter.h"
#include "jobs/record_view.h"
#include "link/converter_link.h"

// Exit codes, the same for every job and both faces (quarn-cli exits with them).
enum JobCode : int {
  exitDone = 0,
  exitFailed = 1,    // anything else: a file not written, a key not found
  exitUsage = 2,     // command line or settings file refused; nothing was sent
  exitPort = 3,      // port or stick not found, not openable, or lost
  exitNoAnswer = 4,  // the converter did not answer in time (or a secured request was refused)
  exitMismatch = 5,  // what was read back differs from what was written
};

// How a wait for the converter ended.
using WaitEnd = CommandEnd;

class JobLink {
public:
  JobLink(ConverterLink& link, Log& log, JobWaiter& waiter) : link_(link), log_(log), waiter_(waiter) {}

  ConverterLink& link() { return link_; }
  LinkRecords& records() { return link_.records(); }
  Log& log() { return log_; }

  // A key given for the run wins over the key lists for every command.
  void forceKey(const std::string& keyText) { forcedKey_ = keyText; }

  // Opens the port (a name from the port list or a device path) at 2400 8E1 and sends
  // REQ_UD2; waits for the identity. Returns an exit code; why in error.
  int connectWired(const std::string& port, bool secured, int timeoutMs, std::string& error);
  // Finds and opens the stick, starts it, waits up to timeoutMs for converters to be heard and
  // makes the one with converterId (8 hex digits, or the only one heard) the partner.
  int connectWireless(const std::string& converterId, int timeoutMs, std::string& error, bool traceVerbose = false);

  // Each sends one converter command and waits for its answer (bound: timeoutMs, or the link's
  // own when 0). The answer is in the link's records and view.
  WaitEnd getSlot(int s, int timeoutMs);
  WaitEnd setSlot(int s, const SlotFields& fields, const WiredSettings& wired, int timeoutMs);
  WaitEnd readOptions(int timeoutMs);
  WaitEnd writeOptions(const bool bits[optionCount], int timeoutMs);
  WaitEnd scan(int timeoutMs);

  // The stick found, opened and started once (exit code; why in error); woken until done()
  // holds or untilMs passes; a converter of the heard list made the partner.
  int openStick(std::string& error, bool traceVerbose = false);
  // The stick openStick uses: its serial, port name or device path; empty for the only one.
  std::string stick;
  // Once it is open: "ZJ000042 on ttyACM0", for the faces to name the stick they used.
  std::string stickUsed;
  WaitEnd listen(const std::function<bool()>& done, long long untilMs) { return waitFor(done, untilMs); }
  int partnerWith(int heardIndex, std::string& error);

  bool wireless() const { return link_.wireless(); }
  const std::string& lostText() const { return link_.lostText(); }
  // Why the last request did not leave: the log's "Not sent: ..." line.
  const std::string& notSentText() const { return link_.outcome().reason; }

private:
  WaitEnd waitFor(const std::function<bool()>& done, long long untilMs);
  WaitEnd waitAnswer(int timeoutMs);
  bool linkLost();
  void prepareCommand();

  ConverterLink& link_;
  Log& log_;
  JobWaiter& waiter_;
  std::string forcedKey_;
};

// Owns a link of its own with records for a view: a job run apart from any window (quarn-cli,
// a site run's own links, the tests).
struct OwnLink {
  OwnLink(Log& log, JobWaiter& waiter);
  std::unique_ptr<RecordView> view;
  std::unique_ptr<ConverterLink> converter;
  JobLink link;
};
