// One quarn-cli run's link to the converter: the window's ConverterLink, woken by the port
// layer's waitForInput instead of the event loop, with every wait bounded.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cli/cli_records.h"
#include "link/converter_link.h"

// Exit codes, documented in --help and the manual page.
enum CliExit : int {
  exitDone = 0,
  exitFailed = 1,    // anything else: a file not written, a key not found
  exitUsage = 2,     // command line or settings file refused; nothing was sent
  exitPort = 3,      // port or stick not found, not openable, or lost
  exitNoAnswer = 4,  // the converter did not answer in time (or a secured request was refused)
  exitMismatch = 5,  // what was read back differs from what was written
};

// How a wait for the converter ended: its answer came, its bound passed, the request never left
// (notSentText() says why), or the link went.
using WaitEnd = CommandEnd;

class CliSession {
public:
  CliSession(CliView& view, CliLog& log);
  // Closes the ports the way the window does: a PTY left exclusive locks out the next run.
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  LinkRecords& records() { return link_.records(); }
  ConverterLink& link() { return link_; }
  CliView& view() { return view_; }

  // Loads the initial key text (Quarnconfig.txt line 2) and both key lists from home.
  void loadHome(const std::string& home);
  // A key given on the command line wins over the key lists for every command.
  void forceKey(const std::string& keyText) { forcedKey_ = keyText; }

  // Opens the port (a name from the port list or a device path) at 2400 8E1 and sends
  // REQ_UD2; waits for the identity. Returns an exit code; why in error.
  int connectWired(const std::string& port, bool secured, int timeoutMs, std::string& error);
  // Finds and opens the stick, starts it, waits up to timeoutMs for converters to be heard and
  // makes the one with converterId (8 hex digits, or the only one heard) the partner.
  int connectWireless(const std::string& converterId, int timeoutMs, std::string& error);

  // Each sends one converter command and waits for its answer (bound: timeoutMs, or the link's
  // own when 0). Get Data for slot s; answered only when the slot's fields were filled.
  WaitEnd getSlot(int s, int timeoutMs);
  WaitEnd setSlot(int s, const SlotFields& fields, const WiredSettings& wired, int timeoutMs);
  WaitEnd readOptions(int timeoutMs);
  WaitEnd writeOptions(const bool bits[8], int timeoutMs);
  WaitEnd scan(int timeoutMs);

  // A site run: the stick found, opened and started once (exit code; why in error), then woken
  // until done() holds or untilMs (answerClockMs) passes, and each converter from the heard list
  // made the partner in turn without reopening anything.
  int openStick(std::string& error);
  // The stick openStick uses: its serial, port name or device path; empty for the only one.
  std::string stick;
  WaitEnd listen(const std::function<bool()>& done, long long untilMs) { return waitFor(done, untilMs); }
  int partnerWith(int heardIndex, std::string& error);

  bool wireless() const { return link_.wireless(); }
  // Text of the last lost-connection notice, if the link went.
  const std::string& lostText() const { return link_.lostText(); }
  // Why the last request did not leave: the log's "Not sent: ..." line.
  const std::string& notSentText() const { return link_.outcome().reason; }

private:
  // Wakes the link on its descriptor until done() or the wait ends; never longer than untilMs.
  WaitEnd waitFor(const std::function<bool()>& done, long long untilMs);
  // Waits for the command just sent to settle (bound: timeoutMs, or the link's own when 0).
  WaitEnd waitAnswer(int timeoutMs);
  bool wakeOnce(long long untilMs);
  bool linkLost();
  void prepareCommand();

  CliView& view_;
  CliLog& log_;
  ConverterLink link_;
  std::string forcedKey_;
};
