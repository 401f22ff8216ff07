// The instance identifier of a USB port, "USB\VID_xxxx&PID_xxxx\serial": written and read here only.
#pragma once
#include <cstddef>

struct UsbInstanceId {
  unsigned vendorId = 0;
  unsigned productId = 0;
  const char* serial = nullptr;  // into the text after the "\", or nullptr when no "\" follows
};

// USB\VID_%04X&PID_%04X\ followed by the serial, cut to the buffer.
void formatUsbInstanceId(char* out, size_t outSize, unsigned vendorId, unsigned productId,
                         const char* serial);

// Vendor and product (four hex digits each, either case) and the serial; false for any text
// that does not start that way.
bool parseUsbInstanceId(const char* text, UsbInstanceId& id);
