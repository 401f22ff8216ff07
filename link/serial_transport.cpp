// Converter messages out through the wired port or the stick.
#include "link/serial_transport.h"

#include "dongle/dongle_frame.h"

bool SerialTransport::writeWired(const uint8_t* frame, size_t length, std::string& reason) {
  if (!wired_.portOpen) {
    reason = "no COM port open";
    return false;
  }
  const long written = writeBytes(wired_.port, frame, length);
  if (written == long(length)) return true;
  reason = wired_.portName + ": " + writeFailureText(written, length, wired_.port.lastError);
  return false;
}

bool SerialTransport::writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) {
  return ::writeDongleFrame(dongle_, frame, length, &reason) == 1;
}
