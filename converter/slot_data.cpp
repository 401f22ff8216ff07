// Device slots: the Get Data and Set Data commands and the Get Data answer.
#include "converter/slot_data.h"

#include <cstdio>
#include <cstring>

#include "codec/message_codec.h"
#include "text/bytes.h"
#include "text/hex_text.h"
#include "text/log.h"

const char* const protocolEntries[protocolCount] = {
    "Generic", "LUXmetering", "DSMR22", "DSMR4", "OMS", "SMR", "ESMR", "Legacy HYDROMETER",
    "GWF key extension", "KAMSTRUP", "ECHELON", "RAW WMBUS"};

const char* const modeEntries[wiredModeCount] = {"NONE",   "MODE4",  "MODE5",  "MODE7",
                                                 "MODE9",  "MODE15", "MODE C", "Legacy HYDROMETER",
                                                 "DES MODE2", "DES MODE3"};

namespace {

// Offsets in the slot record and the Get Data answer.
constexpr size_t offsetSlot = 3;
constexpr size_t offsetActive = 4;
constexpr size_t offsetDeviceId = 8;
constexpr size_t offsetManufacturer = 12;
constexpr size_t offsetVersion = 14;
constexpr size_t offsetMedia = 15;
constexpr size_t offsetLinkManufacturer = 16;
constexpr size_t offsetLinkDeviceId = 18;
constexpr size_t offsetLinkVersion = 22;
constexpr size_t offsetLinkMedia = 23;
constexpr size_t offsetMasterKey = 24;
constexpr size_t offsetKek = 40;
constexpr size_t offsetWiredProtocol = 56;
constexpr size_t offsetWiredMode = 57;
constexpr size_t offsetWirelessProtocol = 58;
constexpr size_t offsetWirelessMode = 59;
constexpr size_t offsetSetDataMarker = 60;
constexpr size_t offsetWiredAddress = 61;
constexpr size_t keyLength = 16;

uint8_t indexByte(int index) { return index < 0 ? 0 : static_cast<uint8_t>(index & 0xFF); }

uint8_t hexByte(const std::string& text) {
  uint8_t b = 0;
  hexTextToBytes(text.c_str(), &b, 1);
  return b;
}

void hexKey(const std::string& text, uint8_t* dest) {
  std::memset(dest, 0, keyLength);
  hexTextToBytes(text.c_str(), dest, keyLength);
}

std::string hexText(uint8_t b) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

struct Bound {
  size_t offset;
  unsigned count;  // values 0 .. count-1 name an entry
  const char* field;
};

// Every value of the answer that selects a slot or a list entry.
constexpr Bound answerBounds[] = {
    {offsetSlot, slotCount, "slot"},
    {offsetWiredProtocol, protocolCount, "wired protocol"},
    {offsetWiredMode, wiredModeCount, "wired encryption mode"},
    {offsetWirelessProtocol, protocolCount, "wireless protocol"},
    {offsetWirelessMode, wirelessModeCount, "wireless encryption mode"},
    {offsetWiredAddress, wiredAddressCount, "wired address"},
};

bool firstOutOfRange(const uint8_t* answer, const char*& field, unsigned& value) {
  for (const Bound& b : answerBounds) {
    if (answer[b.offset] >= b.count) {
      field = b.field;
      value = answer[b.offset];
      return true;
    }
  }
  return false;
}

}  // namespace

void loadKeyFromView(SettingsView& view, CommandChannel& channel) {
  const std::string text = view.converterKeyText();
  loadConverterKey(text.c_str(), channel.link);
}

bool padDeviceIdText(std::string& text) {
  if (text.size() >= deviceIdDigits) return false;
  text.insert(0, deviceIdDigits - text.size(), '0');
  return true;
}

uint8_t wiredAddressByte(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // Modulo 256 at every step gives the exact remainder for any number of digits.
  unsigned value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = (value * 10 + static_cast<unsigned>(text[i] - '0')) & 0xFF;
  if (negative) value = (256 - value) & 0xFF;
  return static_cast<uint8_t>(value);
}

uint16_t manufacturerCode(const std::string& letters) {
  char three[3] = {'@', '@', '@'};
  for (size_t i = 0; i < 3 && i < letters.size(); ++i) three[i] = letters[i];
  return static_cast<uint16_t>(manufacturerTextToCode(three) & 0xFFFF);
}

void buildSlotRecord(int s, const SlotFields& fields, const WiredSettings& wired,
                     uint8_t record[slotRecordLength]) {
  std::memset(record, 0, slotRecordLength);
  record[0] = converterCommandPrefix0;
  record[1] = converterCommandPrefix1;
  record[2] = commandSetData;
  record[offsetSlot] = indexByte(s);
  record[offsetActive] = fields.active ? 1 : 0;  // 32-bit 1 or 0, upper bytes stay 0

  // Text order is most significant first; the record carries the id least significant first.
  uint8_t idText[4] = {};
  hexTextToBytes(fields.deviceId.c_str(), idText, sizeof idText);
  uint8_t id[4];
  for (int i = 0; i < 4; ++i) id[i] = idText[3 - i];
  const uint16_t code = manufacturerCode(fields.manufacturer);
  uint8_t manufacturer[2];
  writeLe16(manufacturer, code);
  const uint8_t version = hexByte(fields.version);
  const uint8_t media = hexByte(fields.media);

  std::memcpy(record + offsetDeviceId, id, 4);
  std::memcpy(record + offsetManufacturer, manufacturer, 2);
  record[offsetVersion] = version;
  record[offsetMedia] = media;
  std::memcpy(record + offsetLinkManufacturer, manufacturer, 2);
  std::memcpy(record + offsetLinkDeviceId, id, 4);
  record[offsetLinkVersion] = version;
  record[offsetLinkMedia] = media;

  hexKey(fields.masterKey, record + offsetMasterKey);
  hexKey(fields.kek, record + offsetKek);
  record[offsetWiredProtocol] = indexByte(wired.protocol);
  record[offsetWiredMode] = indexByte(wired.mode);
  record[offsetWirelessProtocol] = indexByte(fields.wirelessProtocol);
  record[offsetWirelessMode] = indexByte(fields.wirelessMode);
  record[offsetSetDataMarker] = 0x01;
  record[offsetWiredAddress] = wiredAddressByte(fields.wiredAddress);
}

int getSlotData(int s, SettingsView& view, CommandChannel& channel) {
  if (s < 0 || s >= slotCount) return 0;
  loadKeyFromView(view, channel);
  const uint8_t payload[getDataLength] = {converterCommandPrefix0, converterCommandPrefix1,
                                          commandGetData, static_cast<uint8_t>(s)};
  return sendConverterCommand(channel, payload, sizeof payload);
}

int setSlotData(int s, SettingsView& view, CommandChannel& channel) {
  if (s < 0 || s >= slotCount) return 0;
  loadKeyFromView(view, channel);
  SlotFields fields = view.readSlot(s);
  // 251 to 255 fit the byte but name no entry; the converter's Get Data answer holding such an
  // address would be refused whole, so the slot is not written with one.
  if (wiredAddressByte(fields.wiredAddress) >= wiredAddressCount) {
    char line[96];
    std::snprintf(line, sizeof line, ">>> Set Data of slot %d not sent: the wired address must be 0 to %d.\n",
                  s + 1, wiredAddressCount - 1);
    logOwnLine(channel.log, line, logStylePlain);
    return 0;
  }
  const WiredSettings wired = view.readWired();
  if (padDeviceIdText(fields.deviceId)) view.setDeviceIdText(s, fields.deviceId);
  uint8_t record[slotRecordLength];
  buildSlotRecord(s, fields, wired, record);
  return sendConverterCommand(channel, record, sizeof record);
}

bool answerLongEnough(const uint8_t* payload, size_t length, size_t needed, const char* kind,
                      Log& log) {
  if (payload != nullptr && length >= needed) return true;
  char line[96];
  std::snprintf(line, sizeof line, "<<< Ignored %s answer: %u bytes, %u expected.\n", kind,
                static_cast<unsigned>(length), static_cast<unsigned>(needed));
  log.logText(line, logStylePlain);
  return false;
}

bool applyGetDataAnswer(const uint8_t* payload, size_t length, SettingsView& view, Log& log) {
  if (!answerLongEnough(payload, length, slotRecordLength, "Get Data", log)) return false;
  const char* field = nullptr;
  unsigned value = 0;
  if (firstOutOfRange(payload, field, value)) {
    char line[96];
    std::snprintf(line, sizeof line, "<<< Ignored Get Data answer: %s %u out of range.\n", field, value);
    log.logText(line, logStylePlain);
    return false;
  }
  const uint8_t s = payload[offsetSlot];

  SlotFields fields;
  fields.active = payload[offsetActive] != 0;
  fields.wiredAddress = std::to_string(payload[offsetWiredAddress]);
  fields.wirelessProtocol = payload[offsetWirelessProtocol];
  fields.wirelessMode = payload[offsetWirelessMode];
  char key[33];
  keyToHexText(payload + offsetKek, key);
  fields.kek = key;
  keyToHexText(payload + offsetMasterKey, key);
  fields.masterKey = key;
  // A code without letters (bit 15 set) shows as an empty field.
  char letters[4] = {};
  manufacturerCodeToText(payload + offsetManufacturer, letters);
  fields.manufacturer = letters;
  char id[9];
  idToHexText(payload + offsetDeviceId, id);
  fields.deviceId = id;
  fields.version = hexText(payload[offsetVersion]);
  fields.media = hexText(payload[offsetMedia]);
  view.writeSlot(s, fields);
  view.writeWired(WiredSettings{payload[offsetWiredProtocol], payload[offsetWiredMode]});
  return true;
}
