// Ports coming and going found by setting a fresh port list against the last one: how the
// Windows half of the device monitor turns "something changed" into adds and removes.
#pragma once

#include "serial/device_monitor.h"

constexpr int watchedPortsMax = 32;  // ports followed at once; more are left out

struct WatchedPorts {
  PortInfo ports[watchedPortsMax];
  int count = 0;
};

// Adds port to list unless its device path is there already. Returns 0 when the list is full.
int addWatchedPort(WatchedPorts& list, const PortInfo& port);

// Gives the listed port with port's device path port's instance identifier and description (a
// QUARN_VIRTUAL_PORTS entry naming a port the system lists without its USB identity). Returns 0
// when no listed port has that path.
int lendIdentity(WatchedPorts& list, const PortInfo& port);

// Sets now against known by device path: ports gone come first as removes, then new ones as
// adds, at most capacity events in all. known is brought up to date for each event written, so
// what did not fit comes out of the next call. Returns the count written.
int diffWatchedPorts(WatchedPorts& known, const WatchedPorts& now, DeviceEvent* events, int capacity);
