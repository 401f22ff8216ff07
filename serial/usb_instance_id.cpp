// The instance identifier of a USB port, "USB\VID_xxxx&PID_xxxx\serial": written and read here only.
#include "serial/usb_instance_id.h"

#include <cstdio>
#include <cstring>

#include "text/hex_text.h"

namespace {

constexpr const char* vidLead = "USB\\VID_";
constexpr const char* pidLead = "&PID_";
constexpr size_t idDigits = 4;

// The lead, then four hex digits into value; returns what follows them or nullptr.
const char* takeField(const char* text, const char* lead, unsigned& value) {
  const size_t leadLength = std::strlen(lead);
  if (std::strncmp(text, lead, leadLength) != 0) return nullptr;
  text += leadLength;
  value = 0;
  for (size_t i = 0; i < idDigits; ++i) {
    if (!isHexDigit(text[i])) return nullptr;
    value = value << 4 | hexDigitValue(text[i]);
  }
  return text + idDigits;
}

}  // namespace

void formatUsbInstanceId(char* out, size_t outSize, unsigned vendorId, unsigned productId,
                         const char* serial) {
  std::snprintf(out, outSize, "USB\\VID_%04X&PID_%04X\\%s", vendorId & 0xFFFFu, productId & 0xFFFFu,
                serial ? serial : "");
}

bool parseUsbInstanceId(const char* text, UsbInstanceId& id) {
  if (text == nullptr) return false;
  UsbInstanceId read;
  const char* rest = takeField(text, vidLead, read.vendorId);
  if (rest != nullptr) rest = takeField(rest, pidLead, read.productId);
  if (rest == nullptr) return false;
  read.serial = *rest == '\\' ? rest + 1 : nullptr;
  id = read;
  return true;
}
