// Windows has no udev: the monitor never opens, and a run that lost its stick finds it again
// through the session's periodic search instead of an event.
#include "serial/device_monitor.h"

int openDeviceMonitor(DeviceMonitor& monitor) {
  closeDeviceMonitor(monitor);
  return 0;
}

int readDeviceEvents(DeviceMonitor&, DeviceEvent*, int) { return 0; }

void closeDeviceMonitor(DeviceMonitor& monitor) {
  monitor.system = nullptr;
  monitor.monitor = nullptr;
  monitor.fd = -1;
}
