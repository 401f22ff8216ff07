// The single-converter jobs: each command sent, waited for and read back, with the first
// failure recorded.
#include "jobs/converter_jobs.h"

#include <cstdlib>

#include "converter/slot_data.h"
#include "settings/view_settings.h"

namespace {

void differ(std::vector<FieldDifference>& out, const std::string& field, const std::string& wanted,
            const std::string& found) {
  if (wanted != found) out.push_back({field, wanted, found});
}

std::string differenceText(const FieldDifference& d) { return d.field + ": wrote " + d.wanted + ", read " + d.found; }

bool mismatch(JobOutcome& outcome, const std::string& step, const std::string& lead, const FieldDifference& d) {
  outcome.code = exitMismatch;
  outcome.step = step;
  outcome.reason = differenceText(d);
  outcome.message = lead + outcome.reason;
  return false;
}

void tell(const StepNotice& notice, const JobOutcome& outcome) {
  if (notice) notice(outcome);
}

std::string slotName(int s) { return "slot " + std::to_string(s + 1); }

bool readSlot(JobOutcome& outcome, JobLink& link, int s, int timeoutMs) {
  const WaitEnd end = link.getSlot(s, timeoutMs);
  return end == WaitEnd::answered || waitFailed(outcome, link, end, "Get Data of " + slotName(s));
}

bool readOptions(JobOutcome& outcome, JobLink& link, int timeoutMs, bool bits[optionCount]) {
  const WaitEnd end = link.readOptions(timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(outcome, link, end, "read option bits");
  optionBitsOf(link.records().options, bits);
  return true;
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

bool waitFailed(JobOutcome& outcome, JobLink& link, WaitEnd end, const std::string& step) {
  outcome.step = step;
  if (end == WaitEnd::lost) {
    outcome.code = exitPort;
    outcome.reason = link.lostText().empty() ? "link lost" : link.lostText();
  } else if (end == WaitEnd::notSent) {
    outcome.code = exitPort;
    outcome.reason = link.notSentText();
  } else {
    outcome.code = exitNoAnswer;
    outcome.reason = std::string("no answer") + (link.wireless() || !link.records().state.securedMessages
                                                     ? ""
                                                     : " (wrong converter key, or converter out of reach)");
  }
  outcome.message = step + " failed: " + outcome.reason;
  return false;
}

bool writeSlotVerified(JobOutcome& outcome, JobLink& link, int s, const SlotFields& fields,
                       const WiredSettings& wired, int timeoutMs, const StepNotice& notice) {
  const std::string name = slotName(s);
  WaitEnd end = link.setSlot(s, fields, wired, timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(outcome, link, end, "Set Data of " + name);
  outcome.written.push_back(name);
  tell(notice, outcome);
  end = link.getSlot(s, timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(outcome, link, end, "Get Data of " + name + " (read-back)");
  SlotFields wrote = fields;
  padDeviceIdText(wrote.deviceId);
  std::vector<FieldDifference> found;
  slotDifferences("", wrote, link.link().slot(s), found);
  wiredDifferences(wired, link.link().wiredSettings(), found);
  if (!found.empty()) return mismatch(outcome, name + " read-back", name + " read back differs: ", found[0]);
  outcome.readBack.push_back(name);
  tell(notice, outcome);
  return true;
}

bool writeOptionsVerified(JobOutcome& outcome, JobLink& link, const bool bits[optionCount], int timeoutMs,
                          const StepNotice& notice) {
  WaitEnd end = link.writeOptions(bits, timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(outcome, link, end, "write option bits");
  outcome.written.push_back("option bits");
  tell(notice, outcome);
  end = link.readOptions(timeoutMs);
  if (end != WaitEnd::answered) return waitFailed(outcome, link, end, "read option bits (read-back)");
  bool read[optionCount];
  optionBitsOf(link.records().options, read);
  std::vector<FieldDifference> found;
  optionDifferences(bits, read, found);
  if (!found.empty()) {
    found[0].field = found[0].field.substr(std::string("options.").size());
    return mismatch(outcome, "option bits read-back", "option bits read back differ: ", found[0]);
  }
  outcome.readBack.push_back("option bits");
  tell(notice, outcome);
  return true;
}

JobOutcome applyJob(JobLink& link, const SettingsFile& file, int timeoutMs, const StepNotice& notice) {
  JobOutcome outcome;
  bool anySlot = false;
  for (int s = 0; s < slotCount; ++s) {
    if (!file.slotPresent[s]) continue;
    anySlot = true;
    if (!writeSlotVerified(outcome, link, s, file.slots[s], file.wired, timeoutMs, notice)) return outcome;
  }
  // Wired settings travel with a slot: without one in the file, slot 1 goes back as it is.
  if (file.wiredPresent && !anySlot) {
    if (!readSlot(outcome, link, 0, timeoutMs)) return outcome;
    if (!writeSlotVerified(outcome, link, 0, link.link().slot(0), file.wired, timeoutMs, notice)) return outcome;
  }
  if (file.optionsPresent) writeOptionsVerified(outcome, link, file.options, timeoutMs, notice);
  return outcome;
}

JobOutcome verifyJob(JobLink& link, const SettingsFile& file, int timeoutMs, std::vector<FieldDifference>& differences) {
  JobOutcome outcome;
  bool anySlot = false;
  for (int s = 0; s < slotCount; ++s) {
    if (!file.slotPresent[s] && !(file.wiredPresent && s == 0 && !anySlot)) continue;
    if (!readSlot(outcome, link, s, timeoutMs)) return outcome;
    if (file.slotPresent[s]) {
      anySlot = true;
      SlotFields wanted = file.slots[s];
      padDeviceIdText(wanted.deviceId);
      slotDifferences("slot" + std::to_string(s + 1) + ".", wanted, link.link().slot(s), differences);
    }
  }
  if (file.wiredPresent) wiredDifferences(file.wired, link.link().wiredSettings(), differences);
  if (file.optionsPresent) {
    bool read[optionCount];
    if (!readOptions(outcome, link, timeoutMs, read)) return outcome;
    optionDifferences(file.options, read, differences);
  }
  if (!differences.empty()) {
    outcome.code = exitMismatch;
    outcome.step = "verify";
    outcome.reason = std::to_string(differences.size()) + (differences.size() == 1 ? " field differs" : " fields differ");
    outcome.message = outcome.reason;
  }
  return outcome;
}

JobOutcome getJob(JobLink& link, int s, int timeoutMs, SettingsFile& got) {
  JobOutcome outcome;
  if (!readSlot(outcome, link, s, timeoutMs)) return outcome;
  got.slotPresent[s] = true;
  got.slots[s] = link.link().slot(s);
  got.wiredPresent = true;
  got.wired = link.link().wiredSettings();
  return outcome;
}

JobOutcome setJob(JobLink& link, int s, const SettingsFile& file,
                  const std::vector<std::pair<std::string, std::string>>& fields, int timeoutMs, SettingsFile& wrote) {
  JobOutcome outcome;
  // The fields not given keep what the converter holds.
  if (!readSlot(outcome, link, s, timeoutMs)) return outcome;
  SlotFields slot = link.link().slot(s);
  WiredSettings wired = link.link().wiredSettings();
  if (file.slotPresent[s]) slot = file.slots[s];
  if (file.wiredPresent) wired = file.wired;
  std::string error;
  for (const auto& field : fields) setSettingsField(field.first, field.second, slot, wired, error);
  if (!writeSlotVerified(outcome, link, s, slot, wired, timeoutMs)) return outcome;
  wrote.slotPresent[s] = true;
  wrote.slots[s] = link.link().slot(s);
  wrote.wiredPresent = true;
  wrote.wired = link.link().wiredSettings();
  return outcome;
}

JobOutcome readOptionsJob(JobLink& link, int timeoutMs, bool bits[optionCount]) {
  JobOutcome outcome;
  readOptions(outcome, link, timeoutMs, bits);
  return outcome;
}

JobOutcome writeOptionsJob(JobLink& link, const std::string& text, int timeoutMs, bool bits[optionCount]) {
  JobOutcome outcome;
  // Names change some bits and keep the others: those are read first.
  const bool all = text.size() == size_t(optionCount) && text.find_first_not_of("01") == std::string::npos;
  if (!all && !readOptions(outcome, link, timeoutMs, bits)) return outcome;
  optionBitsOf(link.records().options, bits);
  std::string error;
  parseOptionBits(text, bits, error);
  writeOptionsVerified(outcome, link, bits, timeoutMs);
  return outcome;
}

JobOutcome scanJob(JobLink& link, int timeoutMs) {
  JobOutcome outcome;
  const WaitEnd end = link.scan(timeoutMs);
  if (end != WaitEnd::answered) waitFailed(outcome, link, end, "Scan");
  return outcome;
}

JobOutcome keyFindJob(JobLink& link, int s, bool offline, int timeoutMs, SlotFields& found) {
  JobOutcome outcome;
  if (!offline && !readSlot(outcome, link, s, timeoutMs)) return outcome;
  const bool known = link.link().keyFind(s);
  found = link.link().slot(s);
  if (!known) {
    outcome.code = exitFailed;
    outcome.step = "key find";
    outcome.reason = "no meter key for Device ID " + found.deviceId;
    outcome.message = outcome.reason;
  }
  return outcome;
}

JobOutcome exportJob(JobLink& link, int timeoutMs, SettingsFile& out) {
  JobOutcome outcome;
  for (int s = 0; s < slotCount; ++s)
    if (!readSlot(outcome, link, s, timeoutMs)) return outcome;
  bool bits[optionCount];
  if (!readOptions(outcome, link, timeoutMs, bits)) return outcome;
  // What the converter holds must read back as a file this program accepts.
  std::string error;
  if (!settingsFromView(link.link().view(), link.records().options, out, error)) {
    outcome.code = exitFailed;
    outcome.step = "export";
    outcome.reason = "the converter's settings do not fit a settings file: " + error;
    outcome.message = outcome.reason;
  }
  return outcome;
}

std::string stepList(const std::vector<std::string>& steps) {
  std::string list;
  for (const std::string& step : steps) list += (list.empty() ? "" : ", ") + step;
  return list.empty() ? std::string("nothing") : list;
}

std::string applyResultText(const JobOutcome& outcome) {
  if (outcome.ok()) return "written and read back: " + stepList(outcome.written);
  if (outcome.written.empty()) return outcome.message;
  return outcome.message + "; already written: " + stepList(outcome.written);
}

std::string differenceLines(const std::vector<FieldDifference>& differences) {
  std::string text;
  for (const FieldDifference& d : differences) text += d.field + ": file " + d.wanted + ", converter " + d.found + "\n";
  return text;
}
