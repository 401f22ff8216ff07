// Finds serial ports: udev tty devices that are real serial ports, then QUARN_VIRTUAL_PORTS.
#include "serial/port_discovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libudev.h>

#include "serial/port_platform.h"
#include "serial/usb_instance_id.h"

namespace {

int startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0 ? 1 : 0;
}

// Serial ports by kernel name: ttyUSB and ttyACM always, ttyS only with a UART behind it.
int serialNameKind(const char* name) {
  if (name == nullptr) return 0;
  if (startsWith(name, "ttyUSB") || startsWith(name, "ttyACM")) return 1;
  if (startsWith(name, "ttyS")) return 2;
  return 0;  // virtual consoles, ptys and the rest
}

// As pyserial decides: USB and ACM ports need a device behind them; a ttyS port counts only when
// its parent is not the platform bus, where the 8250 driver registers ports without a UART.
int isRealSerialPort(udev_device* device) {
  const int kind = serialNameKind(udev_device_get_sysname(device));
  if (kind == 0) return 0;
  udev_device* parent = udev_device_get_parent(device);
  if (parent == nullptr) return 0;
  if (kind == 2) {
    const char* subsystem = udev_device_get_subsystem(parent);
    if (subsystem != nullptr && std::strcmp(subsystem, "platform") == 0) return 0;
  }
  return 1;
}

unsigned hexAttribute(udev_device* device, const char* attribute) {
  const char* text = udev_device_get_sysattr_value(device, attribute);
  return text ? static_cast<unsigned>(std::strtoul(text, nullptr, 16)) : 0u;
}

void describeName(udev_device* device, PortInfo& port) {
  std::memset(&port, 0, sizeof port);
  const char* name = udev_device_get_sysname(device);
  copyCut(port.name, sizeof port.name, name);
  const char* node = udev_device_get_devnode(device);
  if (node != nullptr) {
    copyCut(port.devicePath, sizeof port.devicePath, node);
  } else {
    std::snprintf(port.devicePath, sizeof port.devicePath, "/dev/%s", name ? name : "");
  }
}

void describeIdentity(udev_device* device, PortInfo& port) {
  const char* name = udev_device_get_sysname(device);
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb != nullptr) {
    formatUsbInstanceId(port.instanceId, sizeof port.instanceId, hexAttribute(usb, "idVendor"),
                        hexAttribute(usb, "idProduct"), udev_device_get_sysattr_value(usb, "serial"));
    copyCut(port.description, sizeof port.description, udev_device_get_sysattr_value(usb, "product"));
  } else {
    std::snprintf(port.instanceId, sizeof port.instanceId, "TTY\\%s", name ? name : "");
  }
  if (port.description[0] == '\0') {
    const char* model = udev_device_get_property_value(device, "ID_MODEL_FROM_DATABASE");
    if (model == nullptr) model = udev_device_get_property_value(device, "ID_MODEL");
    copyCut(port.description, sizeof port.description, model);
  }
}

int pathFits(const char* path) {
  return path != nullptr && std::strlen(path) < portTextSize ? 1 : 0;
}

}  // namespace

int describeSerialDevice(udev_device* device, int present, PortInfo& port) {
  if (present ? !isRealSerialPort(device) : !serialNameKind(udev_device_get_sysname(device))) return 0;
  const char* node = udev_device_get_devnode(device);
  if (node != nullptr && !pathFits(node)) return 0;
  describeName(device, port);
  if (present) describeIdentity(device, port);
  return 1;
}

int enumerateSystemPorts(PortVisitor visit, void* context, PortSourceReport report) {
  udev* system = udev_new();
  if (system == nullptr) {
    if (report) report(portSourceNoUdev, context);
    return portSourceNoUdev;
  }
  udev_enumerate* scan = udev_enumerate_new(system);
  if (scan == nullptr || udev_enumerate_add_match_subsystem(scan, "tty") < 0 ||
      udev_enumerate_scan_devices(scan) < 0) {
    if (scan != nullptr) udev_enumerate_unref(scan);
    udev_unref(system);
    if (report) report(portSourceNoDeviceSet, context);
    return portSourceNoDeviceSet;
  }
  if (report) report(portSourceUdev, context);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan)) {
    udev_device* device = udev_device_new_from_syspath(system, udev_list_entry_get_name(entry));
    if (device == nullptr) continue;
    PortInfo port;
    if (describeSerialDevice(device, 1, port)) visit(port, context);
    udev_device_unref(device);
  }
  udev_enumerate_unref(scan);
  udev_unref(system);
  return portSourceUdev;
}

int virtualPortPaths(const char* first, PortInfo& port) {
  copyCut(port.devicePath, sizeof port.devicePath, first);
  const char* slash = std::strrchr(port.devicePath, '/');
  const char* name = slash ? slash + 1 : port.devicePath;
  if (*name == '\0') return 0;
  copyCut(port.name, sizeof port.name, name);
  return 1;
}
