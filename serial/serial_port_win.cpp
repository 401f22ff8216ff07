// Windows serial port layer: CreateFile without sharing, the profile through SetCommState and
// SetCommTimeouts, reads of what ClearCommError says is queued, writes bounded by the write
// time-outs. Failures are kept as errno values, so callers read them as on Linux.
#include "serial/serial_port.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

const SerialProfile dongleSerialProfile = {2000000u, 50, 10};
const SerialProfile wiredSerialProfile = {2400u, 50, 10};

namespace {

constexpr DWORD dongleQueueBytes = 4096;  // driver queues of the stick's port, each way
constexpr DWORD inputCheckMs = 5;         // how often waitForInput looks at the input queue

int fail(SerialPort& port, SerialStep step, int error) {
  port.failedStep = step;
  port.lastError = error;
  return 0;
}

// The system's error as the errno value the rest of the program tells the user about.
int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:  // what a port another program holds answers
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return EBUSY;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT: return ETIMEDOUT;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;  // a device that went away, a driver that failed
  }
}

HANDLE handleOf(int descriptor) {
  return descriptor >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)) : INVALID_HANDLE_VALUE;
}

HANDLE handleOf(const SerialPort& port) { return handleOf(port.fd); }

// The input queue's byte count; -1 with lastError set when the port no longer answers.
long queuedBytes(SerialPort& port) {
  HANDLE handle = handleOf(port);
  if (handle == INVALID_HANDLE_VALUE) {
    port.lastError = EBADF;
    return -1;
  }
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle, &errors, &status)) {
    port.lastError = errnoOf(GetLastError());
    return -1;
  }
  return static_cast<long>(status.cbInQue);
}

}  // namespace

int serialPortIsOpen(const SerialPort& port) { return port.fd >= 0 ? 1 : 0; }

int openSerialPort(SerialPort& port, const char* devicePath) {
  closeSerialPort(port);
  port.failedStep = serialStepNone;
  port.lastError = 0;
  // Share mode 0: no second opener, this program included, while the port is ours.
  HANDLE handle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(port, serialStepOpen, errnoOf(GetLastError()));
  // A descriptor wraps the handle so the port is an int on both systems; closing it closes both.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return fail(port, serialStepOpen, EMFILE);
  }
  port.fd = fd;
  return 1;
}

int applyProfile(SerialPort& port, const SerialProfile& profile) {
  port.failedStep = serialStepNone;
  HANDLE handle = handleOf(port);
  if (handle == INVALID_HANDLE_VALUE) return fail(port, serialStepGetState, EBADF);
  DCB state{};
  state.DCBlength = sizeof state;
  if (!GetCommState(handle, &state)) return fail(port, serialStepGetState, errnoOf(GetLastError()));
  // Only the line settings change; flow control and special characters stay as the port had them.
  state.BaudRate = profile.baudRate;
  state.ByteSize = 8;
  state.Parity = EVENPARITY;
  state.StopBits = ONESTOPBIT;
  state.fBinary = TRUE;
  state.fParity = TRUE;
  if (!SetCommState(handle, &state)) return fail(port, serialStepSetState, errnoOf(GetLastError()));
  // Reads return at once with what is queued; a write waits at most the constant plus the
  // per-byte time.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(profile.writeMsPerByte);
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(profile.writeConstantMs);
  if (!SetCommTimeouts(handle, &timeouts)) return fail(port, serialStepTimeouts, errnoOf(GetLastError()));
  // The stick's port gets driver queues of a fixed size; whether the driver takes them is not
  // looked at.
  if (&profile == &dongleSerialProfile) SetupComm(handle, dongleQueueBytes, dongleQueueBytes);
  port.writeConstantMs = profile.writeConstantMs;
  port.writeMsPerByte = profile.writeMsPerByte;
  return 1;
}

long readAvailable(SerialPort& port, uint8_t* buffer, size_t capacity) {
  if (port.fd < 0) {
    port.lastError = EBADF;
    return -1;
  }
  if (capacity == 0) return 0;
  // Only what the queue holds is asked for, so the read cannot wait whatever the driver makes of
  // the time-outs.
  const long queued = queuedBytes(port);
  if (queued < 0) return -1;
  if (queued == 0) return 0;
  const DWORD wanted = static_cast<DWORD>(static_cast<size_t>(queued) < capacity ? static_cast<size_t>(queued)
                                                                                 : capacity);
  DWORD got = 0;
  if (!ReadFile(handleOf(port), buffer, wanted, &got, nullptr)) {
    port.lastError = errnoOf(GetLastError());
    return -1;
  }
  return static_cast<long>(got);
}

long writeBytes(SerialPort& port, const uint8_t* bytes, size_t count) {
  if (port.fd < 0) {
    port.lastError = EBADF;
    return -1;
  }
  if (count == 0) return 0;
  DWORD put = 0;
  // The write time-outs of the profile bound the call.
  if (!WriteFile(handleOf(port), bytes, static_cast<DWORD>(count), &put, nullptr)) {
    port.lastError = errnoOf(GetLastError());
    return put > 0 ? static_cast<long>(put) : -1;
  }
  if (put < count) port.lastError = ETIMEDOUT;
  return static_cast<long>(put);
}

std::string writeFailureText(long written, size_t count, int error) {
  const char* reason = error == EBADF       ? "port not open"
                       : error == ETIMEDOUT ? "timed out"
                       : error == EIO       ? "input/output error"
                                            : std::strerror(error);
  if (written <= 0) return reason;
  char text[160];
  std::snprintf(text, sizeof text, "%ld of %lu bytes written (%s)", written, static_cast<unsigned long>(count),
                reason);
  return text;
}

int serialPortHungUp(SerialPort& port) {
  if (port.fd < 0) return 0;
  if (queuedBytes(port) < 0) {
    port.lastError = EIO;
    return 1;
  }
  return 0;
}

int bytesQueued(SerialPort& port) {
  const long queued = queuedBytes(port);
  return queued < 0 ? -1 : static_cast<int>(queued);
}

int waitForInput(int descriptor, int timeoutMs) {
  HANDLE handle = handleOf(descriptor);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    // A port that no longer answers is something to look at too: the read reports it.
    if (!ClearCommError(handle, &errors, &status) || status.cbInQue > 0) return 1;
    const ULONGLONG now = GetTickCount64();
    if (now >= until) return 0;
    Sleep(static_cast<DWORD>(until - now < inputCheckMs ? until - now : inputCheckMs));
  }
}

int pauseOnPort(SerialPort& port, int timeoutMs) {
  Sleep(static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
  return serialPortHungUp(port) ? 0 : 1;
}

void closeSerialPort(SerialPort& port) {
  if (port.fd >= 0) {
    _close(port.fd);  // closes the handle too
    port.fd = -1;
  }
}

const char* serialOpenCauseText(int error) {
  if (error == EBUSY) return "The port is in use by another program.";
  return nullptr;
}

std::string openPermissionText(const char*, int) { return std::string(); }

// Windows closes a process's handles when it ends, and there is no exclusive flag left behind.
void releasePortsOnSignals() {}
