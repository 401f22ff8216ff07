// Wired converter and wireless dongle sessions of the simulator.
#include "sim_session.h"

#include <sys/time.h>

#include <cstring>
#include <ctime>
#include <string>

#include "sim_bytes.h"

namespace {

constexpr uint8_t strayByte = 0x41;
constexpr uint8_t reqUd2Mask = 0xDF;  // FCB bit does not matter
constexpr uint8_t reqUd2C = 0x5B;
constexpr uint8_t sndNkeC = 0x40;
constexpr uint8_t broadcastAddress = 0xFE;
constexpr size_t floodChunk = 256;
constexpr int64_t otherSpacingMs = 10;  // between the other converters' first frames after a start

// With several converters behind the stick, the transcript says which one a request reached.
std::string partnerTag(const SimSession& s, const SimConverter& c) {
  if (s.otherCount == 0) return "";
  const uint8_t id[4] = {c.id[3], c.id[2], c.id[1], c.id[0]};
  return "converter " + simHex(id, 4) + ": ";
}

const char* roleName(SimRole r) { return r == SimRole::wired ? "wired" : "dongle"; }

void writeTranscript(SimSession& s, const uint8_t* raw, size_t n, const char* kind,
                     const char* result, const char* decoded) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tmv;
  gmtime_r(&tv.tv_sec, &tmv);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld", tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
                static_cast<long>(tv.tv_usec / 1000));
  std::string hex = simHex(raw, n);
  // With --silent every answer is suppressed; say so where one would have gone out.
  const char* note = s.faults.silent ? " [silent]" : "";
  std::snprintf(s.lastLine, sizeof s.lastLine, "%s\t%s\t%s\t%s\t%s\t%s%s", stamp,
                roleName(s.role), hex.c_str(), kind, result, decoded, note);
  ++s.requestCount;
  if (s.transcript) {
    std::fprintf(s.transcript, "%s\n", s.lastLine);
    std::fflush(s.transcript);
  }
}

void schedule(SimSession& s, const uint8_t* bytes, size_t n, int64_t dueMs, bool hangup) {
  if (s.outCount >= simOutboxSize || n > simActionBytes) return;
  SimAction& a = s.outbox[s.outCount++];
  if (n) std::memcpy(a.bytes, bytes, n);
  a.n = n;
  a.dueMs = dueMs;
  a.hangup = hangup;
}

// Schedules a frame with the write faults applied. Answer faults (stray byte, hang-up,
// stall) touch only frames that answer a request.
void emit(SimSession& s, const uint8_t* frame, size_t n, int64_t dueMs, bool answer) {
  const SimFaults& f = s.faults;
  if (f.silent || n == 0) return;
  uint8_t buf[simActionBytes];
  size_t k = 0;
  if (answer && f.stray) buf[k++] = strayByte;
  if (k + n > sizeof buf) return;
  std::memcpy(buf + k, frame, n);
  k += n;
  if (f.doubleFrames && k + n <= sizeof buf) {
    std::memcpy(buf + k, frame, n);
    k += n;
  }
  // On the dongle link these faults hit frames with a payload, not the bare status reports.
  bool cuttable = k >= 2 && (s.role == SimRole::wired || n > simDongleHeader);
  if (answer && (f.hangupMidframe || f.stallMidpayload) && cuttable) {
    size_t half = k / 2;
    schedule(s, buf, half, dueMs, false);
    if (f.hangupMidframe) {
      schedule(s, nullptr, 0, dueMs + s.timing.splitDelayMs, true);
    } else {
      schedule(s, buf + half, k - half, dueMs + s.timing.stallMs, false);
    }
    return;
  }
  if (f.splitBytes > 0) {
    int64_t t = dueMs;
    for (size_t off = 0; off < k; off += f.splitBytes) {
      size_t piece = k - off < f.splitBytes ? k - off : f.splitBytes;
      schedule(s, buf + off, piece, t, false);
      t += s.timing.splitDelayMs;
    }
    return;
  }
  schedule(s, buf, k, dueMs, false);
}

// ---- wired converter ----

void wiredAnswer(SimSession& s, const uint8_t* payload, size_t n, int64_t due) {
  uint8_t frame[simLinkFrameMax];
  size_t len = simBuildWiredAnswer(s.conv, payload, n, s.faults.badChecksum, frame, sizeof frame);
  emit(s, frame, len, due, true);
}

void wiredShortFrame(SimSession& s, const uint8_t* f, int64_t now) {
  uint8_t c = f[1], a = f[2];
  int64_t due = now + s.timing.replyMs;
  if (a != simConverterLinkAddress && a != broadcastAddress) {
    writeTranscript(s, f, 5, "short", "refused: other address", "");
    return;
  }
  if ((c & reqUd2Mask) == reqUd2C) {
    const char* answer = "identity answer";
    if (s.faults.e5) {
      const uint8_t e5 = simSingleAck;
      emit(s, &e5, 1, due, true);
      answer = "answered E5";
    } else if (s.faults.zero) {
      const uint8_t zero = 0x00;
      emit(s, &zero, 1, due, true);
      answer = "answered 00";
    } else {
      wiredAnswer(s, nullptr, 0, due);
    }
    char decoded[96];
    std::snprintf(decoded, sizeof decoded, "REQ_UD2 counter=%u, %s",
                  static_cast<unsigned>(s.conv.counter), answer);
    writeTranscript(s, f, 5, "REQ_UD2", "accepted", decoded);
    return;
  }
  if (c == sndNkeC) {
    const uint8_t e5 = simSingleAck;
    emit(s, &e5, 1, due, true);
    writeTranscript(s, f, 5, "SND_NKE", "accepted", "link reset");
    return;
  }
  char decoded[32];
  std::snprintf(decoded, sizeof decoded, "C 0x%02X", c);
  writeTranscript(s, f, 5, "short", "refused: unknown", decoded);
}

void wiredLongFrame(SimSession& s, const uint8_t* f, size_t len, int64_t now) {
  uint8_t a = f[5];
  if (a != simConverterLinkAddress) {
    writeTranscript(s, f, len, "long", "refused: other address", "");
    return;
  }
  // The message is the C-field followed by the user data.
  uint8_t msg[simMessageMax + 1];
  size_t n = len - 8 + 1;
  msg[0] = f[4];
  std::memcpy(msg + 1, f + 6, len - 8);
  SimRequestResult r;
  simHandleMessage(s.conv, SimLink::wired, msg, n, r);
  writeTranscript(s, f, len, r.kind, simVerdictText(r.verdict), r.decoded);
  if (r.verdict != SimVerdict::accepted) return;  // refused requests get no answer
  if (r.ackOnly) ++s.writesAccepted;
  int64_t due = now + s.timing.replyMs;
  if (r.ackOnly) {
    const uint8_t e5 = simSingleAck;
    emit(s, &e5, 1, due, true);
  } else {
    wiredAnswer(s, r.answer, r.answerLength, due);
  }
}

void wiredFeed(SimSession& s, int64_t now) {
  uint8_t frame[simLinkFrameMax + 256];
  size_t len = 0;
  for (;;) {
    SimLinkEvent ev = simLinkReaderNext(s.linkReader, frame, sizeof frame, len);
    switch (ev) {
      case SimLinkEvent::none:
        return;
      case SimLinkEvent::shortFrame:
        wiredShortFrame(s, frame, now);
        break;
      case SimLinkEvent::longFrame:
        wiredLongFrame(s, frame, len, now);
        break;
      case SimLinkEvent::badChecksum:
        writeTranscript(s, frame, len, "frame", "refused: bad checksum", "");
        break;
      case SimLinkEvent::noise:
        writeTranscript(s, frame, len, "noise", "refused: unknown", "");
        break;
    }
  }
}

// ---- dongle ----

void dongleStatus(SimSession& s, uint8_t code, int64_t due, bool answer) {
  uint8_t frame[3];
  size_t n = simBuildDongleFrame(code, nullptr, 0, frame, sizeof frame);
  emit(s, frame, n, due, answer);
}

void dongleRadio(SimSession& s, uint8_t code, const uint8_t* radio, size_t n, int64_t due,
                 bool answer) {
  uint8_t frame[simDongleHeader + simDonglePayloadMax];
  size_t len = simBuildDongleFrame(code, radio, n, frame, sizeof frame);
  emit(s, frame, len, due, answer);
}

void converterRadio(SimSession& s, SimConverter& c, const uint8_t* payload, size_t n, int64_t due, bool answer) {
  if (c.silent) return;
  uint8_t radio[simDonglePayloadMax];
  size_t len = simBuildRadioFrame(c, payload, n, radio, sizeof radio);
  dongleRadio(s, simDongleRadio, radio, len, due, answer);
}

// The converter's nearby list before a request: the next eight played meters, each with the
// RSSI it has now.
void refreshScanList(SimSession& s, SimConverter& c) {
  if (s.playedCount == 0) return;
  const size_t shown = s.playedCount < simMeterMax ? s.playedCount : simMeterMax;
  c.meterCount = shown;
  for (size_t i = 0; i < shown; ++i) {
    SimPlayedMeter& m = s.played[(s.scanRotation + i) % s.playedCount];
    std::memcpy(c.meters[i].address, m.address, 8);
    c.meters[i].rssi = simMeterRssiByte(m, s.noiseSeed);
  }
  s.scanRotation = (s.scanRotation + shown) % s.playedCount;
}

void announceFrame(SimSession& s, int64_t due) {
  // A frame whose header announces the configured length; at most a buffer's worth follows.
  uint8_t frame[simDongleHeader + simDonglePayloadMax];
  size_t announced = static_cast<size_t>(s.faults.announce) & 0xFFFF;
  frame[0] = simDongleRadio;
  frame[1] = static_cast<uint8_t>(announced & 0xFF);
  frame[2] = static_cast<uint8_t>(announced >> 8);
  size_t body = announced < simDonglePayloadMax ? announced : simDonglePayloadMax;
  size_t len = simBuildRadioFrame(s.conv, nullptr, 0, frame + 3, sizeof frame - 3);
  for (size_t i = len; i < body; ++i) frame[3 + i] = 0x55;
  (void)len;  // cut short when the announced length is below the frame's
  if (s.faults.silent) return;
  schedule(s, frame, 3 + body, due, false);
}

void dongleFrame(SimSession& s, uint8_t code, const uint8_t* payload, size_t n, int64_t now) {
  uint8_t raw[simDongleHeader + simDonglePayloadMax];
  size_t rawLen = simBuildDongleFrame(code, payload, n, raw, sizeof raw);
  char kind[24];
  std::snprintf(kind, sizeof kind, "dongle 0x%02X", code);
  if (s.faults.nack) {
    dongleStatus(s, simDongleNack, now + s.timing.replyMs, true);
    writeTranscript(s, raw, rawLen, kind, "refused: nack", "NACK sent (fault)");
    return;
  }
  int64_t due = now + s.timing.replyMs;
  if (code == simDongleStart && n == 0) {
    dongleStatus(s, simDongleAck, due, true);
    // A fresh listener hears the converter at once.
    converterRadio(s, s.conv, nullptr, 0, due + s.timing.sentMs, false);
    // The others follow one by one, through the tick, so the outbox never fills with them.
    for (size_t i = 0; i < s.otherCount; ++i)
      s.otherBeaconMs[i] = due + s.timing.sentMs + static_cast<int64_t>(i + 1) * otherSpacingMs;
    if (s.faults.announce >= 0) announceFrame(s, due + 2 * s.timing.sentMs);
    writeTranscript(s, raw, rawLen, kind, "accepted", "start");
    return;
  }
  if (code == simDonglePartner) {
    if (n != 8) {
      dongleStatus(s, simDongleNack, due, true);
      writeTranscript(s, raw, rawLen, kind, "refused: bad header", "partner address length");
      return;
    }
    std::memcpy(s.partner, payload, 8);
    s.partnerSet = true;
    // A partner that is none of the converters leaves requests with the first, as before.
    s.partnerIndex = 0;
    bool known = false;
    for (size_t i = 0; i <= s.otherCount && !known; ++i) {
      const SimConverter& c = i == 0 ? s.conv : s.others[i - 1];
      const uint8_t own[8] = {simRadioManufacturer[0], simRadioManufacturer[1], c.id[0], c.id[1],
                              c.id[2], c.id[3], c.version, simDeviceTypeConverter};
      known = std::memcmp(own, payload, 8) == 0;
      if (known) s.partnerIndex = i;
    }
    char decoded[96];
    std::snprintf(decoded, sizeof decoded, "partner %s (%s)", simHex(payload, 8).c_str(),
                  known ? "this converter" : "another device");
    dongleStatus(s, simDongleAck, due, true);
    writeTranscript(s, raw, rawLen, kind, "accepted", decoded);
    return;
  }
  if (code == simDongleSend && n > 0) {
    dongleStatus(s, simDongleAck, due, true);
    dongleStatus(s, simDongleSent, due + s.timing.sentMs, true);
    SimConverter& c = simPartnerConverter(s);
    SimRequestResult r;
    if (c.silent) {
      writeTranscript(s, raw, rawLen, "secured", "refused: converter silent", partnerTag(s, c).c_str());
      return;
    }
    refreshScanList(s, c);
    simHandleMessage(c, SimLink::wireless, payload, n, r);
    writeTranscript(s, raw, rawLen, r.kind, simVerdictText(r.verdict), (partnerTag(s, c) + r.decoded).c_str());
    if (r.verdict != SimVerdict::accepted) return;
    if (r.ackOnly) ++s.writesAccepted;
    // Acknowledgement-only commands are followed by a status frame with the new counter.
    converterRadio(s, c, r.answer, r.answerLength, due + s.timing.sentMs + s.timing.replyMs, true);
    return;
  }
  dongleStatus(s, simDongleNack, due, true);
  writeTranscript(s, raw, rawLen, kind, "refused: unknown", "");
}

void dongleFeed(SimSession& s, int64_t now) {
  uint8_t payload[simDonglePayloadMax];
  for (;;) {
    uint8_t code = 0;
    size_t n = 0, announced = 0;
    SimDongleEvent ev =
        simDongleReaderNext(s.dongleReader, code, payload, sizeof payload, n, announced);
    if (ev == SimDongleEvent::none) return;
    if (ev == SimDongleEvent::tooLong) {
      uint8_t head[3] = {code, static_cast<uint8_t>(announced & 0xFF),
                         static_cast<uint8_t>(announced >> 8)};
      char kind[24];
      std::snprintf(kind, sizeof kind, "dongle 0x%02X", code);
      writeTranscript(s, head, 3, kind, "refused: too long", "");
      continue;
    }
    dongleFrame(s, code, payload, n, now);
  }
}

uint32_t nextNoise(SimSession& s) {
  s.noiseSeed = s.noiseSeed * 1103515245u + 12345u;
  return s.noiseSeed >> 8;
}

void meterRadio(SimSession& s, int64_t now) {
  const SimMeter& m = s.conv.meters[(s.beaconCount / 2) % (s.conv.meterCount ? s.conv.meterCount : 1)];
  if (m.address[0] == simRadioManufacturer[0] && m.address[1] == simRadioManufacturer[1]) return;
  uint8_t radio[32];
  size_t k = 0;
  radio[k++] = simCFieldRadio;
  std::memcpy(radio + k, m.address, 8);
  k += 8;
  radio[k++] = simCiAnswerRadio;
  radio[k++] = static_cast<uint8_t>(s.beaconCount);
  radio[k++] = 0x00;
  radio[k++] = 0x00;
  radio[k++] = 0x00;
  // A volume record, so the frame looks like a meter's.
  radio[k++] = 0x0C;
  radio[k++] = 0x13;
  simPut32(radio + k, 0x00012345u + s.beaconCount);
  k += 4;
  dongleRadio(s, simDongleRadio, radio, k, now, false);
}

void ignoredFrame(SimSession& s, int64_t now) {
  // Looks like the converter, but code 0x0D frames must be dropped unread.
  uint8_t radio[simDonglePayloadMax];
  size_t len = simBuildRadioFrame(s.conv, nullptr, 0, radio, sizeof radio);
  dongleRadio(s, simDongleIgnored, radio, len, now, false);
}

// The other converters send as the first does, spread over its period.
void othersTick(SimSession& s, int64_t now) {
  if (s.timing.beaconMs <= 0) return;
  const int64_t spread = s.timing.beaconMs / static_cast<int64_t>(s.otherCount + 1);
  for (size_t i = 0; i < s.otherCount; ++i) {
    if (s.otherBeaconMs[i] == 0) s.otherBeaconMs[i] = now + static_cast<int64_t>(i + 1) * spread;
    if (now < s.otherBeaconMs[i]) continue;
    s.otherBeaconMs[i] = now + s.timing.beaconMs;
    converterRadio(s, s.others[i], nullptr, 0, now, false);
  }
}

// Each played meter sends at its own interval, spread over the first one.
void playedTick(SimSession& s, int64_t now) {
  for (size_t i = 0; i < s.playedCount; ++i) {
    SimPlayedMeter& m = s.played[i];
    if (m.nextMs == 0) m.nextMs = now + static_cast<int64_t>(i + 1) * m.intervalMs / static_cast<int64_t>(s.playedCount + 1);
    if (now < m.nextMs) continue;
    m.nextMs = now + m.intervalMs;
    uint8_t telegram[simTelegramMax];
    const size_t n = simMeterTelegram(m, telegram, sizeof telegram);
    if (n > 0) dongleRadio(s, simDongleRadio, telegram, n, now, false);
  }
}

void dongleTick(SimSession& s, int64_t now) {
  othersTick(s, now);
  playedTick(s, now);
  if (s.timing.beaconMs <= 0 || now < s.nextBeaconMs) return;
  s.nextBeaconMs = now + s.timing.beaconMs;
  converterRadio(s, s.conv, nullptr, 0, now, false);
  if (s.faults.unknownStatus) dongleStatus(s, simDongleUnknownStatus, now, false);
  if (!s.faults.quietAir) {
    if (s.beaconCount % 2 == 1 && s.playedCount == 0) meterRadio(s, now);
    if (s.beaconCount % 3 == 2) ignoredFrame(s, now);
  }
  ++s.beaconCount;
}

}  // namespace

SimFaults simDefaultFaults() {
  SimFaults f;
  std::memset(&f, 0, sizeof f);
  f.announce = -1;
  f.unplugAfterMs = -1;
  f.replugAfterMs = -1;
  return f;
}

SimTiming simDefaultTiming() {
  SimTiming t;
  t.replyMs = 20;
  t.sentMs = 30;
  t.beaconMs = 1000;
  t.splitDelayMs = 40;
  t.stallMs = 3000;
  t.partialMs = 1000;
  return t;
}

void simSessionInit(SimSession& s, SimRole role, const SimFaults& faults, const SimTiming& timing) {
  std::memset(&s, 0, sizeof s);
  s.role = role;
  s.faults = faults;
  s.timing = timing;
  simConverterInit(s.conv);
  simLinkReaderReset(s.linkReader);
  simDongleReaderReset(s.dongleReader);
  s.noiseSeed = 0x51A7u;
}

SimConverter& simPartnerConverter(SimSession& s) {
  return s.partnerIndex == 0 || s.partnerIndex > s.otherCount ? s.conv : s.others[s.partnerIndex - 1];
}

void simSessionResetInput(SimSession& s) {
  simLinkReaderReset(s.linkReader);
  simDongleReaderReset(s.dongleReader);
}

void simSessionUnplug(SimSession& s) {
  simSessionResetInput(s);
  s.outCount = 0;
}

void simSessionFeed(SimSession& s, const uint8_t* bytes, size_t n, int64_t nowMs) {
  s.lastInputMs = nowMs;
  size_t done = 0;
  while (done < n) {
    size_t taken = s.role == SimRole::wired
                       ? simLinkReaderPush(s.linkReader, bytes + done, n - done)
                       : simDongleReaderPush(s.dongleReader, bytes + done, n - done);
    done += taken;
    if (s.role == SimRole::wired) {
      wiredFeed(s, nowMs);
    } else {
      dongleFeed(s, nowMs);
    }
    if (taken == 0) {
      // The reader is full of an incomplete frame that can never complete: drop it.
      writeTranscript(s, bytes + done, 0, "overflow", "refused: unknown", "input buffer full");
      simSessionResetInput(s);
    }
  }
}

void simSessionTick(SimSession& s, int64_t nowMs) {
  size_t pending = s.role == SimRole::wired ? s.linkReader.count : s.dongleReader.count;
  if (pending && nowMs - s.lastInputMs > s.timing.partialMs) {
    const uint8_t* raw = s.role == SimRole::wired ? s.linkReader.bytes : s.dongleReader.bytes;
    writeTranscript(s, raw, pending, "partial", "refused: incomplete frame", "");
    simSessionResetInput(s);
  }
  if (s.role == SimRole::dongle) dongleTick(s, nowMs);
  if (s.faults.flood && s.outCount == 0 && !s.faults.silent) {
    uint8_t junk[floodChunk];
    for (uint8_t& b : junk) b = static_cast<uint8_t>(nextNoise(s));
    schedule(s, junk, sizeof junk, nowMs, false);
  }
}

bool simSessionTakeDue(SimSession& s, int64_t nowMs, SimAction& out) {
  size_t best = s.outCount;
  for (size_t i = 0; i < s.outCount; ++i) {
    if (s.outbox[i].dueMs <= nowMs && (best == s.outCount || s.outbox[i].dueMs < s.outbox[best].dueMs))
      best = i;
  }
  if (best == s.outCount) return false;
  out = s.outbox[best];
  for (size_t i = best + 1; i < s.outCount; ++i) s.outbox[i - 1] = s.outbox[i];
  --s.outCount;
  return true;
}

int64_t simSessionNextDueMs(const SimSession& s) {
  int64_t best = -1;
  for (size_t i = 0; i < s.outCount; ++i)
    if (best < 0 || s.outbox[i].dueMs < best) best = s.outbox[i].dueMs;
  return best;
}
