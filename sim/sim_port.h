// The PTY the simulator serves, linked at a fixed path so Quarn can open it by name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct SimPort {
  int master;              // -1 when closed
  std::string slavePath;   // /dev/pts/N, or the existing tty served with --device
  std::string linkPath;    // the symlink Quarn opens; empty for an existing tty
  bool reopened;           // an existing tty hung up and was opened again since the last read
  bool heard;              // an existing tty: a byte came in since it was opened
};

// Opens an existing tty (a USB gadget's serial function, say) in raw mode instead of a PTY.
bool simPortOpenDevice(SimPort& p, const std::string& devicePath, std::string& err);

// Opens a PTY, puts its slave in raw mode, creates the parent directory of linkPath (mode
// 0700) and points the symlink at the slave. Refuses a parent directory that is not the
// user's own or that group or others may write to. Returns false with a message in err on
// failure.
bool simPortOpen(SimPort& p, const std::string& linkPath, std::string& err);

// Closes the PTY (the client sees a hang-up) and links a fresh one at the same path; an
// existing tty is opened again.
bool simPortReopen(SimPort& p, std::string& err);

// Closes the PTY and removes the link.
void simPortClose(SimPort& p);

// Waits up to timeoutMs for input. Returns the byte count read (0 when nothing came or
// no client has the slave open, which is then also reported through clientOpen). An existing
// tty counts as open once a byte came in (a gadget's tty cannot tell when the host opens its
// end); when it hangs up it is opened again and reopened is set.
size_t simPortRead(SimPort& p, uint8_t* buf, size_t cap, int timeoutMs, bool& clientOpen);

// Writes what the PTY takes now; returns the count written.
size_t simPortWrite(SimPort& p, const uint8_t* bytes, size_t n);
