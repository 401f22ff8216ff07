// A wireless M-Bus meter telegram as the stick delivers it (no CRCs): link address, CI, the
// transport header with its security mode, and the AFL message counter of mode 7.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t telegramMaxBytes = 256;  // length byte 255 and the bytes it counts
constexpr size_t linkAddressBytes = 8;

// Whether the first byte is the length byte (the stick leaves it out; logs keep it).
enum class LengthByte { absent, present, detect };

enum class TelegramStatus {
  ok,
  tooShort,          // not even C field, address and CI
  lengthMismatch,    // a length byte that does not count the bytes that follow
  truncatedHeader,   // the header the CI announces is cut off
  truncatedAfl,      // the AFL (CI 0x90) is cut off or announces more than is there
  truncatedPayload,  // fewer bytes than the encrypted blocks announced
  fragmented,        // an AFL fragment of a longer message
};

// What kind of header follows the CI.
enum class TransportHeader { none, shortHeader, longHeader, unknown };

struct MeterTelegram {
  bool lengthBytePresent = false;
  uint8_t lengthByte = 0;
  uint8_t cField = 0;
  // radio order: manufacturer (2, least significant first), identification number (4, least
  // significant first), version, device type
  uint8_t linkAddress[linkAddressBytes] = {};
  // the meter's address for keys and IV: the long header's (reordered to radio order) when the
  // telegram has one, else the link address
  uint8_t meterAddress[linkAddressBytes] = {};
  uint8_t ci = 0;        // the transport layer's CI (after an AFL or ELL)
  uint8_t firstCi = 0;   // the CI right after the link address
  bool hasAfl = false;
  bool aflCounterPresent = false;
  uint32_t aflCounter = 0;
  TransportHeader header = TransportHeader::none;
  uint8_t accessNumber = 0;
  uint8_t status = 0;
  uint16_t configField = 0;
  uint8_t securityMode = 0;  // bits 8 to 12 of the configuration field; 0 without a header
  uint8_t configExtension = 0;  // mode 7 only
  size_t encryptedOffset = 0;   // within the telegram's bytes, length byte excluded
  size_t encryptedLength = 0;   // whole blocks the configuration field announces
  const uint8_t* body = nullptr;  // the telegram from its C field on
  size_t bodyLength = 0;
  char problem[96] = {};  // why, when the status is not ok
};

// Parses n bytes; never reads past them. On anything but ok, problem says why in a few words
// ("length byte 0x2E counts 46 bytes, 40 follow") and the address is filled when it was complete.
TelegramStatus parseMeterTelegram(const uint8_t* bytes, size_t n, LengthByte lengthByte, MeterTelegram& out);

// Whether the telegram's security mode is one this program decrypts (5 or 7) with blocks to check.
bool telegramEncrypted(const MeterTelegram& telegram);
