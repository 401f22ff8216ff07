// The settings fields of the main window as the converter logic reads and writes them.
#pragma once
#include <string>

// What a slot's wireless lists show until the user or a file picks otherwise.
constexpr int defaultWirelessProtocol = 4;  // "OMS"
constexpr int defaultWirelessMode = 2;      // "MODE5"

// One device slot as its widgets show it: texts as typed, lists as entry indexes.
struct SlotFields {
  bool active = false;
  std::string manufacturer;  // "Manuf. ID", three letters
  std::string version;       // 2 hex digits
  std::string deviceId;      // 8 hex digits, most significant first
  std::string media;         // 2 hex digits
  std::string kek;           // "Key Encryption Key", 32 hex digits
  std::string masterKey;     // 32 hex digits
  std::string wiredAddress;  // text of the editable combo; "0".."250" name its entries
  int wirelessProtocol = defaultWirelessProtocol;  // entry index in the protocol table
  int wirelessMode = defaultWirelessMode;          // entry index in the mode table (0..7)

  bool operator==(const SlotFields& o) const {
    return active == o.active && manufacturer == o.manufacturer && version == o.version &&
           deviceId == o.deviceId && media == o.media && kek == o.kek && masterKey == o.masterKey &&
           wiredAddress == o.wiredAddress && wirelessProtocol == o.wirelessProtocol &&
           wirelessMode == o.wirelessMode;
  }
};

// "Converter wired interface settings": entry indexes of the two lists.
struct WiredSettings {
  int protocol = 0;
  int mode = 0;
};

// One row of the "Devices Nearby" table.
struct NearbyRowTexts {
  std::string address;
  std::string description;
  std::string rssi;
};

// The window implements this; the logic never touches a widget directly.
class SettingsView {
public:
  virtual ~SettingsView() = default;

  // s is a slot index 0..3.
  virtual SlotFields readSlot(int s) = 0;
  // Sets every field of slot s; setting a field raises no further command.
  virtual void writeSlot(int s, const SlotFields& fields) = 0;
  virtual void setDeviceIdText(int s, const std::string& text) = 0;

  virtual WiredSettings readWired() = 0;
  virtual void writeWired(const WiredSettings& wired) = 0;

  virtual std::string converterKeyText() = 0;
  virtual void setConverterKeyText(const std::string& text) = 0;
  virtual void setConverterIdText(const std::string& text) = 0;

  // The option dialog's check buttons exist only while it runs.
  virtual bool optionDialogOpen() = 0;
  virtual void setOptionCheck(int index, bool ticked) = 0;

  // row is 0..249; text of the "Meter address" column.
  virtual std::string nearbyAddressText(int row) = 0;
  virtual void setNearbyRow(int row, const NearbyRowTexts& texts) = 0;
};
