// Turns a converter command into a plain or secured message and sends it on the chosen link.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/answer_wait.h"
#include "codec/link_state.h"

class Log;
struct LinkFrameBuffer;

constexpr size_t messageCapacity = 255;
constexpr size_t commandMinLength = 3;
constexpr size_t commandMaxLength = 64;

constexpr uint8_t cFieldWired = 0x53;
constexpr uint8_t cFieldWireless = 0x43;
constexpr uint8_t ciPlain = 0x5A;
constexpr uint8_t ciAuthenticationLayer = 0x90;  // also heads wired answers that carry only the counter
constexpr uint8_t ciLongHeader = 0x72;           // answers with the long data header
constexpr uint8_t ciSecuredWired = 0x5B;
constexpr uint8_t ciSecuredWireless = ciLongHeader;
constexpr uint8_t encryptedFill = 0x2F;

constexpr size_t plainHeaderLength = 6;
constexpr size_t securedHeaderLength = 32;
constexpr size_t securedMacOffset = 10;
constexpr size_t securedMacLength = 8;
constexpr size_t securedCiOffset = 18;
constexpr size_t securedEncryptedOffset = 32;

// The links a message can leave by; the application's serial layer implements it,
// tests record what would have been written.
class MessageTransport {
public:
  virtual ~MessageTransport() = default;
  virtual bool wiredPortOpen() = 0;
  // A whole M-Bus long frame. Returns whether every byte went out; if not, reason says why
  // in a few words the log can show.
  virtual bool writeWired(const uint8_t* frame, size_t length, std::string& reason) = 0;
  // A whole dongle frame: code, 16-bit length least significant byte first, payload. Returns
  // as writeWired does.
  virtual bool writeDongleFrame(const uint8_t* frame, size_t length, std::string& reason) = 0;
};

// Everything a converter command needs to leave the program; the application owns
// the single instances and passes them in.
struct CommandChannel {
  ConverterLinkState& link;
  LinkFrameBuffer& frames;
  MessageTransport& transport;
  Log& log;
  // The wait armed for each request that went out; none when null.
  AnswerWait* answerWait = nullptr;
};

// Key text of the "Converter Encryption Key" field into link.converterKey. The key is
// cleared first, so a text shorter than 32 hex digits leaves zero bytes behind it;
// only the first 32 digits of a longer text are used. A null text gives the zero key.
void loadConverterKey(const char* keyText, ConverterLinkState& link);

// Length of the encrypted part for a payload of n bytes: the smallest multiple of 16
// that holds 0x2F 0x2F and the payload.
size_t encryptedPartLength(size_t n);

// Plain message: C-field, 0x5A, access number, status, configuration field, payload.
// Raises link.accessNumber. Returns the length (n + 6), or 0 with nothing changed when
// n is outside 3..64 or the message does not fit into capacity.
size_t buildPlainMessage(ConverterLinkState& link, const uint8_t* payload, size_t n,
                         uint8_t* message, size_t capacity);

// Secured message (mode 7) carrying link.messageCounter as it stands; the caller steps
// the counter around it. Raises link.accessNumber and uses the shared chaining block.
// Returns the length (32 + E), or 0 with nothing changed when n is outside 3..64 or
// the message does not fit into capacity.
size_t buildSecuredMessage(ConverterLinkState& link, const uint8_t* payload, size_t n,
                           uint8_t* message, size_t capacity);

// Wraps the payload as link.securedMessages says, sends it on link.linkMode's transport
// and logs it. A message the transport could not write gets a "Not sent: <reason>" line
// after its dump; the counter and access number stay advanced all the same, since part of
// it may have reached the converter and a reused counter would be refused as stale. A
// message that went out arms channel.answerWait with the link's bound.
// Returns 1; 0 (nothing logged, sent or changed) when n is outside 3..64.
int sendConverterCommand(CommandChannel& channel, const uint8_t* payload, size_t n);
