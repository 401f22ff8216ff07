// Watches for serial ports coming and going, so a run notices its stick unplugged and back: udev
// on Linux, WM_DEVICECHANGE on Windows (device_monitor_win.cpp).
#pragma once
#include <cstdint>

#include "serial/port_discovery.h"

struct udev;
struct udev_monitor;

struct DeviceMonitor {
  udev* system = nullptr;
  udev_monitor* monitor = nullptr;
  // What the event loop watches: udev's descriptor, readable when events wait, or on Windows an
  // event set when the system reports a device change; -1 when not watching.
  intptr_t handle = -1;
};

enum DeviceEventKind : int { deviceUnchanged = 0, deviceAdded = 1, deviceRemoved = 2 };

// One port that came or went. An added port carries name, path, instance identifier and
// description as discovery gives them; a removed one only its name and path.
struct DeviceEvent {
  DeviceEventKind kind;
  PortInfo port;
};

// Events taken from the socket in one call at most, so a storm cannot hold the event loop.
constexpr int deviceEventsPerRead = 8;

// Opens a non-blocking monitor on udev's tty events, or on Windows a hidden window that receives
// WM_DEVICECHANGE (the thread's message loop must dispatch its messages). Returns 1 when
// watching; 0 when that is not available (a container without udevd): the caller then simply
// does not watch.
int openDeviceMonitor(DeviceMonitor& monitor);

// Takes pending events without waiting, at most capacity (and deviceEventsPerRead) of them,
// and keeps the serial ports' adds and removes in events. Returns how many were kept; other
// events are dropped. What is left over keeps the handle signalled. Windows tells only that
// something changed: the ports are listed again and set against the last list.
int readDeviceEvents(DeviceMonitor& monitor, DeviceEvent* events, int capacity);

// Frees everything; closing a monitor that never opened is harmless.
void closeDeviceMonitor(DeviceMonitor& monitor);
