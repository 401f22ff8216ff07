// Wireless M-Bus meter telegrams: link address, ELL, AFL and transport header, bounds first.
#include "codec/meter_telegram.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text/bytes.h"
#include "text/printf_format.h"

namespace {

constexpr size_t linkHeaderBytes = 10;  // C field, 8 address bytes, CI
constexpr size_t shortHeaderBytes = 4;  // access number, status, configuration field
constexpr size_t longHeaderBytes = 12;  // id 4, manufacturer 2, version, type, then the short header
constexpr size_t ellShortBytes = 2;     // communication control, access number
constexpr size_t blockBytes = 16;

constexpr uint8_t ciEllShort = 0x8C;
constexpr uint8_t ciAfl = 0x90;
constexpr uint8_t ciShortHeader = 0x7A;
constexpr uint8_t ciLongHeader = 0x72;
constexpr uint8_t ciNoHeader = 0x78;
constexpr uint8_t ciCompactNoHeader = 0x79;

// Fragmentation control bits of the AFL.
constexpr uint16_t aflMoreFragments = 0x4000;
constexpr uint16_t aflControlPresent = 0x2000;
constexpr uint16_t aflCounterPresent = 0x0800;
constexpr uint16_t aflKeyInfoPresent = 0x0200;

constexpr uint8_t modeAesCbcIv = 5;
constexpr uint8_t modeAesCbcNoIv = 7;

// C fields a meter or a gateway sends over the air: SND-NR, SND-IR, ACC-NR, ACC-DMD, RSP-UD
// with its flag variants, SND-NKE, SND-UD, and the converter's own.
bool isRadioCField(uint8_t c) {
  static const uint8_t known[] = {0x44, 0x46, 0x47, 0x48, 0x08, 0x18, 0x28, 0x38,
                                  0x40, 0x43, 0x53, 0x73, 0x5B, 0x7B};
  for (uint8_t k : known)
    if (k == c) return true;
  return false;
}

QUARN_PRINTF(3, 4) TelegramStatus fail(MeterTelegram& out, TelegramStatus status,
                                                           const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(out.problem, sizeof out.problem, format, arguments);
  va_end(arguments);
  return status;
}

// Whether the first byte is a length byte: it counts the rest and what follows it looks like a
// C field, or it is no C field itself but counts the rest. A first byte that is neither a C
// field nor the right count while the second is a C field is a length byte that lies.
enum class LengthGuess { absent, present, lying };

LengthGuess guessLengthByte(const uint8_t* bytes, size_t n) {
  const bool counts = bytes[0] == n - 1;
  const bool secondIsC = n > 1 && isRadioCField(bytes[1]);
  if (counts && secondIsC) return LengthGuess::present;
  if (isRadioCField(bytes[0])) return LengthGuess::absent;
  if (counts) return LengthGuess::present;
  if (secondIsC) return LengthGuess::lying;
  return LengthGuess::absent;
}

// The AFL from `at` (its CI) on; leaves `at` on the next CI.
TelegramStatus parseAfl(const uint8_t* body, size_t length, size_t& at, MeterTelegram& out) {
  out.hasAfl = true;
  if (at + 2 > length) return fail(out, TelegramStatus::truncatedAfl, "AFL cut off after its CI");
  const size_t aflLength = body[at + 1];
  const size_t end = at + 2 + aflLength;
  if (end > length)
    return fail(out, TelegramStatus::truncatedAfl, "AFL announces %zu bytes, %zu are there", aflLength, length - at - 2);
  if (aflLength < 2) return fail(out, TelegramStatus::truncatedAfl, "AFL of %zu bytes has no fragmentation field", aflLength);
  const uint16_t control = readLe16(body + at + 2);
  if ((control & aflMoreFragments) != 0) return fail(out, TelegramStatus::fragmented, "AFL fragment of a longer message");
  size_t field = at + 4;
  if ((control & aflControlPresent) != 0) field += 1;
  if ((control & aflKeyInfoPresent) != 0) field += 2;
  if ((control & aflCounterPresent) != 0) {
    if (field + 4 > end) return fail(out, TelegramStatus::truncatedAfl, "AFL too short for its message counter");
    out.aflCounterPresent = true;
    out.aflCounter = readLe32(body + field);
  }
  at = end;
  if (at >= length) return fail(out, TelegramStatus::truncatedHeader, "nothing after the AFL");
  return TelegramStatus::ok;
}

TelegramStatus parseTransport(const uint8_t* body, size_t length, size_t at, MeterTelegram& out) {
  out.ci = body[at++];
  switch (out.ci) {
    case ciShortHeader:
      out.header = TransportHeader::shortHeader;
      if (at + shortHeaderBytes > length)
        return fail(out, TelegramStatus::truncatedHeader, "short header cut off (%zu of 4 bytes)", length - at);
      break;
    case ciLongHeader: {
      out.header = TransportHeader::longHeader;
      if (at + longHeaderBytes > length)
        return fail(out, TelegramStatus::truncatedHeader, "long header cut off (%zu of 12 bytes)", length - at);
      const uint8_t* h = body + at;
      const uint8_t radioOrder[linkAddressBytes] = {h[4], h[5], h[0], h[1], h[2], h[3], h[6], h[7]};
      std::memcpy(out.meterAddress, radioOrder, linkAddressBytes);
      at += longHeaderBytes - shortHeaderBytes;
      break;
    }
    case ciNoHeader:
    case ciCompactNoHeader:
      out.header = TransportHeader::none;
      return TelegramStatus::ok;
    default:
      out.header = TransportHeader::unknown;
      return TelegramStatus::ok;
  }
  out.accessNumber = body[at];
  out.status = body[at + 1];
  out.configField = readLe16(body + at + 2);
  at += shortHeaderBytes;
  out.securityMode = static_cast<uint8_t>((out.configField >> 8) & 0x1F);
  if (out.securityMode != modeAesCbcIv && out.securityMode != modeAesCbcNoIv) return TelegramStatus::ok;
  if (out.securityMode == modeAesCbcNoIv) {
    if (at >= length) return fail(out, TelegramStatus::truncatedHeader, "mode 7 header without its extension byte");
    out.configExtension = body[at++];
  }
  out.encryptedOffset = at;
  out.encryptedLength = ((out.configField >> 4) & 0x0F) * blockBytes;
  if (at + out.encryptedLength > length)
    return fail(out, TelegramStatus::truncatedPayload, "%zu encrypted bytes announced, %zu are there",
                out.encryptedLength, length - at);
  return TelegramStatus::ok;
}

}  // namespace

TelegramStatus parseMeterTelegram(const uint8_t* bytes, size_t n, LengthByte lengthByte, MeterTelegram& out) {
  out = MeterTelegram{};
  if (n == 0) return fail(out, TelegramStatus::tooShort, "empty telegram");
  if (n > telegramMaxBytes) return fail(out, TelegramStatus::lengthMismatch, "%zu bytes: a telegram has at most 256", n);
  bool present = lengthByte == LengthByte::present;
  if (lengthByte == LengthByte::detect) {
    const LengthGuess guess = guessLengthByte(bytes, n);
    if (guess == LengthGuess::lying)
      return fail(out, TelegramStatus::lengthMismatch, "length byte counts %u bytes, %zu follow", unsigned(bytes[0]), n - 1);
    present = guess == LengthGuess::present;
  }
  if (present) {
    out.lengthBytePresent = true;
    out.lengthByte = bytes[0];
    if (bytes[0] != n - 1)
      return fail(out, TelegramStatus::lengthMismatch, "length byte counts %u bytes, %zu follow", unsigned(bytes[0]), n - 1);
  }
  const uint8_t* body = present ? bytes + 1 : bytes;
  const size_t length = present ? n - 1 : n;
  out.body = body;
  out.bodyLength = length;
  if (length < linkHeaderBytes)
    return fail(out, TelegramStatus::tooShort, "%zu bytes: a telegram has at least 10 (C field, address, CI)", length);
  out.cField = body[0];
  std::memcpy(out.linkAddress, body + 1, linkAddressBytes);
  std::memcpy(out.meterAddress, body + 1, linkAddressBytes);
  out.firstCi = body[9];
  size_t at = 9;
  if (body[at] == ciEllShort) {
    at += 1 + ellShortBytes;
    if (at >= length) return fail(out, TelegramStatus::truncatedHeader, "nothing after the extended link layer");
  }
  if (body[at] == ciAfl) {
    const TelegramStatus afl = parseAfl(body, length, at, out);
    if (afl != TelegramStatus::ok) return afl;
  }
  return parseTransport(body, length, at, out);
}

bool telegramEncrypted(const MeterTelegram& telegram) {
  return (telegram.securityMode == modeAesCbcIv || telegram.securityMode == modeAesCbcNoIv) &&
         telegram.encryptedLength > 0;
}
