// Hot paths of the plain libraries: the wired receiver, secured messages, answer parsing and
// the key lists.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/key_list.h"
#include "codec/link_state.h"
#include "codec/message_codec.h"
#include "converter/answer_parser.h"
#include "converter/slot_data.h"
#include "mbus/link_frame.h"
#include "link/converter_link.h"
#include "link/wired_answer.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t fullList = keyListCapacity;  // 65,536 entries, the most a list holds
constexpr size_t streamFrames = 64;

// The log as the logic sees it, writing nowhere.
class NullLog : public Log {
public:
  void logText(const char*, int) override {}
  void logTimestamp() override {}
  void logHexDump(const uint8_t*, size_t, int) override {}
  void clearLog() override {}
};

class CountingListener : public WiredFrameListener {
public:
  void onLongFrame(const uint8_t*, uint16_t) override { ++frames; }
  size_t frames = 0;
};

// Keeps the last frame written on either link, as the serial layer would send it.
class RecordingTransport : public MessageTransport {
public:
  bool wiredPortOpen() override { return true; }
  bool writeWired(const uint8_t* frame, size_t length, std::string&) override { return keep(frame, length); }
  bool writeDongleFrame(const uint8_t* frame, size_t length, std::string&) override {
    return keep(frame, length);
  }
  size_t lastLength = 0;

private:
  bool keep(const uint8_t* frame, size_t length) {
    lastLength = length < sizeof last ? length : sizeof last;
    std::memcpy(last, frame, lastLength);
    return true;
  }
  uint8_t last[600];
};

// Settings fields that take what the parser writes and forget it.
class NoOpView : public SettingsView {
public:
  SlotFields readSlot(int) override { return SlotFields(); }
  void writeSlot(int, const SlotFields&) override { ++writes; }
  void setDeviceIdText(int, const std::string&) override {}
  WiredSettings readWired() override { return WiredSettings(); }
  void writeWired(const WiredSettings&) override {}
  std::string converterKeyText() override { return std::string(); }
  void setConverterKeyText(const std::string&) override {}
  void setConverterIdText(const std::string&) override {}
  bool optionDialogOpen() override { return false; }
  void setOptionCheck(int, bool) override {}
  std::string nearbyAddressText(int) override { return std::string(); }
  void setNearbyRow(int, const NearbyRowTexts&) override {}
  size_t writes = 0;
};

// A filled device slot as the window shows it.
SlotFields sampleSlot() {
  SlotFields f;
  f.active = true;
  f.manufacturer = "KAM";
  f.version = "1B";
  f.deviceId = "12345678";
  f.media = "07";
  f.kek = "000102030405060708090A0B0C0D0E0F";
  f.masterKey = "F0E1D2C3B4A5968778695A4B3C2D1E0F";
  f.wiredAddress = "17";
  f.wirelessProtocol = 5;
  f.wirelessMode = 3;
  return f;
}

// The converter's answer to Get Data for slot 2: the slot record under the 0x92 code.
Bytes getDataAnswer() {
  uint8_t record[slotRecordLength];
  buildSlotRecord(2, sampleSlot(), WiredSettings{3, 1}, record);
  record[2] = commandGetData;
  return Bytes(record, record + slotRecordLength);
}

// A wired answer as the converter sends it: long frame, CI 0x72, 12-byte header, payload.
Bytes wiredAnswerFrame(const Bytes& payload) {
  Bytes data = {0x72, 0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x01, 0x36, 0x05, 0x00, 0x00, 0x00};
  data.insert(data.end(), payload.begin(), payload.end());
  LinkFrameBuffer buffer{};
  buildLongFrame(buffer, converterLinkAddress, 0x08, data.data(), data.size());
  uint16_t length = 0;
  const uint8_t* frame = frameBuffer(buffer, length);
  return Bytes(frame, frame + length);
}

// What a busy wired line delivers: Get Data answers, identity answers, E5 acknowledgements.
Bytes wiredStream() {
  const Bytes getData = wiredAnswerFrame(getDataAnswer());
  const Bytes identity = wiredAnswerFrame({0x04, 0xFD, 0x08, 0x10, 0x00, 0x00, 0x00,
                                           0x02, 0xFD, 0x0C, 0x02, 0x01});
  Bytes stream;
  for (size_t i = 0; i < streamFrames; ++i) {
    const Bytes& f = i % 2 == 0 ? getData : identity;
    stream.insert(stream.end(), f.begin(), f.end());
    if (i % 8 == 7) stream.push_back(0xE5);
  }
  return stream;
}

void BM_ReceiveByte(benchmark::State& state) {
  const Bytes stream = wiredStream();
  LinkFrameBuffer receiver{};
  resetReceiver(receiver);
  size_t complete = 0;
  for (auto _ : state) {
    for (uint8_t b : stream) {
      ReceiveResult r = receiveByte(receiver, b);
      if (r != receiveAccepted) {
        if (r == receiveLongComplete) ++complete;
        resetReceiver(receiver);
      }
    }
    benchmark::DoNotOptimize(receiver.length);
  }
  if (complete != streamFrames * state.iterations()) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ReceiveByte);

// The wired wake-up's path, reads of up to wiredReadMax bytes at a time as the port delivers them.
void BM_HandleWiredBytes(benchmark::State& state) {
  const Bytes stream = wiredStream();
  LinkFrameBuffer receiver{};
  resetReceiver(receiver);
  NullLog log;
  CountingListener listener;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += wiredReadMax) {
      size_t n = stream.size() - at < wiredReadMax ? stream.size() - at : wiredReadMax;
      handleWiredBytes(receiver, stream.data() + at, n, log, listener);
    }
  }
  if (listener.frames != streamFrames * state.iterations()) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_HandleWiredBytes);

ConverterLinkState securedLink(LinkMode mode) {
  ConverterLinkState link;
  link.linkMode = mode;
  link.securedMessages = true;
  const uint8_t address[8] = {0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x01, 0x36};
  std::memcpy(link.converterAddress, address, sizeof address);
  loadConverterKey("000102030405060708090A0B0C0D0E0F", link);
  return link;
}

Bytes setDataCommand() {
  uint8_t record[slotRecordLength];
  buildSlotRecord(1, sampleSlot(), WiredSettings{3, 1}, record);
  return Bytes(record, record + slotRecordLength);
}

void BM_BuildSecuredSetData(benchmark::State& state) {
  ConverterLinkState link = securedLink(LinkMode::wireless);
  const Bytes command = setDataCommand();
  uint8_t message[messageCapacity];
  for (auto _ : state) {
    link.messageCounter += counterStep;
    size_t n = buildSecuredMessage(link, command.data(), command.size(), message, sizeof message);
    if (n == 0) state.SkipWithError("not built");
    benchmark::DoNotOptimize(message[n - 1]);
  }
}
BENCHMARK(BM_BuildSecuredSetData);

// The whole command path: key text, secured message, framing, transport and a log that drops it.
void BM_SendSecuredSetData(benchmark::State& state) {
  RecordingTransport transport;
  NoOpView view;
  NullLog log;
  ConverterLink converter(view, log, &transport);
  ConverterLinkState& link = converter.records().state;
  link = securedLink(static_cast<LinkMode>(state.range(0)));
  CommandChannel& channel = converter.channel();
  channel.answerWait = nullptr;  // nothing is ever answered here
  const Bytes command = setDataCommand();
  for (auto _ : state) {
    if (sendConverterCommand(channel, command.data(), command.size()) != 1)
      state.SkipWithError("not sent");
    benchmark::DoNotOptimize(transport.lastLength);
  }
  state.SetLabel(link.linkMode == LinkMode::wired ? "wired" : "wireless");
}
BENCHMARK(BM_SendSecuredSetData)
    ->Arg(static_cast<int>(LinkMode::wired))
    ->Arg(static_cast<int>(LinkMode::wireless));

void BM_ParseGetDataAnswer(benchmark::State& state) {
  const Bytes answer = getDataAnswer();
  NoOpView view;
  NullLog log;
  ConverterOptions options;
  NearbyDeviceList nearby{};
  AnswerTargets targets{view, log, options, nearby};
  for (auto _ : state) {
    if (!parseConverterAnswer(answer.data(), answer.size(), targets))
      state.SkipWithError("answer not taken");
  }
  if (view.writes != static_cast<size_t>(state.iterations())) state.SkipWithError("slot not written");
}
BENCHMARK(BM_ParseGetDataAnswer);

// ---- key lists ----

std::string hex(uint32_t value, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::string key32(uint32_t i, uint32_t salt) {
  return hex(i * 2654435761u ^ salt, 8) + hex(i + salt, 8) + hex(~i, 8) + hex(i * 40503u, 8);
}

// Converter id of entry i: distinct, so a missing id really is missing.
uint32_t entryId(uint32_t i) { return 0x10000000u + i * 7u; }

// Two directories, each with one full list written as an installer's list would look.
class KeyListFiles {
public:
  KeyListFiles() {
    char pattern[] = "/tmp/quarn-bench-keys-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) return;
    root_ = made;
    converterDir_ = root_ + "/dongleKeys";
    meterDir_ = root_ + "/meterKeys";
    mkdir(converterDir_.c_str(), 0700);
    mkdir(meterDir_.c_str(), 0700);
    std::string conv = "# converters\n";
    std::string meter = "# meters\n";
    for (uint32_t i = 0; i < fullList; ++i) {
      conv += "Converter " + std::to_string(i) + ";" + hex(entryId(i), 8) + ";" + key32(i, 1) + "\n";
      meter += "Meter " + std::to_string(i) + ";" + hex(entryId(i), 8) + ";" + key32(i, 2) + ";" +
               key32(i, 3) + "\n";
    }
    ok_ = write(converterDir_ + "/keys.txt", conv) && write(meterDir_ + "/keys.txt", meter);
  }
  ~KeyListFiles() {
    unlink((converterDir_ + "/keys.txt").c_str());
    unlink((meterDir_ + "/keys.txt").c_str());
    rmdir(converterDir_.c_str());
    rmdir(meterDir_.c_str());
    rmdir(root_.c_str());
  }
  bool ok() const { return ok_; }
  const std::string& converterDir() const { return converterDir_; }
  const std::string& meterDir() const { return meterDir_; }

private:
  static bool write(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool whole = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && whole;
  }
  std::string root_, converterDir_, meterDir_;
  bool ok_ = false;
};

KeyListFiles& keyFiles() {
  static KeyListFiles files;
  return files;
}

// Both lists, as start-up loads them; the files stay in the page cache after the first round.
void BM_LoadBothKeyLists(benchmark::State& state) {
  KeyListFiles& files = keyFiles();
  if (!files.ok()) {
    state.SkipWithError("key files not written");
    return;
  }
  auto conv = std::make_unique<ConverterKeyList>();
  auto meter = std::make_unique<MeterKeyList>();
  for (auto _ : state) {
    conv->count = 0;
    meter->count = 0;
    loadKeyList(files.converterDir().c_str(), *conv);
    loadKeyList(files.meterDir().c_str(), *meter);
  }
  if (conv->count != fullList || meter->count != fullList) state.SkipWithError("lists not full");
  state.counters["entries"] = conv->count + meter->count;
}
BENCHMARK(BM_LoadBothKeyLists)->Unit(benchmark::kMillisecond)->UseRealTime();

void idBytes(uint32_t id, uint8_t out[4]) {
  out[0] = static_cast<uint8_t>(id >> 24);
  out[1] = static_cast<uint8_t>(id >> 16);
  out[2] = static_cast<uint8_t>(id >> 8);
  out[3] = static_cast<uint8_t>(id);
}

template <typename List>
std::unique_ptr<List> fullLoadedList(const std::string& dir) {
  auto list = std::make_unique<List>();
  list->count = 0;
  loadKeyList(dir.c_str(), *list);
  return list;
}

// A lookup in a full list; range(0): 0 looks up the last entry, 1 an id that is not listed.
template <typename List, typename Find>
void benchLookup(benchmark::State& state, const std::string& directory, Find find) {
  auto list = fullLoadedList<List>(directory);
  if (list->count != fullList) {
    state.SkipWithError("list not full");
    return;
  }
  bool missing = state.range(0) == 1;
  uint8_t id[4];
  idBytes(missing ? 0x0FFFFFFFu : entryId(fullList - 1), id);
  for (auto _ : state) {
    const auto* e = find(*list, id);
    if ((e == nullptr) != missing) state.SkipWithError("wrong lookup result");
    benchmark::DoNotOptimize(e);
  }
  state.SetLabel(missing ? "missing id" : "last entry");
}

void BM_FindConverterKey(benchmark::State& state) {
  benchLookup<ConverterKeyList>(state, keyFiles().converterDir(), findConverterKey);
}
BENCHMARK(BM_FindConverterKey)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_FindMeterKeys(benchmark::State& state) {
  benchLookup<MeterKeyList>(state, keyFiles().meterDir(), findMeterKeys);
}
BENCHMARK(BM_FindMeterKeys)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
