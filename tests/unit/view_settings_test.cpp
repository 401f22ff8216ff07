// Settings files to and from the settings fields: which slots go out, how fields are checked,
// what loading leaves alone.
#include <gtest/gtest.h>

#include <string>

#include "settings/view_settings.h"
#include "tests/support/fake_view.h"

namespace {

SlotFields typedSlot() {
  SlotFields f;
  f.active = true;
  f.manufacturer = "KAM";
  f.version = "1b";
  f.deviceId = "345678";  // short: padded as Set Data pads it
  f.media = "07";
  f.kek = "000102030405060708090a0b0c0d0e0f";
  f.masterKey = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF";
  f.wiredAddress = "17";
  f.wirelessProtocol = 11;
  f.wirelessMode = 7;
  return f;
}

TEST(ViewSettings, BlankSlotsStayOutAndTheRestIsNormalisedAndComesBack) {
  FakeView view;
  view.slots[2] = typedSlot();
  view.wired = WiredSettings{9, 8};
  ConverterOptions options;  // never read: not worth saving
  SettingsFile file;
  std::string error;
  ASSERT_TRUE(settingsFromView(view, options, file, error)) << error;
  EXPECT_FALSE(file.slotPresent[0] || file.slotPresent[1] || file.slotPresent[3]);
  ASSERT_TRUE(file.slotPresent[2]);
  EXPECT_EQ(file.slots[2].deviceId, "00345678");
  EXPECT_EQ(file.slots[2].version, "1B");
  EXPECT_EQ(file.slots[2].kek, "000102030405060708090A0B0C0D0E0F");
  EXPECT_TRUE(file.wiredPresent);
  EXPECT_FALSE(file.optionsPresent);
  EXPECT_EQ(view.slots[2].deviceId, "345678") << "saving leaves the fields as typed";

  // The file text reads back, and loading it puts every value where it came from.
  SettingsFile parsed;
  ASSERT_TRUE(parseSettingsText(settingsText(file), parsed, error)) << error;
  FakeView loaded;
  loaded.slots[0].deviceId = "11111111";
  ConverterOptions loadedOptions;
  settingsToView(parsed, loaded, loadedOptions);
  EXPECT_EQ(loaded.slots[0].deviceId, "11111111") << "a slot the file lacks keeps its fields";
  EXPECT_EQ(loaded.slots[2].deviceId, "00345678");
  EXPECT_EQ(loaded.slots[2].wiredAddress, "17");
  EXPECT_EQ(loaded.slots[2].wirelessProtocol, 11);
  EXPECT_EQ(loaded.wired.protocol, 9);
  EXPECT_EQ(loaded.wired.mode, 8);
  EXPECT_FALSE(loadedOptions.known);
  EXPECT_EQ(loadedOptions.bytes[0], 0xFF);
}

TEST(ViewSettings, KnownOptionBitsGoOutAndLoadAsOnesAndZeros) {
  FakeView view;
  ConverterOptions options;
  const uint8_t read[optionCount] = {2, 0, 1, 0, 0, 0, 0, 0xFF};
  for (int i = 0; i < optionCount; ++i) options.bytes[i] = read[i];
  options.known = true;
  SettingsFile file;
  std::string error;
  ASSERT_TRUE(settingsFromView(view, options, file, error)) << error;
  ASSERT_TRUE(file.optionsPresent);
  ConverterOptions loaded;
  settingsToView(file, view, loaded);
  EXPECT_TRUE(loaded.known);
  const uint8_t expected[optionCount] = {1, 0, 1, 0, 0, 0, 0, 1};
  for (int i = 0; i < optionCount; ++i) EXPECT_EQ(loaded.bytes[i], expected[i]) << i;
}

struct BadField {
  void (*spoil)(SlotFields&, WiredSettings&);
  const char* expected;
};

TEST(ViewSettings, AFieldAFileCannotHoldIsNamedAndNothingIsMade) {
  const BadField cases[] = {
      {[](SlotFields& f, WiredSettings&) { f.manufacturer.clear(); }, "slot 2: manufacturer: expected three letters"},
      {[](SlotFields& f, WiredSettings&) { f.wiredAddress = "300"; }, "slot 2: wiredAddress: out of range: 300"},
      {[](SlotFields& f, WiredSettings&) { f.wiredAddress.clear(); }, "slot 2: wiredAddress: expected a whole number"},
      {[](SlotFields& f, WiredSettings&) { f.masterKey = "A0"; }, "slot 2: masterKey: expected 32 hex digits"},
      {[](SlotFields& f, WiredSettings&) { f.wirelessMode = -1; }, "slot 2: wirelessMode: unknown name"},
      {[](SlotFields&, WiredSettings& w) { w.mode = 10; }, "wiredMode: unknown name"},
  };
  for (const BadField& c : cases) {
    FakeView view;
    view.slots[1] = typedSlot();
    c.spoil(view.slots[1], view.wired);
    SettingsFile file;
    std::string error;
    EXPECT_FALSE(settingsFromView(view, ConverterOptions{}, file, error));
    EXPECT_EQ(error.rfind(c.expected, 0), 0u) << error;
  }
}

}  // namespace
