// Windows serial port layer: CreateFile without sharing and overlapped, the profile through
// SetCommState and SetCommTimeouts, and a one-byte read armed while the port is quiet whose event
// is what a waiter waits on: it completes with the first byte that arrives, or with an error when
// the port goes away. Failures are kept as errno values, so callers read them as on Linux.
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
// A read returns at once with what is queued and, when nothing is, with the first byte that
// arrives; the bound (49 days) only keeps that documented behaviour in force.
constexpr DWORD firstByteBoundMs = MAXDWORD - 1;
constexpr int maxOpenPorts = 8;  // ports open at once; a run opens one

// One open port's overlapped state. The armed read takes the first byte that arrives into
// `first` and signals armedEvent; until it is collected that byte comes before anything queued.
struct PortWait {
  int fd = -1;                  // -1: a free entry
  HANDLE armedEvent = nullptr;  // manual reset: what the event loop waits on
  HANDLE ioEvent = nullptr;     // reads of what is queued and writes, each finished at once
  OVERLAPPED armed{};
  bool pending = false;  // armed and not yet collected
  int refused = 0;       // errno of a port that refused to be armed (gone away); 0 while fine
  uint8_t first = 0;
};

PortWait portWaits[maxOpenPorts];

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

PortWait* waitOf(int descriptor) {
  if (descriptor < 0) return nullptr;
  for (PortWait& wait : portWaits)
    if (wait.fd == descriptor) return &wait;
  return nullptr;
}

void freeWait(PortWait& wait) {
  if (wait.armedEvent != nullptr) CloseHandle(wait.armedEvent);
  if (wait.ioEvent != nullptr) CloseHandle(wait.ioEvent);
  wait = PortWait{};
}

// An entry with its two events for a port just opened; nullptr when none is free.
PortWait* newWait(int descriptor) {
  for (PortWait& wait : portWaits) {
    if (wait.fd >= 0) continue;
    wait.armedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    wait.ioEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wait.armedEvent == nullptr || wait.ioEvent == nullptr) {
      freeWait(wait);
      return nullptr;
    }
    wait.fd = descriptor;
    return &wait;
  }
  return nullptr;
}

// Starts the first-byte read unless one is outstanding. A byte already queued completes it at
// once, and its event is then signalled as for one that arrives later. A port that refuses the
// read (gone away) gets its event set, so the waiter looks and the next read reports the failure.
void arm(PortWait& wait) {
  if (wait.pending) return;
  wait.armed = OVERLAPPED{};
  wait.armed.hEvent = wait.armedEvent;
  if (ReadFile(handleOf(wait.fd), &wait.first, 1, nullptr, &wait.armed) || GetLastError() == ERROR_IO_PENDING) {
    wait.pending = true;
    return;
  }
  wait.refused = errnoOf(GetLastError());
  SetEvent(wait.armedEvent);
}

// Whether the armed read has ended: with a byte, empty or with an error, it waits to be collected.
bool armedEnded(const PortWait& wait) { return wait.pending && HasOverlappedIoCompleted(&wait.armed); }

// What the armed read brought: 1 with the byte in *byte, 0 when it is outstanding or ended empty,
// -1 with port.lastError set when the port failed (unplugged: device removed, access denied or
// the read aborted).
int collect(SerialPort& port, PortWait& wait, uint8_t* byte) {
  if (wait.refused != 0) {
    port.lastError = wait.refused;
    return -1;
  }
  if (!armedEnded(wait)) return 0;
  wait.pending = false;
  DWORD got = 0;
  if (!GetOverlappedResult(handleOf(wait.fd), &wait.armed, &got, FALSE)) {
    port.lastError = errnoOf(GetLastError());
    return -1;
  }
  if (got == 0) return 0;
  *byte = wait.first;
  return 1;
}

// One overlapped read or write on ioEvent, finished before it returns (the time-outs bound it).
// Returns the bytes moved, or -1 with port.lastError set; *moved holds the count either way.
long finishIo(SerialPort& port, BOOL started, OVERLAPPED& io, DWORD* moved) {
  *moved = 0;
  if (!started && GetLastError() != ERROR_IO_PENDING) {
    port.lastError = errnoOf(GetLastError());
    return -1;
  }
  if (!GetOverlappedResult(handleOf(port), &io, moved, TRUE)) {
    port.lastError = errnoOf(GetLastError());
    return -1;
  }
  return static_cast<long>(*moved);
}

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

// Reads up to capacity of the bytes the queue holds, which the time-outs hand over at once.
long readQueued(SerialPort& port, PortWait& wait, uint8_t* buffer, size_t capacity) {
  const long queued = queuedBytes(port);
  if (queued <= 0 || capacity == 0) return queued;
  const DWORD wanted = static_cast<DWORD>(static_cast<size_t>(queued) < capacity ? static_cast<size_t>(queued)
                                                                                 : capacity);
  OVERLAPPED io{};
  io.hEvent = wait.ioEvent;
  DWORD got = 0;
  return finishIo(port, ReadFile(handleOf(port), buffer, wanted, nullptr, &io), io, &got);
}

}  // namespace

int serialPortIsOpen(const SerialPort& port) { return port.fd >= 0 ? 1 : 0; }

int openSerialPort(SerialPort& port, const char* devicePath) {
  closeSerialPort(port);
  port.failedStep = serialStepNone;
  port.lastError = 0;
  // Share mode 0: no second opener, this program included, while the port is ours.
  HANDLE handle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(port, serialStepOpen, errnoOf(GetLastError()));
  // A descriptor wraps the handle so the port is an int on both systems; closing it closes both.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return fail(port, serialStepOpen, EMFILE);
  }
  if (newWait(fd) == nullptr) {
    _close(fd);
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
  // Reads return at once with what is queued, or with the first byte to arrive; a write waits at
  // most the constant plus the per-byte time.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = firstByteBoundMs;
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
  PortWait* wait = waitOf(port.fd);
  if (wait == nullptr) {
    port.lastError = EBADF;
    return -1;
  }
  if (capacity == 0) return 0;
  // An armed read still outstanding takes the next byte: nothing may be read before it ends.
  if (wait->pending && !armedEnded(*wait)) return 0;
  const int first = collect(port, *wait, buffer);
  if (first < 0) return -1;
  const long rest = readQueued(port, *wait, buffer + first, capacity - static_cast<size_t>(first));
  if (rest < 0) return first > 0 ? first : -1;  // the byte in hand first; the failure comes next
  return first + rest;
}

long writeBytes(SerialPort& port, const uint8_t* bytes, size_t count) {
  PortWait* wait = waitOf(port.fd);
  if (wait == nullptr) {
    port.lastError = EBADF;
    return -1;
  }
  if (count == 0) return 0;
  OVERLAPPED io{};
  io.hEvent = wait->ioEvent;
  DWORD put = 0;
  // The write time-outs of the profile bound the call.
  const BOOL started = WriteFile(handleOf(port), bytes, static_cast<DWORD>(count), nullptr, &io);
  if (finishIo(port, started, io, &put) < 0) return put > 0 ? static_cast<long>(put) : -1;
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
  PortWait* wait = waitOf(port.fd);
  DWORD got = 0;
  // An armed read that ended in an error is the port gone; the error stays for the read to report.
  const bool armedFailed = wait != nullptr && (wait->refused != 0 || (armedEnded(*wait) &&
                                               !GetOverlappedResult(handleOf(port), &wait->armed, &got, FALSE)));
  if (armedFailed || queuedBytes(port) < 0) {
    port.lastError = EIO;
    return 1;
  }
  return 0;
}

int bytesQueued(SerialPort& port) {
  const long queued = queuedBytes(port);
  if (queued < 0) return -1;
  PortWait* wait = waitOf(port.fd);
  if (wait == nullptr || !wait->pending) return static_cast<int>(queued);
  // Bytes count once the armed read that comes before them has ended (Wine may show them queued
  // a moment earlier); its own byte is received and not yet read.
  if (!armedEnded(*wait)) return 0;
  DWORD got = 0;
  const bool held = GetOverlappedResult(handleOf(port), &wait->armed, &got, FALSE) && got > 0;
  return static_cast<int>(queued) + (held ? 1 : 0);
}

intptr_t armInputWait(int descriptor) {
  PortWait* wait = waitOf(descriptor);
  if (wait == nullptr) return -1;
  arm(*wait);
  return reinterpret_cast<intptr_t>(wait->armedEvent);
}

int waitForInput(int descriptor, int timeoutMs) {
  PortWait* wait = waitOf(descriptor);
  if (wait == nullptr) return -1;
  arm(*wait);
  HANDLE handles[1] = {wait->armedEvent};
  const DWORD ended = WaitForMultipleObjects(1, handles, FALSE, static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
  if (ended == WAIT_OBJECT_0) return 1;
  return ended == WAIT_TIMEOUT ? 0 : -1;
}

int pauseOnPort(SerialPort& port, int timeoutMs) {
  PortWait* wait = waitOf(port.fd);
  // With the armed read's byte still held its event stays set: the rest of a frame is then
  // waited for by the clock.
  if (wait == nullptr || armedEnded(*wait)) Sleep(static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
  else waitForInput(port.fd, timeoutMs);
  return serialPortHungUp(port) ? 0 : 1;
}

void closeSerialPort(SerialPort& port) {
  if (port.fd < 0) return;
  PortWait* wait = waitOf(port.fd);
  if (wait != nullptr) {
    // The armed read writes into the entry: it must be over before the entry is freed.
    if (wait->pending) {
      DWORD got = 0;
      CancelIo(handleOf(port));
      GetOverlappedResult(handleOf(port), &wait->armed, &got, TRUE);
    }
    freeWait(*wait);
  }
  _close(port.fd);  // closes the handle too
  port.fd = -1;
}

const char* serialOpenCauseText(int error) {
  if (error == EBUSY) return "The port is in use by another program.";
  return nullptr;
}

std::string openPermissionText(const char*, int) { return std::string(); }

// Windows closes a process's handles when it ends, and there is no exclusive flag left behind.
void releasePortsOnSignals() {}
