// Survey rows: the heard-meter table and the nearby list joined by address, each key checked.
#include "link/survey_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void securityText(const HeardMeter& meter, char* dest, size_t capacity) {
  MeterTelegram telegram;
  if (parseMeterTelegram(meter.kept, meter.keptLength, LengthByte::absent, telegram) != TelegramStatus::ok) {
    std::snprintf(dest, capacity, "unreadable");
  } else if (telegram.header == TransportHeader::unknown) {
    std::snprintf(dest, capacity, "CI 0x%02X", telegram.ci);
  } else if (telegram.securityMode == 0) {
    std::snprintf(dest, capacity, "none");
  } else {
    std::snprintf(dest, capacity, "mode %u", unsigned(telegram.securityMode));
  }
}

// Manufacturer, then identification number, each most significant byte first.
bool sortsBefore(const SurveyRow& a, const SurveyRow& b) {
  const uint8_t* x = a.address;
  const uint8_t* y = b.address;
  const uint8_t keyA[6] = {x[1], x[0], x[5], x[4], x[3], x[2]};
  const uint8_t keyB[6] = {y[1], y[0], y[5], y[4], y[3], y[2]};
  const int order = std::memcmp(keyA, keyB, sizeof keyA);
  return order < 0 || (order == 0 && std::memcmp(x, y, linkAddressBytes) < 0);
}

void addScans(SurveyRow& row, const NearbyDevice& device) {
  row.scans = device.rssiCount;
  if (device.rssiCount == 0) return;
  row.rssiMinDbm = device.rssiMinDbm;
  row.rssiMaxDbm = device.rssiMaxDbm;
  row.rssiMeanDbm = double(device.rssiSumDbm) / double(device.rssiCount);
}

}  // namespace

void buildSurveyRows(const HeardMeterTable& heard, const NearbyDeviceList* scans, const MeterKeyList& keys,
                     SurveyRows& out) {
  out.count = 0;
  const uint32_t heardCount = heard.count < heardMeterCapacity ? heard.count : heardMeterCapacity;
  for (uint32_t i = 0; i < heardCount; ++i) {
    const HeardMeter& meter = heard.entries[i];
    SurveyRow& row = out.rows[out.count++];
    row = SurveyRow{};
    std::memcpy(row.address, meter.address, linkAddressBytes);
    row.frames = meter.frames;
    row.heard = true;
    securityText(meter, row.security, sizeof row.security);
    row.check = checkHeardMeter(meter, keys);
  }
  if (scans != nullptr) {
    const uint32_t scanCount = scans->count < nearbyCapacity ? scans->count : nearbyCapacity;
    for (uint32_t i = 0; i < scanCount; ++i) {
      const NearbyDevice& device = scans->entries[i];
      SurveyRow* row = nullptr;
      for (size_t r = 0; r < out.count && row == nullptr; ++r)
        if (std::memcmp(out.rows[r].address, device.address, linkAddressBytes) == 0) row = &out.rows[r];
      if (row == nullptr) {
        row = &out.rows[out.count++];
        *row = SurveyRow{};
        std::memcpy(row->address, device.address, linkAddressBytes);
      }
      addScans(*row, device);
    }
  }
  std::sort(out.rows, out.rows + out.count, sortsBefore);
}

bool surveyAllRight(const SurveyRows& rows) {
  for (size_t i = 0; i < rows.count; ++i) {
    const SurveyRow& row = rows.rows[i];
    if (row.heard && row.check.verdict != KeyVerdict::right && row.check.verdict != KeyVerdict::plain) return false;
  }
  return true;
}
