// The simulated converter: verifies plain and secured messages and carries out commands.
#include "sim_converter.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim_bytes.h"
#include "sim_frames.h"

namespace {

constexpr uint8_t deriveEncWired = 0x10;
constexpr uint8_t deriveMacWired = 0x11;
constexpr uint8_t deriveEncWireless = 0x00;
constexpr uint8_t deriveMacWireless = 0x01;
constexpr uint8_t commandPrefix0 = 0x0F;
constexpr uint8_t commandPrefix1 = 0x35;
constexpr size_t plainHeader = 6;
constexpr size_t macLength = 8;
constexpr size_t scanEntrySize = 10;

struct BuiltInMeter {
  const char* letters;
  uint32_t id;
  uint8_t version;
  uint8_t type;
  uint8_t rssi;
};

// Meters the converter hears; the last one is another converter, which Quarn must skip.
const BuiltInMeter builtInMeters[] = {
    {"KAM", 0x87654321u, 0x1B, 0x16, 0xC8},
    {"ABC", 0x12345678u, 0x01, 0x07, 0x90},
    {"DME", 0x11223344u, 0x40, 0x07, 0xB0},
    {"ELS", 0x00004711u, 0x05, 0x03, 0x30},
};
const uint8_t otherConverter[8] = {0x8F, 0x19, 0x01, 0x00, 0x00, 0x99, 0x01, 0x36};

void appendf(char* buf, size_t cap, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void appendf(char* buf, size_t cap, const char* fmt, ...) {
  size_t used = std::strlen(buf);
  if (used + 1 >= cap) return;
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf + used, cap - used, fmt, ap);
  va_end(ap);
}

void setSlotDefaults(uint8_t* rec, uint8_t s) {
  std::memset(rec, 0, simSlotRecordSize);
  rec[0] = commandPrefix0;
  rec[1] = commandPrefix1;
  rec[2] = simCmdGetData;
  rec[3] = s;
  rec[56] = 0;      // wired protocol "Generic"
  rec[57] = 0;      // wired mode "NONE"
  rec[58] = 4;      // wireless protocol "OMS"
  rec[59] = 2;      // wireless mode "MODE5"
  rec[simWiredAddressOffset] = static_cast<uint8_t>(s + 1);
}

void describeCommand(const uint8_t* p, size_t n, char* buf, size_t cap) {
  if (n < 3) {
    appendf(buf, cap, "short payload");
    return;
  }
  switch (p[2]) {
    case simCmdGetData:
      appendf(buf, cap, "Get Data slot %u", n > 3 ? p[3] : 0xFFu);
      break;
    case simCmdSetData:
      if (n < simSlotRecordSize) {
        appendf(buf, cap, "Set Data (short)");
        break;
      }
      appendf(buf, cap,
              "Set Data slot %u active=%u id=%02X%02X%02X%02X man=%s ver=%02X media=%02X "
              "mk=%s kek=%s wiredProtocol=%u wiredMode=%u wirelessProtocol=%u "
              "wirelessMode=%u wiredAddress=%u",
              p[3], static_cast<unsigned>(simGet32(p + 4)), p[11], p[10], p[9], p[8],
              simManufacturerLetters(static_cast<uint16_t>(p[12] | (p[13] << 8))).c_str(), p[14],
              p[15], simHex(p + 24, 16).c_str(), simHex(p + 40, 16).c_str(), p[56], p[57], p[58],
              p[59], p[61]);
      break;
    case simCmdScan:
      appendf(buf, cap, "Scan");
      break;
    case simCmdReadOptions:
      appendf(buf, cap, "Read option bits");
      break;
    case simCmdWriteOptions:
      appendf(buf, cap, "Write option bits %s",
              n >= 11 ? simHex(p + 3, simOptionCount).c_str() : "(short)");
      break;
    default:
      appendf(buf, cap, "command 0x%02X", p[2]);
      break;
  }
}

// Carries out a command whose framing was verified; the payload is exactly its length.
SimVerdict execute(SimConverter& c, const uint8_t* p, size_t n, SimRequestResult& out) {
  uint8_t code = p[2];
  if (n < simCommandLength(code)) return SimVerdict::unknown;
  switch (code) {
    case simCmdGetData: {
      uint8_t s = p[3];
      if (s >= simSlotCount) return SimVerdict::unknown;
      std::memcpy(out.answer, c.slots[s], simSlotRecordSize);
      out.answer[2] = simCmdGetData;
      out.answer[3] = s;
      out.answerLength = simSlotRecordSize;
      return SimVerdict::accepted;
    }
    case simCmdSetData: {
      uint8_t s = p[3];
      if (s >= simSlotCount) return SimVerdict::unknown;
      std::memcpy(c.slots[s], p, simSlotRecordSize);
      c.slots[s][2] = simCmdGetData;
      if (c.storesWrongly) c.slots[s][simWiredAddressOffset] ^= 0x01;
      out.ackOnly = true;
      return SimVerdict::accepted;
    }
    case simCmdScan: {
      std::memset(out.answer, 0, 4 + simMeterMax * scanEntrySize);
      out.answer[0] = commandPrefix0;
      out.answer[1] = commandPrefix1;
      out.answer[2] = simCmdScan;
      for (size_t i = 0; i < c.meterCount && i < simMeterMax; ++i) {
        uint8_t* e = out.answer + 4 + i * scanEntrySize;
        std::memcpy(e, c.meters[i].address, 8);
        e[8] = c.meters[i].rssi;
      }
      out.answerLength = 4 + simMeterMax * scanEntrySize;
      return SimVerdict::accepted;
    }
    case simCmdReadOptions:
      out.answer[0] = commandPrefix0;
      out.answer[1] = commandPrefix1;
      out.answer[2] = simCmdReadOptions;
      std::memcpy(out.answer + 3, c.options, simOptionCount);
      out.answerLength = 3 + simOptionCount;
      return SimVerdict::accepted;
    case simCmdWriteOptions:
      std::memcpy(c.options, p + 3, simOptionCount);
      out.ackOnly = true;
      return SimVerdict::accepted;
    default:
      return SimVerdict::unknown;
  }
}

bool isCommand(const uint8_t* p, size_t n) {
  return n >= 3 && p[0] == commandPrefix0 && p[1] == commandPrefix1 &&
         simCommandLength(p[2]) != 0;
}

void handlePlain(SimConverter& c, SimLink link, const uint8_t* msg, size_t n,
                 SimRequestResult& out) {
  out.kind = "plain";
  uint8_t cField = link == SimLink::wired ? simCFieldWired : simCFieldWireless;
  if (n < plainHeader + 3 || msg[0] != cField || msg[3] != 0 || msg[4] != 0 || msg[5] != 0) {
    out.verdict = SimVerdict::badHeader;
    return;
  }
  const uint8_t* p = msg + plainHeader;
  size_t pn = n - plainHeader;
  appendf(out.decoded, sizeof out.decoded, "acc=%u ", msg[2]);
  describeCommand(p, pn, out.decoded, sizeof out.decoded);
  // Over the air the converter takes secured messages only.
  if (link == SimLink::wireless || c.options[0] == 0) {
    out.verdict = SimVerdict::plainNotAllowed;
    return;
  }
  if (!isCommand(p, pn) || pn != simCommandLength(p[2])) {
    out.verdict = SimVerdict::unknown;
    return;
  }
  out.verdict = execute(c, p, pn, out);
}

void handleSecured(SimConverter& c, SimLink link, const uint8_t* msg, size_t n,
                   SimRequestResult& out) {
  out.kind = "secured";
  bool wired = link == SimLink::wired;
  if (n < simSecuredHeader + simBlockSize || n > simMessageMax ||
      (n - simSecuredHeader) % simBlockSize != 0) {
    out.verdict = SimVerdict::badHeader;
    return;
  }
  uint32_t counter = simGet32(msg + 6);
  size_t e = n - simSecuredHeader;
  appendf(out.decoded, sizeof out.decoded, "ctr=%u acc=%u ", static_cast<unsigned>(counter),
          msg[27]);
  const uint8_t expectedHead[] = {wired ? simCFieldWired : simCFieldWireless,
                                  simCiSecured,
                                  0x0F,
                                  0x00,
                                  0x2C,
                                  0x25};
  if (std::memcmp(msg, expectedHead, sizeof expectedHead) != 0 ||
      msg[18] != (wired ? simCiWiredInner : simCiWirelessInner) || msg[28] != 0 ||
      msg[29] != e || msg[30] != 0x07 || msg[31] != 0x10) {
    out.verdict = SimVerdict::badHeader;
    return;
  }
  uint8_t address[8];
  simExpectedAddress(c, link, address);
  if (std::memcmp(msg + 19, address, 8) != 0) {
    out.verdict = SimVerdict::wrongAddress;
    return;
  }
  uint8_t macKey[simKeySize], encKey[simKeySize];
  if (!simDeriveKey(c.key, wired ? deriveMacWired : deriveMacWireless, msg + 19, counter,
                    macKey) ||
      !simDeriveKey(c.key, wired ? deriveEncWired : deriveEncWireless, msg + 19, counter,
                    encKey)) {
    out.verdict = SimVerdict::badMac;
    return;
  }
  uint8_t macInput[5 + simMessageMax];
  std::memcpy(macInput, msg + 5, 5);
  std::memcpy(macInput + 5, msg + 18, n - 18);
  uint8_t tag[16];
  if (!simCmac(macKey, macInput, 5 + (n - 18), tag) ||
      std::memcmp(tag, msg + 10, macLength) != 0) {
    out.verdict = SimVerdict::badMac;
    return;
  }
  if (counter <= c.counter) {
    out.verdict = SimVerdict::staleCounter;
    return;
  }
  uint8_t plain[simMessageMax];
  if (!simCbcDecrypt(encKey, msg + simSecuredHeader, e, plain)) {
    out.verdict = SimVerdict::badFill;
    return;
  }
  if (plain[0] != simFill || plain[1] != simFill) {
    out.verdict = SimVerdict::badFill;
    return;
  }
  const uint8_t* p = plain + 2;
  size_t room = e - 2;
  describeCommand(p, room, out.decoded, sizeof out.decoded);
  if (!isCommand(p, room)) {
    out.verdict = SimVerdict::unknown;
    return;
  }
  size_t pn = simCommandLength(p[2]);
  size_t wantE = (pn + 2 + simBlockSize - 1) / simBlockSize * simBlockSize;
  if (pn > room || e != wantE) {
    out.verdict = SimVerdict::badFill;
    return;
  }
  for (size_t i = pn; i < room; ++i) {
    if (p[i] != simFill) {
      out.verdict = SimVerdict::badFill;
      return;
    }
  }
  out.verdict = execute(c, p, pn, out);
  if (out.verdict == SimVerdict::accepted) c.counter = counter;
}

}  // namespace

const char* simVerdictText(SimVerdict v) {
  switch (v) {
    case SimVerdict::accepted: return "accepted";
    case SimVerdict::badHeader: return "refused: bad header";
    case SimVerdict::wrongAddress: return "refused: wrong address";
    case SimVerdict::badMac: return "refused: bad MAC";
    case SimVerdict::staleCounter: return "refused: stale counter";
    case SimVerdict::badFill: return "refused: bad fill";
    case SimVerdict::plainNotAllowed: return "refused: plain not allowed";
    case SimVerdict::unknown: return "refused: unknown";
  }
  return "refused: unknown";
}

size_t simCommandLength(uint8_t code) {
  switch (code) {
    case simCmdGetData: return 4;
    case simCmdSetData: return simSlotRecordSize;
    case simCmdScan: return 3;
    case simCmdReadOptions: return 3;
    case simCmdWriteOptions: return 3 + simOptionCount;
    default: return 0;
  }
}

void simConverterInit(SimConverter& c) {
  std::memset(&c, 0, sizeof c);
  simPut32(c.id, 0x12345678u);
  c.manufacturer = static_cast<uint16_t>(simManufacturerFromLetters("KAM"));
  c.version = 0x01;
  c.firmware = 0x0102;
  c.counter = 0;
  for (size_t i = 0; i < simKeySize; ++i) c.key[i] = static_cast<uint8_t>(i);
  c.options[0] = 1;  // plain wired configuration allowed, so a fresh demo works unsecured
  for (uint8_t s = 0; s < simSlotCount; ++s) setSlotDefaults(c.slots[s], s);
  c.meterCount = 0;
  for (const BuiltInMeter& m : builtInMeters) {
    SimMeter& e = c.meters[c.meterCount++];
    uint16_t code = static_cast<uint16_t>(simManufacturerFromLetters(m.letters));
    e.address[0] = static_cast<uint8_t>(code & 0xFF);
    e.address[1] = static_cast<uint8_t>(code >> 8);
    simPut32(e.address + 2, m.id);
    e.address[6] = m.version;
    e.address[7] = m.type;
    e.rssi = m.rssi;
  }
  SimMeter& oc = c.meters[c.meterCount++];
  std::memcpy(oc.address, otherConverter, 8);
  oc.rssi = 0xA0;
  // Slot 1 starts filled with the second meter, so a first Get Data shows something.
  uint8_t* rec = c.slots[0];
  simPut32(rec + 4, 1);
  std::memcpy(rec + 8, c.meters[1].address + 2, 4);
  std::memcpy(rec + 12, c.meters[1].address, 2);
  rec[14] = c.meters[1].address[6];
  rec[15] = c.meters[1].address[7];
  std::memcpy(rec + 16, c.meters[1].address, 8);
  for (size_t i = 0; i < 16; ++i) {
    rec[24 + i] = static_cast<uint8_t>(0xA0 + i);
    rec[40 + i] = static_cast<uint8_t>(0xB0 + i);
  }
}

void simExpectedAddress(const SimConverter& c, SimLink link, uint8_t out[8]) {
  if (link == SimLink::wired) {
    std::memcpy(out, c.id, 4);
    out[4] = static_cast<uint8_t>(c.manufacturer & 0xFF);
    out[5] = static_cast<uint8_t>(c.manufacturer >> 8);
  } else {
    // Quarn takes the radio manufacturer as part of the identity and puts it in
    // front of the first two identification bytes.
    out[0] = simRadioManufacturer[0];
    out[1] = simRadioManufacturer[1];
    out[2] = c.id[0];
    out[3] = c.id[1];
    out[4] = simRadioManufacturer[0];
    out[5] = simRadioManufacturer[1];
  }
  out[6] = c.version;
  out[7] = simDeviceTypeConverter;
}

void simHandleMessage(SimConverter& c, SimLink link, const uint8_t* msg, size_t n,
                      SimRequestResult& out) {
  out.verdict = SimVerdict::unknown;
  out.kind = "unknown";
  out.decoded[0] = '\0';
  out.answerLength = 0;
  out.ackOnly = false;
  if (n < 2) {
    out.verdict = SimVerdict::badHeader;
    return;
  }
  if (msg[1] == simCiPlain) {
    handlePlain(c, link, msg, n, out);
  } else if (msg[1] == simCiSecured) {
    handleSecured(c, link, msg, n, out);
  } else {
    appendf(out.decoded, sizeof out.decoded, "CI 0x%02X", msg[1]);
  }
}

size_t simStatusRecords(const SimConverter& c, uint8_t* out, size_t cap) {
  if (c.noRecords || cap < 12) return 0;
  out[0] = 0x04;
  out[1] = 0xFD;
  out[2] = 0x08;
  simPut32(out + 3, c.counter);
  out[7] = 0x02;
  out[8] = 0xFD;
  out[9] = 0x0C;
  out[10] = static_cast<uint8_t>(c.firmware & 0xFF);
  out[11] = static_cast<uint8_t>(c.firmware >> 8);
  return 12;
}

size_t simBuildWiredAnswer(SimConverter& c, const uint8_t* payload, size_t n, bool badChecksum,
                           uint8_t* out, size_t cap) {
  uint8_t data[253];
  if (13 + n + 12 > sizeof data) return 0;
  size_t k = 0;
  data[k++] = simCiAnswerLong;
  std::memcpy(data + k, c.id, 4);
  k += 4;
  data[k++] = static_cast<uint8_t>(c.manufacturer & 0xFF);
  data[k++] = static_cast<uint8_t>(c.manufacturer >> 8);
  data[k++] = c.version;
  data[k++] = simDeviceTypeConverter;
  data[k++] = c.answerAccess++;
  data[k++] = 0x00;  // status
  data[k++] = 0x00;  // signature
  data[k++] = 0x00;
  if (n) std::memcpy(data + k, payload, n);
  k += n;
  k += simStatusRecords(c, data + k, sizeof data - k);
  size_t len = simBuildLongFrame(simCFieldAnswer, simConverterLinkAddress, data, k, out, cap);
  if (len && badChecksum) out[len - 2] = static_cast<uint8_t>(out[len - 2] + 1);
  return len;
}

size_t simBuildRadioFrame(SimConverter& c, const uint8_t* payload, size_t n, uint8_t* out,
                          size_t cap) {
  if (cap < 14 + n + 12) return 0;
  size_t k = 0;
  out[k++] = simCFieldRadio;
  out[k++] = simRadioManufacturer[0];
  out[k++] = simRadioManufacturer[1];
  std::memcpy(out + k, c.id, 4);
  k += 4;
  out[k++] = c.version;
  out[k++] = simDeviceTypeConverter;
  out[k++] = simCiAnswerRadio;
  out[k++] = c.answerAccess++;
  out[k++] = 0x00;  // status
  out[k++] = 0x00;  // configuration field
  out[k++] = 0x00;
  if (n) std::memcpy(out + k, payload, n);
  k += n;
  k += simStatusRecords(c, out + k, cap - k);
  return k;
}
