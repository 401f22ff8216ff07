// Windows port discovery: the present devices of the "Ports" setup class through SetupAPI
// (instance identifier, PortName, device description); where SetupAPI lists none (Wine), the
// registry's HARDWARE\DEVICEMAP\SERIALCOMM list; then QUARN_VIRTUAL_PORTS.
#include "serial/port_discovery.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const virtualPortsVariable = "QUARN_VIRTUAL_PORTS";

namespace {

// Copies at most outSize-1 bytes of src and always terminates.
void copyCut(char* out, size_t outSize, const char* src, size_t srcLen) {
  size_t n = srcLen < outSize - 1 ? srcLen : outSize - 1;
  if (n > 0) std::memcpy(out, src, n);
  out[n] = '\0';
}

void copyCut(char* out, size_t outSize, const char* src) {
  copyCut(out, outSize, src ? src : "", src ? std::strlen(src) : 0);
}

// "\\.\COM7" for COM7; 0 when it does not fit.
int devicePathOf(const char* name, char (&path)[portTextSize]) {
  const int written = std::snprintf(path, sizeof path, "\\\\.\\%s", name);
  return written > 0 && static_cast<size_t>(written) < sizeof path ? 1 : 0;
}

int isComName(const char* name) { return std::strncmp(name, "COM", 3) == 0 ? 1 : 0; }

// A registry string value cut to fit and terminated; 0 when it cannot be read.
int readStringValue(HKEY key, const char* value, char (&out)[portTextSize]) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
    return 0;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 0;
  buffer[size < sizeof buffer ? size : sizeof buffer - 1] = '\0';
  copyCut(out, sizeof out, buffer);
  return 1;
}

// Visits every present "Ports" device that has a COM port name. Returns 1 when SetupAPI
// yielded at least one port.
int visitSetupApiPorts(HDEVINFO devices, PortVisitor visit, void* context) {
  int visited = 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    PortInfo port;
    std::memset(&port, 0, sizeof port);
    char instance[1024] = {};
    if (!SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof instance, nullptr)) continue;
    copyCut(port.instanceId, sizeof port.instanceId, instance);

    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const int named = readStringValue(key, "PortName", port.name);
    RegCloseKey(key);
    if (!named || !isComName(port.name) || !devicePathOf(port.name, port.devicePath)) continue;

    char description[1024] = {};
    if (SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_DEVICEDESC, nullptr,
                                          reinterpret_cast<BYTE*>(description), sizeof description - 1, nullptr)) {
      copyCut(port.description, sizeof port.description, description);
    }
    visit(port, context);
    visited = 1;
  }
  return visited;
}

// The system's serial ports as the registry lists them: value names are device names
// (\Device\Serial0), the data the port names. No instance identifier or description is known.
void visitSerialCommPorts(PortVisitor visit, void* context) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    char valueName[256] = {};
    DWORD nameSize = sizeof valueName;
    char data[256] = {};
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize < sizeof data ? dataSize : sizeof data - 1] = '\0';
    PortInfo port;
    std::memset(&port, 0, sizeof port);
    copyCut(port.name, sizeof port.name, data);
    if (!isComName(port.name) || !devicePathOf(port.name, port.devicePath)) continue;
    copyCut(port.instanceId, sizeof port.instanceId, valueName);
    visit(port, context);
  }
  RegCloseKey(key);
}

int enumerateSystemPorts(PortVisitor visit, void* context, PortSourceReport report) {
  GUID portsClass{};
  DWORD classes = 0;
  if (!SetupDiClassGuidsFromNameA("Ports", &portsClass, 1, &classes) || classes == 0) {
    if (report) report(portSourceNoUdev, context);
    visitSerialCommPorts(visit, context);
    return portSourceNoUdev;
  }
  HDEVINFO devices = SetupDiGetClassDevsA(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) {
    if (report) report(portSourceNoDeviceSet, context);
    visitSerialCommPorts(visit, context);
    return portSourceNoDeviceSet;
  }
  if (report) report(portSourceUdev, context);
  const int listed = visitSetupApiPorts(devices, visit, context);
  SetupDiDestroyDeviceInfoList(devices);
  if (!listed) visitSerialCommPorts(visit, context);
  return portSourceUdev;
}

int isSeparator(char c) { return c == '\\' || c == '/' ? 1 : 0; }

// An entry's first field is a port name (COM7: opened as \\.\COM7) or a path, whose name is its
// last component.
void visitVirtualEntry(const char* entry, size_t length, PortVisitor visit, void* context) {
  const char* fields[3] = {entry, nullptr, nullptr};
  size_t lengths[3] = {length, 0, 0};
  int field = 0;
  for (size_t i = 0; i < length && field < 2; ++i) {
    if (entry[i] == '|') {
      lengths[field] = static_cast<size_t>(entry + i - fields[field]);
      ++field;
      fields[field] = entry + i + 1;
      lengths[field] = static_cast<size_t>(entry + length - fields[field]);
    }
  }
  if (lengths[0] == 0 || lengths[0] >= portTextSize) return;
  PortInfo port;
  std::memset(&port, 0, sizeof port);
  char first[portTextSize] = {};
  copyCut(first, sizeof first, fields[0], lengths[0]);
  const char* name = first;
  for (const char* c = first; *c != '\0'; ++c) {
    if (isSeparator(*c)) name = c + 1;
  }
  if (*name == '\0') return;
  if (name == first) {
    if (!devicePathOf(first, port.devicePath)) return;
  } else {
    copyCut(port.devicePath, sizeof port.devicePath, first);
  }
  copyCut(port.name, sizeof port.name, name);
  if (fields[1] != nullptr) copyCut(port.instanceId, sizeof port.instanceId, fields[1], lengths[1]);
  if (fields[2] != nullptr) copyCut(port.description, sizeof port.description, fields[2], lengths[2]);
  visit(port, context);
}

}  // namespace

void formatUsbInstanceId(char* out, size_t outSize, unsigned vendorId, unsigned productId,
                         const char* serial) {
  std::snprintf(out, outSize, "USB\\VID_%04X&PID_%04X\\%s", vendorId & 0xFFFFu, productId & 0xFFFFu,
                serial ? serial : "");
}

void enumerateVirtualPorts(const char* text, PortVisitor visit, void* context) {
  if (text == nullptr) return;
  const char* entry = text;
  for (;;) {
    const char* end = std::strchr(entry, ';');
    size_t length = end ? static_cast<size_t>(end - entry) : std::strlen(entry);
    visitVirtualEntry(entry, length, visit, context);
    if (end == nullptr) break;
    entry = end + 1;
  }
}

int enumeratePorts(PortVisitor visit, void* context, PortSourceReport report) {
  int status = enumerateSystemPorts(visit, context, report);
  enumerateVirtualPorts(std::getenv(virtualPortsVariable), visit, context);
  return status;
}
