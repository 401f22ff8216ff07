// "quarn-cli ports": every serial port with what identifies it, and which one is the stick.
#pragma once
#include <string>
#include <vector>

struct PortInfo;

struct PortListing {
  std::string name;
  std::string devicePath;
  std::string byIdLink;    // /dev/serial/by-id/... pointing at the port, or empty
  std::string usbId;       // "10c4:0003", or empty for a port without USB identity
  std::string serial;      // USB serial number, or empty
  std::string description;
  bool stick = false;      // the USB wireless M-Bus stick, as the window recognises it
};

// Vendor, product and serial from an instance identifier "USB\VID_xxxx&PID_xxxx\serial".
void describeInstance(const char* instanceId, PortListing& listing);

// Every port the window's search sees (udev and QUARN_VIRTUAL_PORTS), in that order.
std::vector<PortListing> listPorts(const std::string& byIdFolder = "/dev/serial/by-id");
