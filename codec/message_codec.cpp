// Plain and secured converter messages, and their way out on the wire or through the dongle.
#include "codec/message_codec.h"

#include <cstdio>
#include <cstring>

#include "codec/converter_address.h"
#include "crypto/aes.h"
#include "mbus/link_frame.h"
#include "dongle/dongle_frame.h"
#include "text/bytes.h"
#include "text/hex_text.h"
#include "text/log.h"

namespace {

constexpr size_t keyTextDigits = 2 * aesKeySize;
constexpr uint8_t statusByte = 0x00;
constexpr uint8_t authenticationLayerLength = 0x0F;
constexpr uint8_t fragmentationControlLow = 0x00;
constexpr uint8_t fragmentationControlHigh = 0x2C;
constexpr uint8_t messageControl = 0x25;  // AES-CMAC with 8-byte MAC, counter present
constexpr uint8_t macPlaceholder = 0xFF;
constexpr uint8_t securityModeByte = 0x07;
constexpr uint8_t configurationExtension = 0x10;
constexpr size_t messageControlOffset = 5;
constexpr size_t macInputHeadLength = 5;  // message control and counter
constexpr size_t addressOffset = 19;

struct DerivationConstants {
  uint8_t encryption;
  uint8_t mac;
};

constexpr DerivationConstants wiredConstants = {0x10, 0x11};
constexpr DerivationConstants wirelessConstants = {0x00, 0x01};

const char* const sendLine = ">>> Send meter config message\n";

bool commandLengthValid(size_t n) { return n >= commandMinLength && n <= commandMaxLength; }

uint8_t cFieldFor(LinkMode mode) { return mode == LinkMode::wired ? cFieldWired : cFieldWireless; }

void writeAddress(const ConverterLinkState& link, uint8_t* dest) {
  if (link.linkMode == LinkMode::wired) {
    std::memcpy(dest, link.converterAddress, 8);
    return;
  }
  // Over the air the converter is addressed as a wireless device: its radio
  // manufacturer code, the low half of its identification number, version and type.
  dest[0] = converterRadioManufacturer[0];
  dest[1] = converterRadioManufacturer[1];
  dest[2] = link.converterAddress[0];
  dest[3] = link.converterAddress[1];
  std::memcpy(dest + 4, link.converterAddress + 4, 4);
}

void deriveKey(const ConverterLinkState& link, uint8_t constant, const uint8_t id[4],
               uint8_t key[aesKeySize]) {
  uint8_t block[aesBlockSize];
  buildDerivationBlock(block, constant, id, link.messageCounter);
  aesCmac(link.converterKey, block, static_cast<int32_t>(aesBlockSize), key);
}

void logNotSent(CommandChannel& channel, const std::string& reason) {
  const std::string line = "Not sent: " + reason + "\n";
  logOwnLine(channel.log, line, logStylePlain);
}

bool sendWired(CommandChannel& channel, const uint8_t* message, size_t length) {
  if (!buildLongFrame(channel.frames, converterLinkAddress, message[0], message + 1, length - 1))
    return false;
  uint16_t frameLength = 0;
  const uint8_t* built = frameBuffer(channel.frames, frameLength);
  if (frameLength > linkFrameCapacity) frameLength = 0;
  // Keep our own copy: the receiver starts over in the same buffer.
  uint8_t frame[linkFrameCapacity];
  std::memcpy(frame, built, frameLength);
  resetReceiver(channel.frames);
  std::string reason = "no COM port open";
  const bool sent = channel.transport.wiredPortOpen() && channel.transport.writeWired(frame, frameLength, reason);
  channel.log.logText(sendLine, logStylePlain);
  channel.log.logHexDump(frame, frameLength, logStylePlain);
  if (!sent) logNotSent(channel, reason);
  return sent;
}

bool sendWireless(CommandChannel& channel, const uint8_t* message, size_t length) {
  uint8_t frame[dongleFrameHeaderSize + messageCapacity];
  const size_t frameLength = buildDongleFrame(dongleCodeMessage, message, length, frame, sizeof frame);
  channel.log.logText(sendLine, logStylePlain);
  channel.log.logHexDump(message, length, logStylePlain);
  std::string reason;
  const bool sent = channel.transport.writeDongleFrame(frame, frameLength, reason);
  if (!sent) logNotSent(channel, reason);
  return sent;
}

}  // namespace

void loadConverterKey(const char* keyText, ConverterLinkState& link) {
  std::memset(link.converterKey, 0, sizeof link.converterKey);
  if (keyText == nullptr) return;
  char digits[keyTextDigits + 1] = {};
  size_t count = 0;
  while (count < keyTextDigits && keyText[count] != '\0') {
    digits[count] = keyText[count];
    ++count;
  }
  hexTextToBytes(digits, link.converterKey, aesKeySize);
}

size_t encryptedPartLength(size_t n) { return (n + 2 + aesBlockSize - 1) / aesBlockSize * aesBlockSize; }

size_t buildPlainMessage(ConverterLinkState& link, const uint8_t* payload, size_t n,
                         uint8_t* message, size_t capacity) {
  if (!commandLengthValid(n) || payload == nullptr || message == nullptr) return 0;
  const size_t length = plainHeaderLength + n;
  if (length > capacity) return 0;
  message[0] = cFieldFor(link.linkMode);
  message[1] = ciPlain;
  message[2] = link.accessNumber++;
  message[3] = statusByte;
  message[4] = 0x00;
  message[5] = 0x00;
  std::memcpy(message + plainHeaderLength, payload, n);
  return length;
}

size_t buildSecuredMessage(ConverterLinkState& link, const uint8_t* payload, size_t n,
                           uint8_t* message, size_t capacity) {
  if (!commandLengthValid(n) || payload == nullptr || message == nullptr) return 0;
  const size_t e = encryptedPartLength(n);
  const size_t length = securedHeaderLength + e;
  if (length > capacity) return 0;

  std::memset(message, encryptedFill, length);
  message[0] = cFieldFor(link.linkMode);
  message[1] = ciAuthenticationLayer;
  message[2] = authenticationLayerLength;
  message[3] = fragmentationControlLow;
  message[4] = fragmentationControlHigh;
  message[messageControlOffset] = messageControl;
  writeLe32(message + 6, link.messageCounter);
  std::memset(message + securedMacOffset, macPlaceholder, securedMacLength);

  const bool wired = link.linkMode == LinkMode::wired;
  message[securedCiOffset] = wired ? ciSecuredWired : ciSecuredWireless;
  writeAddress(link, message + addressOffset);
  message[27] = link.accessNumber++;
  message[28] = statusByte;
  message[29] = static_cast<uint8_t>(e);
  message[30] = securityModeByte;
  message[31] = configurationExtension;
  std::memcpy(message + securedEncryptedOffset + 2, payload, n);

  const DerivationConstants constants = wired ? wiredConstants : wirelessConstants;
  uint8_t encryptionKey[aesKeySize];
  uint8_t macKey[aesKeySize];
  deriveKey(link, constants.encryption, message + addressOffset, encryptionKey);
  deriveKey(link, constants.mac, message + addressOffset, macKey);

  AesKeySchedule schedule;
  aesExpandKey(encryptionKey, schedule);
  aesClearChainingBlock();
  aesCbcEncrypt(message + securedEncryptedOffset, static_cast<uint8_t>(e), schedule);

  uint8_t macInput[macInputHeadLength + messageCapacity];
  std::memcpy(macInput, message + messageControlOffset, macInputHeadLength);
  const size_t covered = length - securedCiOffset;
  std::memcpy(macInput + macInputHeadLength, message + securedCiOffset, covered);
  uint8_t tag[aesBlockSize];
  aesCmac(macKey, macInput, static_cast<int32_t>(macInputHeadLength + covered), tag);
  std::memcpy(message + securedMacOffset, tag, securedMacLength);
  return length;
}

int sendConverterCommand(CommandChannel& channel, const uint8_t* payload, size_t n) {
  if (!commandLengthValid(n) || payload == nullptr) return 0;
  ConverterLinkState& link = channel.link;
  uint8_t message[messageCapacity];
  size_t length = 0;
  if (link.securedMessages) {
    link.messageCounter += counterStep;
    char line[32];
    std::snprintf(line, sizeof line, "Counter now: 0x%08X", static_cast<unsigned>(link.messageCounter));
    channel.log.logText(line, logStyleDongle);
    length = buildSecuredMessage(link, payload, n, message, sizeof message);
    link.messageCounter += counterStep;
  } else {
    length = buildPlainMessage(link, payload, n, message, sizeof message);
  }
  if (length == 0) return 0;
  const bool wired = link.linkMode == LinkMode::wired;
  const bool sent = wired ? sendWired(channel, message, length) : sendWireless(channel, message, length);
  if (sent && channel.answerWait != nullptr) {
    // The counter the converter will report once it has taken this message.
    const uint32_t carried = link.securedMessages ? link.messageCounter - counterStep : 0;
    armAnswerWait(*channel.answerWait, payload[2], link.securedMessages, carried,
                  wired ? wiredAnswerBoundMs : wirelessAnswerBoundMs, answerClockMs());
  }
  return 1;
}
