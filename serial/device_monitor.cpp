// Watches udev for serial ports coming and going, so a run notices its stick unplugged and back.
#include "serial/device_monitor.h"

#include <cstring>
#include <fcntl.h>
#include <libudev.h>

namespace {

DeviceEventKind eventKind(const char* action) {
  if (action == nullptr) return deviceUnchanged;
  if (std::strcmp(action, "add") == 0) return deviceAdded;
  if (std::strcmp(action, "remove") == 0) return deviceRemoved;
  return deviceUnchanged;  // change, bind, move: the port stays where it was
}

}  // namespace

int openDeviceMonitor(DeviceMonitor& monitor) {
  closeDeviceMonitor(monitor);
  monitor.system = udev_new();
  if (monitor.system == nullptr) return 0;
  // "udev", not "kernel": these events come after the rules ran, so the node and the
  // database entry a later search reads are already in place.
  monitor.monitor = udev_monitor_new_from_netlink(monitor.system, "udev");
  if (monitor.monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.monitor) < 0) {
    closeDeviceMonitor(monitor);
    return 0;
  }
  const int fd = udev_monitor_get_fd(monitor.monitor);
  const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    closeDeviceMonitor(monitor);
    return 0;
  }
  monitor.handle = fd;
  return 1;
}

int readDeviceEvents(DeviceMonitor& monitor, DeviceEvent* events, int capacity) {
  if (monitor.monitor == nullptr || events == nullptr) return 0;
  const int bound = capacity < deviceEventsPerRead ? capacity : deviceEventsPerRead;
  int kept = 0;
  for (int taken = 0; taken < bound; ++taken) {
    udev_device* device = udev_monitor_receive_device(monitor.monitor);
    if (device == nullptr) break;  // nothing more waiting
    const DeviceEventKind kind = eventKind(udev_device_get_action(device));
    DeviceEvent& event = events[kept];
    if (kind != deviceUnchanged && describeSerialDevice(device, kind == deviceAdded ? 1 : 0, event.port)) {
      event.kind = kind;
      ++kept;
    }
    udev_device_unref(device);
  }
  return kept;
}

void closeDeviceMonitor(DeviceMonitor& monitor) {
  if (monitor.monitor != nullptr) udev_monitor_unref(monitor.monitor);
  if (monitor.system != nullptr) udev_unref(monitor.system);
  monitor.monitor = nullptr;
  monitor.system = nullptr;
  monitor.handle = -1;
}
