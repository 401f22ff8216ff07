// The example key folders shipped in the repository load as documented in their comments.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "codec/key_list.h"

namespace {

TEST(ExampleKeyFiles, ConverterExampleLoads) {
  auto list = std::make_unique<ConverterKeyList>();
  list->count = 0;
  loadKeyList(QUARN_SOURCE_DIR "/dongleKeys", *list);
  ASSERT_EQ(list->count, 1u);
  const uint8_t id[4] = {0x12, 0x34, 0x56, 0x78};
  const ConverterKeyEntry* entry = findConverterKey(*list, id);
  ASSERT_NE(entry, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(entry->key[i], i);
}

TEST(ExampleKeyFiles, MeterExampleLoads) {
  auto list = std::make_unique<MeterKeyList>();
  list->count = 0;
  loadKeyList(QUARN_SOURCE_DIR "/meterKeys", *list);
  ASSERT_EQ(list->count, 2u);
  const uint8_t heat[4] = {0x87, 0x65, 0x43, 0x21};
  const MeterKeyEntry* entry = findMeterKeys(*list, heat);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->firstKey[0], 0x00);
  EXPECT_EQ(entry->firstKey[15], 0xFF);
  EXPECT_EQ(entry->secondKey[0], 0xFF);
  EXPECT_EQ(entry->secondKey[15], 0x00);
  const uint8_t water[4] = {0x12, 0x34, 0x56, 0x78};
  entry = findMeterKeys(*list, water);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->firstKey[0], 0x0F);
  const uint8_t zero[16] = {};
  EXPECT_EQ(std::memcmp(entry->secondKey, zero, sizeof zero), 0);
}

}  // namespace
