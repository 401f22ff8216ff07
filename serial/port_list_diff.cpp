// Ports coming and going found by setting a fresh port list against the last one.
#include "serial/port_list_diff.h"

#include <cstring>

namespace {

int indexOfPath(const WatchedPorts& list, const char* devicePath) {
  for (int i = 0; i < list.count; ++i)
    if (std::strcmp(list.ports[i].devicePath, devicePath) == 0) return i;
  return -1;
}

void removeAt(WatchedPorts& list, int index) {
  for (int i = index; i + 1 < list.count; ++i) list.ports[i] = list.ports[i + 1];
  --list.count;
}

}  // namespace

int addWatchedPort(WatchedPorts& list, const PortInfo& port) {
  if (indexOfPath(list, port.devicePath) >= 0) return 1;
  if (list.count >= watchedPortsMax) return 0;
  list.ports[list.count++] = port;
  return 1;
}

int lendIdentity(WatchedPorts& list, const PortInfo& port) {
  const int at = indexOfPath(list, port.devicePath);
  if (at < 0) return 0;
  std::memcpy(list.ports[at].instanceId, port.instanceId, sizeof port.instanceId);
  std::memcpy(list.ports[at].description, port.description, sizeof port.description);
  return 1;
}

int diffWatchedPorts(WatchedPorts& known, const WatchedPorts& now, DeviceEvent* events, int capacity) {
  int written = 0;
  for (int i = 0; i < known.count && written < capacity;) {
    if (indexOfPath(now, known.ports[i].devicePath) >= 0) {
      ++i;
      continue;
    }
    events[written].kind = deviceRemoved;
    events[written].port = known.ports[i];
    ++written;
    removeAt(known, i);
  }
  for (int i = 0; i < now.count && written < capacity; ++i) {
    if (indexOfPath(known, now.ports[i].devicePath) >= 0) continue;
    if (!addWatchedPort(known, now.ports[i])) break;
    events[written].kind = deviceAdded;
    events[written].port = now.ports[i];
    ++written;
  }
  return written;
}
