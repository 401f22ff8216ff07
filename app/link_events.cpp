// QuarnWindow's side of the links: the event loop wakes the window when a link's port is
// readable, when a link's bound is due or when udev reports a serial port coming or going.
// Each wake-up's log lines go in as one batch.
#include "app/quarn_window.h"
#include "text/printable_text.h"

#ifdef _WIN32
namespace {
// How often an open port is looked at on Windows: 120 bytes at the wire's 2400 baud, and well
// within the stick's 4096-byte driver queue at the rate radio frames arrive.
constexpr long long linkPollMs = 50;

// While a link's port is open its bound timer comes at least every linkPollMs; a closed port
// keeps only its own bound, and with neither no timer runs.
long long pollDue(int descriptor, long long deadline, long long nowMs) {
  if (descriptor < 0) return deadline;
  const long long due = nowMs + linkPollMs;
  return deadline >= 0 && deadline < due ? deadline : due;
}
}  // namespace
#else
void QuarnWindow::watchDescriptor(int& watched, int descriptor, FXSelector id) {
  if (watched == descriptor) return;
  if (watched >= 0) getApp()->removeInput(watched, INPUT_READ);
  watched = descriptor;
  if (descriptor >= 0) getApp()->addInput(descriptor, INPUT_READ, this, id);
}
#endif

void QuarnWindow::armBound(FXSelector id, long long dueMs) {
  if (dueMs < 0) {
    getApp()->removeTimeout(this, id);
    return;
  }
  const long long left = dueMs - answerClockMs();
  getApp()->addTimeout(this, id, left > 0 ? static_cast<FXuint>(left) : 1u);
}

#ifdef _WIN32
// Windows: FOX waits on handles, not descriptors, and a serial port's handle signals nothing
// useful when bytes arrive (overlapped waits misbehave on emulated ports). An open port is
// therefore looked at on a timer, the bound timer brought forward to linkPollMs: a wake-up that
// finds nothing queued costs one ClearCommError, and no timer runs while no port is open.
void QuarnWindow::followLinks() {
  watchedWired = wiredSession.descriptor();
  watchedDongle = dongleSession.descriptor();
  const long long now = answerClockMs();
  armBound(ID_TIMER_WIRED, pollDue(watchedWired, wiredSession.deadline(), now));
  armBound(ID_TIMER_DONGLE, pollDue(watchedDongle, dongleSession.deadline(), now));
  armBound(ID_TIMER_LOG_SCROLL, communicationLog.followDueMs());
}
#else
void QuarnWindow::followLinks() {
  watchDescriptor(watchedWired, wiredSession.descriptor(), ID_INPUT_WIRED);
  watchDescriptor(watchedDongle, dongleSession.descriptorToWatch(answerClockMs()), ID_INPUT_DONGLE);
  armBound(ID_TIMER_WIRED, wiredSession.deadline());
  armBound(ID_TIMER_DONGLE, dongleSession.deadline());
  armBound(ID_TIMER_LOG_SCROLL, communicationLog.followDueMs());
}
#endif

long QuarnWindow::onTimeoutLogScroll(FXObject*, FXSelector, void*) {
  communicationLog.followIfDue();
  followLinks();
  return 0;
}

// "Handled" makes FOX refresh every widget; the log repaints itself, so only a wake-up that
// wrote another widget asks for that.
bool QuarnWindow::wakeEnds(unsigned long writesBefore) { return widgetWrites != writesBefore; }

long QuarnWindow::onInputWired(FXObject*, FXSelector, void*) {
  const unsigned long writesBefore = widgetWrites;
  {
    LogBatch batch(communicationLog);
    wiredSession.wake(*this);
  }
  const std::string lost = wiredSession.takeLostNotice();
  if (!lost.empty()) showStatus(lost);
  followLinks();
  return wakeEnds(writesBefore) ? 1 : 0;
}

long QuarnWindow::onTimeoutWired(FXObject* sender, FXSelector sel, void* ptr) {
  return onInputWired(sender, sel, ptr);
}

long QuarnWindow::onInputDongle(FXObject*, FXSelector, void*) {
  const unsigned long writesBefore = widgetWrites;
  {
    LogBatch batch(communicationLog);
    if (dongleSession.lost()) {
      if (dongleSession.lookForStick(*this))
        showStatus("Connected via wireless dongle ID: [" + printableText(dongleSerial(state->dongleRecord).c_str()) +
                   "]");
    } else {
      dongleSession.wake(*this);
    }
  }
  const std::string lost = takeLostNotice(dongleWatch);
  if (!lost.empty()) showStatus(lost);
  followLinks();
  return wakeEnds(writesBefore) ? 1 : 0;
}

long QuarnWindow::onTimeoutDongle(FXObject* sender, FXSelector sel, void* ptr) {
  return onInputDongle(sender, sel, ptr);
}

long QuarnWindow::onInputDevices(FXObject* sender, FXSelector sel, void* ptr) {
  DeviceEvent events[deviceEventsPerRead];
  const int count = readDeviceEvents(deviceMonitor, events, deviceEventsPerRead);
  bool added = false;
  {
    LogBatch batch(communicationLog);
    for (int i = 0; i < count; ++i) {
      if (events[i].kind == deviceRemoved) dongleSession.deviceRemoved(events[i].port.devicePath, *this);
      if (events[i].kind == deviceAdded && isRecordedDongle(state->dongleRecord, events[i].port)) added = true;
    }
  }
  const std::string lost = takeLostNotice(dongleWatch);
  if (!lost.empty()) showStatus(lost);
  followLinks();
  // A stick that is back is looked for at once rather than at the next round.
  if (added && dongleSession.lost()) return onInputDongle(sender, sel, ptr);
  return 0;
}
