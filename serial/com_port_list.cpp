// The list of serial ports offered for the wired connection, in plain byte order.
#include "serial/com_port_list.h"

#include <cstring>

#include "serial/port_discovery.h"

namespace {

void addPort(const PortInfo& port, void* context) {
  ComPortList& list = *static_cast<ComPortList*>(context);
  if (list.count >= comPortSlots) return;
  const size_t nameLength = std::strlen(port.name);
  const size_t pathLength = std::strlen(port.devicePath);
  if (nameLength >= static_cast<size_t>(comPortNameSize)) return;
  if (pathLength >= static_cast<size_t>(comPortPathSize)) return;
  // The name and its terminator only: the rest of the slot keeps what it held.
  std::memcpy(list.names[list.count], port.name, nameLength + 1);
  std::memcpy(list.paths[list.count], port.devicePath, pathLength + 1);
  ++list.count;
}

void swapSlots(ComPortList& list, int a, int b) {
  char name[comPortNameSize];
  std::memcpy(name, list.names[a], sizeof name);
  std::memcpy(list.names[a], list.names[b], sizeof name);
  std::memcpy(list.names[b], name, sizeof name);
  char path[comPortPathSize];
  std::memcpy(path, list.paths[a], sizeof path);
  std::memcpy(list.paths[a], list.paths[b], sizeof path);
  std::memcpy(list.paths[b], path, sizeof path);
}

int clampIndex(int index) {
  if (index > comPortSlots - 1) return comPortSlots - 1;
  if (index < 0) return 0;
  return index;
}

}  // namespace

int listComPorts(ComPortList& list) {
  list.count = 0;
  enumeratePorts(addPort, &list);
  for (int i = 0; i < list.count; ++i) {
    for (int j = i + 1; j < list.count; ++j) {
      if (std::memcmp(list.names[i], list.names[j], comPortNameSize) > 0) swapSlots(list, i, j);
    }
  }
  return list.count;
}

const char* comPortName(const ComPortList& list, int index) { return list.names[clampIndex(index)]; }

const char* comPortPath(const ComPortList& list, int index) { return list.paths[clampIndex(index)]; }

int comPortIndex(const ComPortList& list, const char* name) {
  if (name == nullptr || name[0] == '\0') return -1;
  const int count = list.count < comPortSlots ? list.count : comPortSlots;
  for (int i = 0; i < count; ++i) {
    if (std::strncmp(list.names[i], name, comPortNameSize) == 0) return i;
  }
  return -1;
}
