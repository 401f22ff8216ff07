// What the fuzz targets share: a checked settings view, exact-size copies and a byte reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "converter/answer_parser.h"
#include "converter/slot_data.h"
#include "tests/support/fake_log.h"

// A broken invariant is a finding like any sanitizer report: print it and abort.
#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

// The window's fields as the logic writes them; every index the logic hands over is checked
// against the widget it would address.
class FuzzView : public SettingsView {
public:
  bool dialogOpen = false;
  SlotFields slots[slotCount];
  WiredSettings wired;
  std::string converterKey = "000102030405060708090A0B0C0D0E0F";
  std::string converterId;
  bool checks[optionCount] = {};
  NearbyRowTexts rows[nearbyTableRows];

  SlotFields readSlot(int s) override {
    FUZZ_CHECK(s >= 0 && s < slotCount);
    return slots[s];
  }
  void writeSlot(int s, const SlotFields& fields) override {
    FUZZ_CHECK(s >= 0 && s < slotCount);
    FUZZ_CHECK(fields.wirelessProtocol >= 0 && fields.wirelessProtocol < protocolCount);
    FUZZ_CHECK(fields.wirelessMode >= 0 && fields.wirelessMode < wirelessModeCount);
    FUZZ_CHECK(fields.kek.size() == 32 && fields.masterKey.size() == 32);
    FUZZ_CHECK(fields.deviceId.size() == deviceIdDigits);
    FUZZ_CHECK(fields.manufacturer.size() == 0 || fields.manufacturer.size() == 3);
    slots[s] = fields;
  }
  void setDeviceIdText(int s, const std::string& text) override {
    FUZZ_CHECK(s >= 0 && s < slotCount);
    slots[s].deviceId = text;
  }
  WiredSettings readWired() override { return wired; }
  void writeWired(const WiredSettings& w) override {
    FUZZ_CHECK(w.protocol >= 0 && w.protocol < protocolCount);
    FUZZ_CHECK(w.mode >= 0 && w.mode < wiredModeCount);
    wired = w;
  }
  std::string converterKeyText() override { return converterKey; }
  void setConverterKeyText(const std::string& text) override { converterKey = text; }
  void setConverterIdText(const std::string& text) override { converterId = text; }
  bool optionDialogOpen() override { return dialogOpen; }
  void setOptionCheck(int index, bool ticked) override {
    FUZZ_CHECK(dialogOpen);
    FUZZ_CHECK(index >= 0 && index < optionCount);
    checks[index] = ticked;
  }
  std::string nearbyAddressText(int row) override {
    FUZZ_CHECK(row >= 0 && row < nearbyTableRows);
    return rows[row].address;
  }
  void setNearbyRow(int row, const NearbyRowTexts& texts) override {
    FUZZ_CHECK(row >= 0 && row < nearbyTableRows);
    rows[row] = texts;
  }
};

// Everything an answer may change, fresh for one input. With QUARN_FUZZ_SHOW_LOG set, the log
// of each input goes to stderr, to see what a seed or a finding does.
struct AnswerWorld {
  FuzzView view;
  FakeLog log;
  ConverterOptions options;
  NearbyDeviceList nearby;
  AnswerTargets targets{view, log, options, nearby};

  ~AnswerWorld() {
    static const bool show = std::getenv("QUARN_FUZZ_SHOW_LOG") != nullptr;
    if (show) std::fprintf(stderr, "%s\n-- converter id \"%s\", key \"%s\"\n", log.text.c_str(),
                           view.converterId.c_str(), view.converterKey.c_str());
  }
};

// A heap copy of exactly n bytes (left unset when bytes is null), so that ASan sees a read
// one past the end.
inline std::unique_ptr<uint8_t[]> exactCopy(const uint8_t* bytes, size_t n) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[n == 0 ? 0 : n]);
  if (n > 0 && bytes != nullptr) std::memcpy(copy.get(), bytes, n);
  return copy;
}

// Takes an input apart from the front; past the end every read gives 0 bytes.
struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;

  bool empty() const { return at >= size; }
  size_t left() const { return size - at; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  uint16_t word() {
    uint16_t low = byte();
    return static_cast<uint16_t>(low | (byte() << 8));
  }
  // Up to n bytes; n shrinks to what is left.
  const uint8_t* take(size_t& n) {
    if (n > left()) n = left();
    const uint8_t* p = data + at;
    at += n;
    return p;
  }
};

// Sends standard output (the serial trace lines) away, keeping libFuzzer's stderr.
void silenceStdout();
inline void silenceStdout() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::perror("freopen");
}
