// Serial port layer: exclusive open, line profile, non-blocking reads, bounded writes.
// serial_port.cpp is the Linux half (termios), serial_port_win.cpp the Windows half (Win32
// communications functions); the build picks one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#ifndef _WIN32
#include <termios.h>
#endif

// Line settings applied after opening; every other termios field keeps what the port had.
struct SerialProfile {
  unsigned baudRate;        // 2400 or 2000000
  int writeConstantMs;      // a write waits at most this ...
  int writeMsPerByte;       // ... plus this per byte
};

extern const SerialProfile dongleSerialProfile;  // 2 000 000 baud 8E1
extern const SerialProfile wiredSerialProfile;   // 2400 baud 8E1

// Which step of opening or configuring failed, so callers can print the matching message.
enum SerialStep : int {
  serialStepNone = 0,
  serialStepOpen = 1,       // "COM port %s not found" / "Error opening COM port %s"
  serialStepGetState = 2,   // "Error getting serial parameters."
  serialStepSetState = 3,   // "Error setting serial parameters."
  serialStepTimeouts = 4,   // "Error setting timeouts."
};

struct SerialPort {
  int fd = -1;                    // on Windows the C runtime's descriptor of the port's handle
  int lastError = 0;              // errno of the last failure
  SerialStep failedStep = serialStepNone;
  int writeConstantMs = 50;
  int writeMsPerByte = 10;
};

// Opens devicePath for reading and writing, refusing any second opener (TIOCEXCL and flock).
// Returns 1 on success; 0 with lastError set otherwise. Closes a port that was open.
int openSerialPort(SerialPort& port, const char* devicePath);

// Raw mode, the profile's speed, 8 data bits, even parity, 1 stop bit, CLOCAL|CREAD.
// Returns 1 on success; on failure 0 with failedStep and lastError set (the port stays open).
int applyProfile(SerialPort& port, const SerialProfile& profile);

#ifndef _WIN32
// Turns state into the profile's line settings, leaving every other field as it is.
// Returns 0 for a baud rate the layer does not know.
int profileLineSettings(termios& state, const SerialProfile& profile);
#endif

// Reads what is queued, up to capacity bytes, never waiting. Returns the count (0 when nothing
// is queued) or -1 when the read fails (a port that has gone away fails with EIO).
long readAvailable(SerialPort& port, uint8_t* buffer, size_t capacity);

// Writes count bytes, waiting at most writeConstantMs + writeMsPerByte per byte for the port to
// take them. Returns the number of bytes written, or -1 when the first write already failed.
long writeBytes(SerialPort& port, const uint8_t* bytes, size_t count);

// Why a write of count bytes did not go out whole, for a log line: the system's reason, and how
// many bytes went out when some did. written is what writeBytes returned.
std::string writeFailureText(long written, size_t count, int error);

// True when the other end has hung up or the port failed (poll reports HUP, ERR or NVAL);
// lastError is then EIO. Does not wait.
int serialPortHungUp(SerialPort& port);

// Received bytes waiting in the input queue, or -1 when the query fails.
int bytesQueued(SerialPort& port);

// What a waiter (the event loop, or waitForInput) waits on for the port open on descriptor: on
// Linux the descriptor, readable when input is queued or the port hung up; on Windows an event
// signalled by a one-byte read armed by this call, which ends with the first byte that arrives or
// with an error when the port goes away. -1 for a descriptor that is no open port.
intptr_t armInputWait(int descriptor);

// Waits until the port open on descriptor (SerialPort::fd) has input queued, has hung up or
// failed, or timeoutMs has passed; a read then tells which. Returns 1 when there is something to
// look at, 0 when the time is up (or a signal came), -1 when the wait itself failed. Both halves
// wait on what armInputWait gives.
int waitForInput(int descriptor, int timeoutMs);

// A short rest of timeoutMs while the rest of a frame trickles in, ended early when input
// arrives. Returns 0 when the port has hung up or failed (lastError is then EIO), else 1.
int pauseOnPort(SerialPort& port, int timeoutMs);

// Closes the port if open; fd becomes -1.
void closeSerialPort(SerialPort& port);

int serialPortIsOpen(const SerialPort& port);

// Makes the ports open at the time clear their exclusive flag and close when the process is
// ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT, or aborts; the process then ends by
// the same signal. Without it a pseudo-terminal stays locked for every other account until its
// other end goes away. Call once at start; Windows frees a process's ports itself.
void releasePortsOnSignals();

// The fixed message of a failed configuration step, or nullptr for none/open.
const char* serialStepMessage(SerialStep step);

// A cause the user can fix for a failed open, as a line of its own, or nullptr.
const char* serialOpenCauseText(int error);

// Why the system refused this account the port at path, after an open that failed with error:
// "not in the dialout group (owner root:dialout, mode 0660)" or "permission denied (owner ...)".
// Empty for other errors and for a path that cannot be examined; always empty on Windows, where
// a port has no owner, group or mode.
std::string openPermissionText(const char* path, int error);
