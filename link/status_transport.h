// The way out for converter commands: the port layer's, remembering why the last
// message did not leave so a command can say so.
#pragma once
#include <string>

#include "link/serial_transport.h"

class StatusTransport : public SerialTransport {
public:
  using SerialTransport::SerialTransport;

  bool wiredPortOpen() override;
  bool writeWired(const uint8_t* frame, size_t length, std::string& reason) override;
  bool writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) override;

  // Why the last message was not sent; the caller empties it before a command.
  std::string notSent;
};
