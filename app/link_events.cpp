// QuarnWindow's side of the links: the event loop wakes the window when a link's port is
// readable, when a link's bound is due or when udev reports a serial port coming or going.
// Each wake-up's log lines go in as one batch.
#include "app/quarn_window.h"
#include "app/survey_tab.h"

#include <cstdint>
#include <type_traits>

#include "serial/link_wait.h"
#include "text/printable_text.h"

namespace {
// FOX names what it watches by its platform's input handle: a descriptor, or a Windows handle
// (where the waiter hands out none).
template <typename Handle>
Handle inputHandle(int descriptor) {
  if constexpr (std::is_pointer_v<Handle>)
    return reinterpret_cast<Handle>(static_cast<intptr_t>(descriptor));
  else
    return static_cast<Handle>(descriptor);
}
}  // namespace

FXInputHandle QuarnWindow::asInputHandle(int descriptor) { return inputHandle<FXInputHandle>(descriptor); }

void QuarnWindow::watchDescriptor(int& watched, int descriptor, FXSelector id) {
  if (watched == descriptor) return;
  if (watched >= 0) getApp()->removeInput(asInputHandle(watched), INPUT_READ);
  watched = descriptor;
  if (descriptor >= 0) getApp()->addInput(asInputHandle(descriptor), INPUT_READ, this, id);
}

void QuarnWindow::armBound(FXSelector id, long long dueMs) {
  if (dueMs < 0) {
    getApp()->removeTimeout(this, id);
    return;
  }
  const long long left = dueMs - answerClockMs();
  getApp()->addTimeout(this, id, left > 0 ? static_cast<FXuint>(left) : 1u);
}

void QuarnWindow::followLinks() {
  const long long now = answerClockMs();
  // A run opens one port only: the one its link mode names.
  const LinkWait wait = linkWait(link_.portDescriptor(), link_.descriptor(now), link_.deadline(), now);
  const LinkWait none{-1, -1};
  const bool wireless = link_.wireless();
  const LinkWait& wired = wireless ? none : wait;
  const LinkWait& stick = wireless ? wait : none;
  watchDescriptor(watchedWired, wired.descriptor, ID_INPUT_WIRED);
  watchDescriptor(watchedDongle, stick.descriptor, ID_INPUT_DONGLE);
  armBound(ID_TIMER_WIRED, wired.dueMs);
  armBound(ID_TIMER_DONGLE, stick.dueMs);
  armBound(ID_TIMER_LOG_SCROLL, communicationLog.followDueMs());
}

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
  LinkEvents events;
  {
    LogBatch batch(communicationLog);
    events = link_.wake();
  }
  if (events.lost) showStatus(link_.lostText());
  surveyTab->linkWoke();
  followLinks();
  return wakeEnds(writesBefore) ? 1 : 0;
}

long QuarnWindow::onTimeoutWired(FXObject* sender, FXSelector sel, void* ptr) {
  return onInputWired(sender, sel, ptr);
}

long QuarnWindow::onInputDongle(FXObject*, FXSelector, void*) {
  const unsigned long writesBefore = widgetWrites;
  LinkEvents events;
  {
    LogBatch batch(communicationLog);
    events = link_.wake();
    if (events.stickBack)
      showStatus("Connected via wireless dongle ID: [" + printableText(dongleSerial(link_.records().dongleRecord).c_str()) +
                 "]");
  }
  if (events.lost) showStatus(link_.lostText());
  surveyTab->linkWoke();
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
    for (int i = 0; i < count; ++i) added = link_.deviceChanged(events[i]) || added;
  }
  const std::string lost = link_.takeLostNotice();
  if (!lost.empty()) showStatus(lost);
  followLinks();
  // A stick that is back is looked for at once rather than at the next round.
  if (added && link_.stickGone()) return onInputDongle(sender, sel, ptr);
  return 0;
}
