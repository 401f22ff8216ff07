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

#include "serial/port_platform.h"

namespace {

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

int isSeparator(char c) { return c == '\\' || c == '/' ? 1 : 0; }

}  // namespace

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

// An entry's first field is a port name (COM7: opened as \\.\COM7) or a path, whose name is its
// last component.
int virtualPortPaths(const char* first, PortInfo& port) {
  const char* name = first;
  for (const char* c = first; *c != '\0'; ++c) {
    if (isSeparator(*c)) name = c + 1;
  }
  if (*name == '\0') return 0;
  if (name == first) {
    if (!devicePathOf(first, port.devicePath)) return 0;
  } else {
    copyCut(port.devicePath, sizeof port.devicePath, first);
  }
  copyCut(port.name, sizeof port.name, name);
  return 1;
}
