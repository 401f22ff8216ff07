// The list of serial ports offered for the wired connection, in plain byte order.
#pragma once
#include <cstdint>

constexpr int comPortSlots = 100;
constexpr int comPortNameSize = 32;   // name and terminator; longer names are left out
constexpr int comPortPathSize = 255;

struct ComPortList {
  char names[comPortSlots][comPortNameSize];
  char paths[comPortSlots][comPortPathSize];  // device path of the port in the same slot
  int32_t count;
};

// Lists udev serial ports and virtual ports; returns the count (0 to 100). A 101st port is left
// out. Slots are sorted by all 32 bytes compared as unsigned bytes (COM10 before COM2).
int listComPorts(ComPortList& list);

// The name in slot index; an index above 99 gives slot 99, a negative one slot 0.
const char* comPortName(const ComPortList& list, int index);

// The device path in slot index, clamped like comPortName.
const char* comPortPath(const ComPortList& list, int index);

// The slot whose name is exactly name, or -1 when no listed port has it (or name is empty).
int comPortIndex(const ComPortList& list, const char* name);
