// The simulator's meters (OpenSSL) against Quarn's telegram parser and key check (its own AES):
// two independent implementations meeting on every mode, and the meter lines quarn-sim refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "codec/meter_key_check.h"
#include "codec/meter_telegram.h"
#include "sim_meters.h"

namespace {

struct PlayCase {
  const char* line;
  KeyVerdict verdict;
  uint8_t mode;
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << c.line; }

class SimMeters : public ::testing::TestWithParam<PlayCase> {};

TEST_P(SimMeters, TelegramsReadRightWithTheirKey) {
  SimPlayedMeter meter;
  std::string error;
  ASSERT_TRUE(simParseMeterLine(GetParam().line, meter, error)) << error;
  std::unique_ptr<MeterKeyList> keys(new MeterKeyList());
  keys->count = 1;
  const uint8_t id[4] = {0x12, 0x34, 0x56, 0x78};
  std::memcpy(keys->entries[0].id, id, 4);
  std::memcpy(keys->entries[0].firstKey, meter.key, 16);
  // Three telegrams in a row: access number and counter move, each still decrypts.
  for (int i = 0; i < 3; ++i) {
    uint8_t telegram[simTelegramMax];
    const size_t n = simMeterTelegram(meter, telegram, sizeof telegram);
    ASSERT_GT(n, 0u);
    MeterTelegram parsed;
    ASSERT_EQ(parseMeterTelegram(telegram, n, LengthByte::absent, parsed), TelegramStatus::ok) << parsed.problem;
    EXPECT_EQ(parsed.securityMode, GetParam().mode);
    EXPECT_EQ(parsed.linkAddress[2], 0x78);
    EXPECT_EQ(checkMeterKey(parsed, *keys).verdict, GetParam().verdict) << "telegram " << i;
  }
}

const PlayCase playCases[] = {
    {"12345678 KAM 1B 07 5 000102030405060708090A0B0C0D0E0F 1000 -70 8", KeyVerdict::right, 5},
    {"12345678 KAM 1B 07 7 F0E1D2C3B4A5968778695A4B3C2D1E0F 1000 -88", KeyVerdict::right, 7},
    {"12345678 ABB 01 02 0 - 500 -60", KeyVerdict::plain, 0},
};

INSTANTIATE_TEST_SUITE_P(Modes, SimMeters, ::testing::ValuesIn(playCases));

TEST(SimMeterLines, RefusedWithWhy) {
  const struct {
    const char* line;
    const char* why;
  } cases[] = {
      {"1234567 KAM 1B 07 5 00 1000 -70", "expected the meter ID (8 hex digits) first"},
      {"12345678 kam 1B 07 5 000102030405060708090A0B0C0D0E0F 1000 -70", "expected the manufacturer as three capital letters"},
      {"12345678 KAM 1B 07 6 000102030405060708090A0B0C0D0E0F 1000 -70", "expected mode 0, 5 or 7"},
      {"12345678 KAM 1B 07 5 - 1000 -70", "expected the key as 32 hex digits (\"-\" only for mode 0)"},
      {"12345678 KAM 1B 07 0 - 10 -70", "expected the interval in ms (50 to 3600000)"},
      {"12345678 KAM 1B 07 0 - 100 -10", "expected the RSSI in dBm (-130 to -20)"},
      {"12345678 KAM 1B 07 0 - 100 -70 5 more", "unexpected \"more\" after the line's fields"},
  };
  for (const auto& c : cases) {
    SimPlayedMeter meter;
    std::string error;
    EXPECT_FALSE(simParseMeterLine(c.line, meter, error)) << c.line;
    EXPECT_EQ(error, c.why) << c.line;
  }
}

TEST(SimMeterRssi, WandersWithinItsBoundAndReadsBackInDbm) {
  SimPlayedMeter meter;
  std::string error;
  ASSERT_TRUE(simParseMeterLine("12345678 KAM 1B 07 0 - 100 -80 6", meter, error)) << error;
  uint32_t seed = 7;
  int lowest = 0, highest = -200;
  for (int i = 0; i < 200; ++i) {
    const int8_t raw = static_cast<int8_t>(simMeterRssiByte(meter, seed));
    const int dbm = raw / 2 - 74;  // as the converter's scan entries are read
    EXPECT_GE(dbm, -86);
    EXPECT_LE(dbm, -74);
    lowest = std::min(lowest, dbm);
    highest = std::max(highest, dbm);
  }
  EXPECT_LT(lowest, highest);  // it does wander
}

}  // namespace
