// A converter's settings written and read back, step by step, with the first failure recorded.
#include "cli/converter_apply.h"

#include <cstdlib>

#include "converter/slot_data.h"
#include "settings/view_settings.h"

namespace {

void differ(std::vector<FieldDifference>& out, const std::string& field, const std::string& wanted,
            const std::string& found) {
  if (wanted != found) out.push_back({field, wanted, found});
}

std::string differenceText(const FieldDifference& d) { return d.field + ": wrote " + d.wanted + ", read " + d.found; }

bool mismatch(ApplyProgress& progress, const std::string& step, const std::string& lead, const FieldDifference& d) {
  progress.code = exitMismatch;
  progress.step = step;
  progress.reason = differenceText(d);
  progress.message = lead + progress.reason;
  return false;
}

}  // namespace

void slotDifferences(const std::string& prefix, const SlotFields& w, const SlotFields& r,
                     std::vector<FieldDifference>& out) {
  differ(out, prefix + "active", w.active ? "true" : "false", r.active ? "true" : "false");
  differ(out, prefix + "manufacturer", w.manufacturer, r.manufacturer);
  differ(out, prefix + "deviceId", w.deviceId, r.deviceId);
  differ(out, prefix + "version", w.version, r.version);
  differ(out, prefix + "media", w.media, r.media);
  differ(out, prefix + "keyEncryptionKey", w.kek, r.kek);
  differ(out, prefix + "masterKey", w.masterKey, r.masterKey);
  differ(out, prefix + "wirelessProtocol", protocolEntries[w.wirelessProtocol], protocolEntries[r.wirelessProtocol]);
  differ(out, prefix + "wirelessMode", modeEntries[w.wirelessMode], modeEntries[r.wirelessMode]);
  differ(out, prefix + "wiredAddress", std::to_string(std::atoi(w.wiredAddress.c_str())),
         std::to_string(std::atoi(r.wiredAddress.c_str())));
}

void wiredDifferences(const WiredSettings& w, const WiredSettings& r, std::vector<FieldDifference>& out) {
  differ(out, "wired.protocol", protocolEntries[w.protocol], protocolEntries[r.protocol]);
  differ(out, "wired.mode", modeEntries[w.mode], modeEntries[r.mode]);
}

void optionDifferences(const bool wanted[optionCount], const bool found[optionCount],
                       std::vector<FieldDifference>& out) {
  for (int i = 0; i < optionCount; ++i)
    differ(out, std::string("options.") + optionKeys[i], wanted[i] ? "on" : "off", found[i] ? "on" : "off");
}

bool waitFailed(ApplyProgress& progress, CliSession& session, WaitEnd end, const std::string& step) {
  progress.step = step;
  if (end == WaitEnd::lost) {
    progress.code = exitPort;
    progress.reason = session.lostText().empty() ? "link lost" : session.lostText();
  } else if (end == WaitEnd::notSent) {
    progress.code = exitPort;
    progress.reason = session.notSentText();
  } else {
    progress.code = exitNoAnswer;
    progress.reason = std::string("no answer") + (session.wireless() || !session.records().state.securedMessages
                                                      ? ""
                                                      : " (wrong converter key, or converter out of reach)");
  }
  progress.message = step + " failed: " + progress.reason;
  return false;
}

bool writeSlotVerified(ApplyProgress& progress, CliSession& session, int s, const SlotFields& fields,
                       const WiredSettings& wired, int timeoutMs) {
  const std::string name = "slot " + std::to_string(s + 1);
  WaitEnd end = session.setSlot(s, fields, wired, timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(progress, session, end, "Set Data of " + name);
  progress.written.push_back(name);
  end = session.getSlot(s, timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(progress, session, end, "Get Data of " + name + " (read-back)");
  SlotFields wrote = fields;
  padDeviceIdText(wrote.deviceId);
  std::vector<FieldDifference> found;
  slotDifferences("", wrote, session.view().slots[s], found);
  wiredDifferences(wired, session.view().wired, found);
  if (!found.empty()) return mismatch(progress, name + " read-back", name + " read back differs: ", found[0]);
  return true;
}

bool writeOptionsVerified(ApplyProgress& progress, CliSession& session, const bool bits[optionCount], int timeoutMs) {
  WaitEnd end = session.writeOptions(bits, timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(progress, session, end, "write option bits");
  progress.written.push_back("option bits");
  end = session.readOptions(timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(progress, session, end, "read option bits (read-back)");
  bool read[optionCount];
  optionBitsOf(session.records().options, read);
  std::vector<FieldDifference> found;
  optionDifferences(bits, read, found);
  if (found.empty()) return true;
  found[0].field = found[0].field.substr(std::string("options.").size());
  return mismatch(progress, "option bits read-back", "option bits read back differ: ", found[0]);
}

bool applySettings(ApplyProgress& progress, CliSession& session, const SettingsFile& file, int timeoutMs) {
  bool anySlot = false;
  for (int s = 0; s < slotCount; ++s) {
    if (!file.slotPresent[s]) continue;
    anySlot = true;
    if (!writeSlotVerified(progress, session, s, file.slots[s], file.wired, timeoutMs)) return false;
  }
  // Wired settings travel with a slot: without one in the file, slot 1 goes back as it is.
  if (file.wiredPresent && !anySlot) {
    const WaitEnd end = session.getSlot(0, timeoutMs);
    if (end != WaitEnd::answered) return waitFailed(progress, session, end, "Get Data of slot 1");
    if (!writeSlotVerified(progress, session, 0, session.view().slots[0], file.wired, timeoutMs)) return false;
  }
  return !file.optionsPresent || writeOptionsVerified(progress, session, file.options, timeoutMs);
}
