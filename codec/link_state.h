// The one record describing the link to the converter, shared by the shell, the wired and
// wireless handlers and the message codec.
#pragma once
#include <cstdint>

enum class LinkMode : uint8_t { wired, wireless };

// The step messageCounter moves by: around each secured message, and on the converter's answers.
constexpr uint32_t counterStep = 4;

struct ConverterLinkState {
  LinkMode linkMode = LinkMode::wireless;  // settled once by the connection choice
  bool securedMessages = false;
  uint32_t messageCounter = 0;
  uint8_t accessNumber = 0;
  // identification number (4, least significant first), manufacturer (2, least
  // significant first), version, device type
  uint8_t converterAddress[8] = {};
  uint8_t converterKey[16] = {};
};
