// Windows device events: a hidden top-level window receives WM_DEVICECHANGE (the broadcasts of
// ports and device nodes, and the COM port interface class it registers for) and sets an event
// the event loop waits on; the ports are then listed again and set against the last list.
#include "serial/device_monitor.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <dbt.h>

#include <cstdlib>

#include "serial/port_list_diff.h"
#include "serial/port_platform.h"
#include "serial/serial_trace.h"

namespace {

const char* const watchClassName = "QuarnDeviceWatch";
// GUID_DEVINTERFACE_COMPORT: the interface every COM port driver registers.
const GUID comPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// One watcher per process: the window's procedure reaches it here.
struct DeviceWatch {
  HWND window = nullptr;
  HDEVNOTIFY notification = nullptr;
  HANDLE changed = nullptr;  // manual reset; set by the window, cleared when the ports are listed
  WatchedPorts known;
};
DeviceWatch deviceWatch;

bool isPortChange(WPARAM kind) {
  return kind == DBT_DEVICEARRIVAL || kind == DBT_DEVICEREMOVECOMPLETE || kind == DBT_DEVNODES_CHANGED;
}

LRESULT CALLBACK watchProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE) {
    if (isPortChange(wParam) && deviceWatch.changed != nullptr) SetEvent(deviceWatch.changed);
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void addSystemPort(const PortInfo& port, void* context) { addWatchedPort(*static_cast<WatchedPorts*>(context), port); }

void lendVirtualIdentity(const PortInfo& port, void* context) {
  lendIdentity(*static_cast<WatchedPorts*>(context), port);
}

// The system's ports now. QUARN_VIRTUAL_PORTS only names the USB identity of a port the system
// lists (Wine's mapped ports have none); a virtual port of its own never comes or goes.
void listWatchedPorts(WatchedPorts& now) {
  now.count = 0;
  enumerateSystemPorts(addSystemPort, &now, nullptr);
  enumerateVirtualPorts(std::getenv(virtualPortsVariable), lendVirtualIdentity, &now);
}

}  // namespace

int openDeviceMonitor(DeviceMonitor& monitor) {
  closeDeviceMonitor(monitor);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = watchProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = watchClassName;
  if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 0;
  deviceWatch.changed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Top-level but never shown: broadcasts reach top-level windows only, not message-only ones.
  deviceWatch.window = CreateWindowExA(0, watchClassName, "Quarn device watch", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                       instance, nullptr);
  if (deviceWatch.changed == nullptr || deviceWatch.window == nullptr) {
    closeDeviceMonitor(monitor);
    return 0;
  }
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = comPortInterface;
  // Without it the broadcasts still come; USB serial drivers that send no port broadcast are
  // heard through it.
  deviceWatch.notification = RegisterDeviceNotificationA(deviceWatch.window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  listWatchedPorts(deviceWatch.known);
  monitor.handle = reinterpret_cast<intptr_t>(deviceWatch.changed);
  return 1;
}

int readDeviceEvents(DeviceMonitor& monitor, DeviceEvent* events, int capacity) {
  if (monitor.handle < 0 || deviceWatch.changed == nullptr || events == nullptr) return 0;
  // Cleared before listing: a change during the listing sets it again.
  ResetEvent(deviceWatch.changed);
  static WatchedPorts now;
  listWatchedPorts(now);
  const int bound = capacity < deviceEventsPerRead ? capacity : deviceEventsPerRead;
  const int count = diffWatchedPorts(deviceWatch.known, now, events, bound);
  for (int i = 0; i < count; ++i)
    serialTrace("Port %s %s.\n", events[i].port.name, events[i].kind == deviceAdded ? "arrived" : "removed");
  if (count == bound) SetEvent(deviceWatch.changed);  // there may be more: come back
  return count;
}

void closeDeviceMonitor(DeviceMonitor& monitor) {
  if (deviceWatch.notification != nullptr) UnregisterDeviceNotification(deviceWatch.notification);
  if (deviceWatch.window != nullptr) DestroyWindow(deviceWatch.window);
  if (deviceWatch.changed != nullptr) CloseHandle(deviceWatch.changed);
  deviceWatch.notification = nullptr;
  deviceWatch.window = nullptr;
  deviceWatch.changed = nullptr;
  deviceWatch.known.count = 0;
  monitor.system = nullptr;
  monitor.monitor = nullptr;
  monitor.handle = -1;
}
