// Finds serial ports: udev tty devices that are real serial ports, then QUARN_VIRTUAL_PORTS.
#pragma once
#include <cstddef>
#include <cstdint>

struct udev_device;

constexpr size_t portTextSize = 255;  // every discovered text is cut to fit, never overrun

struct PortInfo {
  char name[portTextSize];        // kernel name or last path component, e.g. ttyUSB0
  char devicePath[portTextSize];  // what to open, e.g. /dev/ttyUSB0
  char instanceId[portTextSize];  // USB\VID_xxxx&PID_xxxx\serial for USB ports
  char description[portTextSize]; // USB product string or udev model
};

enum PortSourceStatus : int {
  portSourceUdev = 0,       // udev was searched
  portSourceNoUdev = 1,     // no udev context: the system's ports are unknown
  portSourceNoDeviceSet = 2 // the tty devices could not be enumerated
};

using PortVisitor = void (*)(const PortInfo& port, void* context);
// Told how the udev part went before any port is visited.
using PortSourceReport = void (*)(int status, void* context);

// Calls visit for every udev serial port, in udev's order, then for every virtual port in the
// order given. Ports whose device path does not fit portTextSize are skipped (a cut path opens
// the wrong file). Returns how the udev part went; virtual ports are visited in any case.
int enumeratePorts(PortVisitor visit, void* context, PortSourceReport report = nullptr);

// Describes one udev tty device as the listing does. With present 1 the device must be a real
// serial port and its USB identity is filled in; with present 0 (a device already gone, whose
// sysfs parents cannot be read) only the kernel name decides and only name and path are
// filled. Returns 0, leaving port alone, for other devices and for a path that does not fit.
int describeSerialDevice(udev_device* device, int present, PortInfo& port);

// The environment variable naming extra ports: "path" or "path|instanceId|description", ";"-separated.
extern const char* const virtualPortsVariable;

// Visits the entries of a QUARN_VIRTUAL_PORTS text (nullptr visits none).
void enumerateVirtualPorts(const char* text, PortVisitor visit, void* context);
