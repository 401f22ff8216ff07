// QuarnWindow's side of the links: the event loop wakes the window when a link's port is
// readable, when a link's bound is due or when the system reports a serial port coming or going.
// Each wake-up's log lines go in as one batch.
#include "app/quarn_window.h"
#include "app/survey_tab.h"

#include <cstdint>
#include <type_traits>

#include "link/outcome_text.h"
#include "serial/link_wait.h"
#include "text/printable_text.h"

namespace {
// FOX names what it watches by its platform's input handle: a descriptor, or a Windows handle.
template <typename Handle>
Handle inputHandle(intptr_t handle) {
  if constexpr (std::is_pointer_v<Handle>)
    return reinterpret_cast<Handle>(handle);
  else
    return static_cast<Handle>(handle);
}
}  // namespace

FXInputHandle QuarnWindow::asInputHandle(intptr_t handle) { return inputHandle<FXInputHandle>(handle); }

void QuarnWindow::watchInput(intptr_t& watched, intptr_t handle, FXSelector id) {
  if (watched == handle) return;
  if (watched >= 0) getApp()->removeInput(asInputHandle(watched), INPUT_READ);
  watched = handle;
  if (handle >= 0) getApp()->addInput(asInputHandle(handle), INPUT_READ, this, id);
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
  const LinkWait wait = linkWait(link_.descriptor(now), link_.deadline());
  const LinkWait none{-1, -1};
  const bool wireless = link_.wireless();
  const LinkWait& wired = wireless ? none : wait;
  const LinkWait& stick = wireless ? wait : none;
  watchInput(watchedWired, wired.handle, ID_INPUT_WIRED);
  watchInput(watchedDongle, stick.handle, ID_INPUT_DONGLE);
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
  showWakeOutcome(events);
  surveyTab->linkWoke();
  followLinks();
  jobWoken_ = 1;  // a job waiting on the window's link goes on
  return wakeEnds(writesBefore) ? 1 : 0;
}

void QuarnWindow::showWakeOutcome(const LinkEvents& events) {
  if (events.ended) showStatus(outcomeText(link_.commandName(), link_.outcome()));
  else if (events.lost) showStatus(link_.lostText());
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
      showStatus("Connected via wireless dongle ID: [" + printableText(dongleSerial(link_.records().dongleRecord)) +
                 "]");
  }
  showWakeOutcome(events);
  surveyTab->linkWoke();
  followLinks();
  jobWoken_ = 1;
  return wakeEnds(writesBefore) ? 1 : 0;
}

long QuarnWindow::onTimeoutDongle(FXObject* sender, FXSelector sel, void* ptr) {
  return onInputDongle(sender, sel, ptr);
}

long QuarnWindow::onInputDevices(FXObject* sender, FXSelector sel, void* ptr) {
  DeviceEvent events[deviceEventsPerRead];
  const int count = readDeviceEvents(deviceMonitor, events, deviceEventsPerRead);
  const bool added = deviceEvents(events, count);
  // A stick that is back is looked for at once rather than at the next round.
  if (added && link_.stickGone()) return onInputDongle(sender, sel, ptr);
  return 0;
}

bool QuarnWindow::deviceEvents(const DeviceEvent* events, int count) {
  bool added = false;
  std::string arrived;
  {
    LogBatch batch(communicationLog);
    for (int i = 0; i < count; ++i) {
      added = link_.deviceChanged(events[i]) || added;
      const std::string text = link_.stickArrivedText(events[i]);
      if (!text.empty()) logOwnLine(*this, text + "\n", logStylePlain);
      if (!text.empty()) arrived = text;
    }
  }
  const std::string lost = link_.takeLostNotice();
  if (!lost.empty()) showStatus(lost);
  else if (!arrived.empty()) showStatus(arrived);
  followLinks();
  return added;
}
