// The transport that puts converter messages on the chosen link: the wired port or the stick.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/message_codec.h"
#include "dongle/dongle_link.h"
#include "link/wired_connection.h"

// Converter messages leave by the wired port or by the dongle, whichever the run uses.
class SerialTransport : public MessageTransport {
public:
  SerialTransport(WiredPort& wired, DongleLink& dongle) : wired_(wired), dongle_(dongle) {}
  bool wiredPortOpen() override { return wired_.portOpen; }
  bool writeWired(const uint8_t* frame, size_t length, std::string& reason) override;
  bool writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) override;

private:
  WiredPort& wired_;
  DongleLink& dongle_;
};
