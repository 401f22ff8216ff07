// One run's link to the converter: every record a run has, both sessions, the transport and the
// command channel, assembled here and nowhere else. The window and quarn-cli hold one each and
// wake it on its descriptor; nothing here waits.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "codec/answer_wait.h"
#include "codec/converter_identity.h"
#include "codec/key_list.h"
#include "codec/link_state.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "converter/settings_view.h"
#include "converter/slot_data.h"
#include "dongle/dongle_link.h"
#include "link/dongle_session.h"
#include "link/heard_converters.h"
#include "link/link_session.h"
#include "link/status_transport.h"
#include "link/wired_session.h"
#include "mbus/link_frame.h"
#include "serial/device_monitor.h"

// How a converter command ended: its answer came, its bound passed, the request never left,
// or the link went.
enum class CommandEnd { answered, noAnswer, notSent, lost };

struct CommandOutcome {
  CommandEnd end = CommandEnd::answered;
  std::string reason;  // notSent: the log's "Not sent: ..." line without its break; lost: the notice
};

// What one wake-up of the link brought.
struct LinkEvents {
  bool answer = false;     // the command waited for was answered
  bool noAnswer = false;   // its bound passed, or the answer did not carry what it should
  bool lost = false;       // the port hung up; lostText() says which
  bool stickBack = false;  // a stick that had gone is open and told its partner again
  bool ended = false;      // the command waited for ended: answered, no answer or lost
};

// The records of one run; the key lists are several MB, so they live on the heap.
struct LinkRecords {
  ConverterLinkState state;
  ConverterKeyList converterKeys;
  MeterKeyList meterKeys;
  LinkFrameBuffer frames{};
  DongleRecord dongleRecord{};
  DongleLink dongleLink;
  HeardConverterList heard{};
  NearbyDeviceList nearby{};
  HeardMeterTable meters{};  // every meter the stick delivers frames of
  ConverterOptions options;
};

class ConverterLink {
public:
  // view and log are the run's seams: the window's widgets and log, or quarn-cli's records.
  // A transport given replaces the ports as the way out, for measuring the command path alone.
  ConverterLink(SettingsView& view, Log& log, MessageTransport* transport = nullptr);
  ~ConverterLink();
  ConverterLink(const ConverterLink&) = delete;
  ConverterLink& operator=(const ConverterLink&) = delete;

  LinkRecords& records() { return *records_; }
  // The run's settings fields: what commands send and answers fill.
  SettingsView& view() { return view_; }
  const LinkRecords& records() const { return *records_; }
  bool wireless() const { return records_->state.linkMode == LinkMode::wireless; }
  // The session chosen: its descriptor, deadline, wake-up and loss.
  LinkSession& session() { return *session_; }

  // Connecting. By wire: opens the port (name for the log, path to open) at 2400 8E1 and sends
  // REQ_UD2; the answer is a command like the others.
  WiredConnectResult connectWired(const std::string& portName, const std::string& devicePath);
  // Closes the wired port; its name stays for a reconnect.
  void disconnectWired() { wired_.close(); }
  const std::string& wiredPortName() const { return wired_.port.portName; }
  const std::string& wiredDevicePath() const { return wired_.port.devicePath; }
  void chooseWired(bool secured);
  // To the stick: finds it (the one wanted names, by serial, port name or path; any when
  // empty), opens it, then writeStart() makes it deliver. Each false on failure.
  bool findStick(const std::string& wanted = std::string());
  // A stick that is there but cannot be opened logs stickOpenErrorText().
  bool openStick();
  // "Error opening COM port <stick's port>", then the cause the user can mend after separator.
  std::string stickOpenErrorText(const char* separator = " ") const;
  void chooseWireless();
  int writeStart() { return dongle_.writeStart(); }
  // The stick opened again after close(), started and told its partner again.
  bool reopenStick() { return dongle_.reopen() == 1; }
  // Makes heard converter i the partner and tells the stick; false when the frame did not go.
  bool choosePartner(int i);
  // The same for an entry as listed earlier: a full list rolls, so an index could name another.
  bool choosePartner(const HeardConverter& entry);
  void close();

  // The event loop: the descriptor to watch now (-1: none), when to wake without input (-1:
  // never), the wake-up itself and what it brought.
  int descriptor(long long nowMs) const;
  // The open port's descriptor even while it rests, for a loop that waits on it alone.
  int portDescriptor() const { return session_->descriptor(); }
  long long deadline() const;
  LinkEvents wake();
  // A look for a stick that has gone; true when it is back.
  bool lookForStick() { return dongle_.lookForStick(log_) == 1; }
  void deviceRemoved(const char* devicePath) { dongle_.deviceRemoved(devicePath, log_); }
  // A udev event about a serial port: the stick's removal is its loss. True when the port added
  // is the recorded stick, which a gone stick's link then looks for at once.
  bool deviceChanged(const DeviceEvent& event);
  bool stickGone() const { return dongle_.lost(); }
  // For a run whose link is the wire: when event is a stick plugged in, what to tell the user
  // ("Stick ZJ... was plugged in on ..." and how to use it); empty otherwise.
  std::string stickArrivedText(const DeviceEvent& event) const;
  // The last lost-connection notice, kept until the next connect.
  const std::string& lostText() const { return lost_; }
  // Takes a notice the sessions left since the last call: non-empty once per loss.
  std::string takeLostNotice();

  // Converter commands. Each sends at once and returns; settled() is true once it ended and
  // outcome() says how. Not sent and lost are settled before they return.
  void getData(int s);
  void setData(int s);
  void readOptions();
  void writeOptions(const bool bits[optionCount]);
  void scan();
  // The meter keys of slot s's Device ID from the meter key list; false when none is known.
  bool keyFind(int s);
  // The bound of the answer just awaited, in place of the link's own.
  void boundAnswer(int ms);
  long long answerDeadline() const { return answerWait().deadlineMs; }
  bool settled();
  const CommandOutcome& outcome() const { return outcome_; }
  // What the last command was, as its outcome's line names it ("Get Data of slot 1").
  const std::string& commandName() const { return command_; }
  // Why the last command's message did not leave the port; empty when it left, or when it was
  // refused before reaching the port.
  const std::string& portRefusal() const { return transport_.notSent; }

  // Answered records: what the last Get Data, option bits or Scan answer left.
  SlotFields slot(int s) { return view_.readSlot(s); }
  WiredSettings wiredSettings() { return view_.readWired(); }
  // The converter's identity, known once REQ_UD2 was answered or a partner chosen.
  ConverterIdentity identity() const;

  // The sessions' answer waits, for a status line or a test that looks at them.
  const AnswerWait& answerWait() const;
  WiredSession& wiredSession() { return wired_; }
  const WiredSession& wiredSession() const { return wired_; }
  DongleSession& dongleSession() { return dongle_; }
  StatusTransport& transport() { return transport_; }
  // Where the sessions' answer events go.
  AnswerEventSink& answerSink() { return matcher_; }
  // What converter answers change, for a test that hands the window an answer directly.
  AnswerTargets& targets() { return targets_; }
  CommandChannel& channel() { return channel_; }

private:
  // Before a command: the transport's reason cleared, the log stamped.
  void prepare(const std::string& command);
  // After a command was handed to the channel (sent: what it returned; s: the slot a Get Data
  // asks for): settled at once when it did not leave.
  void sendCommand(int s, int sent);
  AnswerWait& answerWait();
  // The session chosen when the run connected.
  void chooseSession(LinkSession& session);

  SettingsView& view_;
  Log& log_;
  std::unique_ptr<LinkRecords> records_;
  AnswerTargets targets_;
  WiredSession wired_;
  DongleSession dongle_;
  StatusTransport transport_;
  CommandChannel channel_;
  AnswerMatcher matcher_;
  LinkSession* session_;
  std::string lost_;
  bool pending_ = false;
  CommandOutcome outcome_;
  std::string command_;
};
