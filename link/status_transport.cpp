// The way out for converter commands, remembering why a message did not leave.
#include "link/status_transport.h"

bool StatusTransport::wiredPortOpen() {
  const bool open = SerialTransport::wiredPortOpen();
  // The codec asks this only when it is about to send, and sends nothing when it is false.
  if (!open) notSent = "no COM port open";
  return open;
}

bool StatusTransport::writeWired(const uint8_t* frame, size_t length, std::string& reason) {
  const bool sent = SerialTransport::writeWired(frame, length, reason);
  if (!sent) notSent = reason;
  return sent;
}

bool StatusTransport::writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) {
  const bool sent = SerialTransport::writeDongleFrame(frame, length, reason);
  if (!sent) notSent = reason;
  return sent;
}
