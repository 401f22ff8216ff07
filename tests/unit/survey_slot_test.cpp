// survey_slot: row texts, the working key a slot gets, and the mark of a planned slot.
#include "link/survey_slot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

// KAM (0x2C2D), ID 12345678, version 1B, device type 07, radio order.
const uint8_t kamAddress[linkAddressBytes] = {0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x1B, 0x07};
const uint8_t firstKey[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                              0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
const uint8_t secondKey[16] = {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87,
                               0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F};

SurveyRow heardRow(KeyVerdict verdict, bool second = false) {
  SurveyRow row;
  std::memcpy(row.address, kamAddress, sizeof kamAddress);
  row.heard = true;
  row.frames = 4;
  std::strcpy(row.security, "mode 5");
  row.check.verdict = verdict;
  row.check.entryKnown = verdict != KeyVerdict::noKey && verdict != KeyVerdict::plain;
  const uint8_t id[4] = {0x12, 0x34, 0x56, 0x78};
  std::memcpy(row.check.entryId, id, 4);
  row.check.secondKey = second;
  row.check.kcvKnown = row.check.entryKnown;
  const uint8_t kcv[3] = {0xAB, 0xCD, 0xEF};
  std::memcpy(row.check.kcv, kcv, 3);
  return row;
}

struct Keys {
  std::unique_ptr<MeterKeyList> list{new MeterKeyList()};
  Keys() {
    list->count = 1;
    const uint8_t id[4] = {0x12, 0x34, 0x56, 0x78};
    std::memcpy(list->entries[0].id, id, 4);
    std::memcpy(list->entries[0].firstKey, firstKey, 16);
    std::memcpy(list->entries[0].secondKey, secondKey, 16);
  }
};

TEST(SurveyRowTextsTest, AHeardAndScannedRowReadsAsTheCliPrintsIt) {
  SurveyRow row = heardRow(KeyVerdict::right);
  row.scans = 3;
  row.rssiMinDbm = -88;
  row.rssiMaxDbm = -18;
  row.rssiMeanDbm = -56.04;
  const SurveyRowTexts t = surveyRowTexts(row);
  EXPECT_EQ(t.id, "12345678");
  EXPECT_EQ(t.manufacturer, "KAM");
  EXPECT_EQ(t.version, "1B");
  EXPECT_EQ(t.type, "07");
  EXPECT_EQ(t.rssi, "-88/-56.0/-18");
  EXPECT_EQ(t.security, "mode 5");
  EXPECT_EQ(t.verdict, "right");
  EXPECT_EQ(t.keyEntry, "12345678");
  EXPECT_EQ(t.kcv, "ABCDEF");
}

TEST(SurveyRowTextsTest, ARowOnlyTheScansNamedHasNoSecurityVerdictOrKey) {
  SurveyRow row;
  std::memcpy(row.address, kamAddress, sizeof kamAddress);
  row.scans = 1;
  const SurveyRowTexts t = surveyRowTexts(row);
  EXPECT_EQ(t.security, "-");
  EXPECT_EQ(t.verdict, "not-heard");
  EXPECT_EQ(t.keyEntry, "");
  EXPECT_EQ(t.kcv, "");
}

// Which key a slot gets for each verdict: the one that works, never a key that did not decrypt.
TEST(SurveyWorkingKeyTest, OnlyADecryptingVerdictGivesAKeyAsItWorks) {
  Keys keys;
  uint8_t reversed[16];
  for (int i = 0; i < 16; ++i) reversed[i] = firstKey[15 - i];
  const struct {
    KeyVerdict verdict;
    bool second;
    const uint8_t* expected;
  } cases[] = {
      {KeyVerdict::right, false, firstKey},      {KeyVerdict::right, true, secondKey},
      {KeyVerdict::reversed, false, reversed},   {KeyVerdict::otherEntry, false, firstKey},
      {KeyVerdict::wrong, false, nullptr},       {KeyVerdict::noKey, false, nullptr},
      {KeyVerdict::plain, false, nullptr},       {KeyVerdict::unsupported, false, nullptr},
  };
  for (const auto& c : cases) {
    uint8_t key[16] = {};
    const bool got = surveyWorkingKey(heardRow(c.verdict, c.second).check, *keys.list, key);
    SCOPED_TRACE(keyVerdictText(c.verdict));
    ASSERT_EQ(got, c.expected != nullptr);
    if (got) {
      EXPECT_EQ(std::memcmp(key, c.expected, 16), 0);
    }
  }
}

TEST(SlotFieldsFromSurveyTest, FillsAddressAndMasterKeyAndKeepsTheRest) {
  Keys keys;
  SlotFields current;
  current.active = true;
  current.kek = "KEEP";
  current.masterKey = "OLD";
  current.wiredAddress = "7";
  const SlotFields right = slotFieldsFromSurvey(heardRow(KeyVerdict::reversed), *keys.list, current);
  EXPECT_EQ(right.manufacturer, "KAM");
  EXPECT_EQ(right.deviceId, "12345678");
  EXPECT_EQ(right.version, "1B");
  EXPECT_EQ(right.media, "07");
  EXPECT_EQ(right.masterKey, "0F0E0D0C0B0A09080706050403020100");
  EXPECT_EQ(right.kek, "KEEP");
  EXPECT_TRUE(right.active);
  EXPECT_EQ(right.wiredAddress, "7");
  const SlotFields wrong = slotFieldsFromSurvey(heardRow(KeyVerdict::wrong), *keys.list, current);
  EXPECT_EQ(wrong.deviceId, "12345678");
  EXPECT_EQ(wrong.masterKey, "OLD");
}

TEST(SurveySlotMarkTest, NamesEachSlotOfTheMeterAndWhatDiffers) {
  const SurveyRow row = heardRow(KeyVerdict::right);
  SlotFields slots[slotCount];
  slots[0].deviceId = "99999999";
  EXPECT_EQ(surveySlotMark(row, slots), "");
  // As typed: lower case, a short ID padded as Set Data pads it, one-digit media.
  slots[1].deviceId = "12345678";
  slots[1].manufacturer = "kam";
  slots[1].version = "1b";
  slots[1].media = "7";
  EXPECT_EQ(surveySlotMark(row, slots), "slot 2");
  slots[1].version = "1C";
  EXPECT_EQ(surveySlotMark(row, slots), "slot 2 differs: version");
  slots[3].deviceId = "12345678";
  slots[3].manufacturer = "ABB";
  slots[3].version = "1B";
  slots[3].media = "";
  EXPECT_EQ(surveySlotMark(row, slots), "slot 2 differs: version; slot 4 differs: manufacturer, media");
}

TEST(SurveySlotMarkTest, AShortDeviceIdIsPaddedBeforeItIsCompared) {
  SurveyRow row = heardRow(KeyVerdict::plain);
  const uint8_t id[4] = {0x03, 0x00, 0x00, 0x00};  // 00000003
  std::memcpy(row.address + 2, id, 4);
  SlotFields slots[slotCount];
  slots[2].deviceId = "3";
  slots[2].manufacturer = "KAM";
  slots[2].version = "1B";
  slots[2].media = "07";
  EXPECT_EQ(surveySlotMark(row, slots), "slot 3");
}

}  // namespace
