// The check of a whole site plan: across rows, against the key lists, the ports and the template.
#include "settings/site_check.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "codec/key_list.h"
#include "converter/key_find.h"
#include "settings/settings_file.h"
#include "text/hex_text.h"

namespace {

const char* slotColumn(int s) { return sitePlanColumnNames[columnSlot1 + s]; }

bool isKeyText(const std::string& text) { return isHexText(text, 32); }

std::string upper(std::string text) {
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string converterNote(const SitePlanRow& row) {
  return row.converter[0] != '\0' ? std::string(" (converter ") + row.converter + ")" : std::string();
}

// Each converter once; each meter in one slot of one converter.
void checkAcrossRows(SitePlan& plan) {
  for (size_t i = 0; i < plan.count; ++i) {
    const SitePlanRow& row = plan.rows[i];
    for (size_t j = 0; j < i && row.converter[0] != '\0'; ++j)
      if (std::string(row.converter) == plan.rows[j].converter) {
        addSitePlanRowProblem(plan, row, columnConverter,
                              std::string("converter ") + row.converter + " already planned in row " +
                               std::to_string(plan.rows[j].row));
        break;
      }
    for (int s = 0; s < sitePlanSlotCount; ++s) {
      const std::string meter = row.slots[s];
      if (meter.empty()) continue;
      bool seen = false;
      for (size_t j = 0; j <= i && !seen; ++j)
        for (int t = 0; t < sitePlanSlotCount && !seen; ++t) {
          if ((j == i && t >= s) || meter != plan.rows[j].slots[t]) continue;
          seen = true;
          const std::string where = j == i ? "this row's " + std::string(slotColumn(t))
                                           : std::string("row ") + std::to_string(plan.rows[j].row) + ", " +
                                                 slotColumn(t) + converterNote(plan.rows[j]);
          addSitePlanRowProblem(plan, row, columnSlot1 + s, "meter " + meter + " already planned in " + where);
        }
    }
  }
}

void checkKeys(SitePlan& plan, const SiteCheckInputs& inputs) {
  for (size_t i = 0; i < plan.count; ++i) {
    const SitePlanRow& row = plan.rows[i];
    std::string key;
    if (row.converter[0] != '\0' && siteConverterKey(row, inputs, key) == SiteKeySource::none)
      addSitePlanRowProblem(plan, row, columnKey,
                            std::string("no converter key for ") + row.converter +
                             ": none in the row, dongleKeys/ has no entry and Quarnconfig.txt has no key on line 2");
    for (int s = 0; s < sitePlanSlotCount; ++s) {
      std::string masterKey, kek;
      if (row.slots[s][0] != '\0' && inputs.meterKeys != nullptr &&
          !findDeviceKeys(row.slots[s], *inputs.meterKeys, masterKey, kek))
        addSitePlanRowProblem(plan, row, columnSlot1 + s,
                              std::string("no meter key for ") + row.slots[s] + " in meterKeys/");
    }
  }
}

void checkPorts(SitePlan& plan, const SiteCheckInputs& inputs) {
  for (size_t i = 0; i < plan.count; ++i) {
    std::string reason;
    const SitePlanRow& row = plan.rows[i];
    if (row.link[0] != '\0' && !sitePortPresent(row.link, inputs, reason))
      addSitePlanRowProblem(plan, row, columnLink, reason);
  }
}

// Slot k takes what the plan leaves out from the template's slot k, else its first slot; every
// slot write carries the wired settings; wired addresses run from the row's on, one a slot.
void checkTemplate(SitePlan& plan, const SiteCheckInputs& inputs) {
  bool anyMeter = false;
  for (size_t i = 0; i < plan.count; ++i) {
    const SitePlanRow& row = plan.rows[i];
    for (int s = 0; s < sitePlanSlotCount; ++s) {
      if (row.slots[s][0] == '\0') continue;
      anyMeter = true;
      if (row.wiredAddress >= 0 && row.wiredAddress + s > sitePlanMaxWiredAddress)
        addSitePlanRowProblem(plan, row, columnWiredAddress,
                              std::string(slotColumn(s)) + " would get wired address " +
                               std::to_string(row.wiredAddress + s) + " (at most " +
                               std::to_string(sitePlanMaxWiredAddress) + ")");
    }
  }
  const SettingsFile* t = inputs.settingsTemplate;
  if (t == nullptr) return;
  if (!t->wiredPresent) addSitePlanProblem(plan, 0, "", -1, "template: no wired settings (every slot write carries them)");
  const bool anySlot = std::any_of(std::begin(t->slotPresent), std::end(t->slotPresent), [](bool b) { return b; });
  if (anyMeter && !anySlot)
    addSitePlanProblem(plan, 0, "", -1,
                       "template: no slot to take manufacturer, version, media, protocol and mode from");
}

}  // namespace

const char* siteKeySourceName(SiteKeySource source) {
  switch (source) {
    case SiteKeySource::plan: return "plan";
    case SiteKeySource::commandLine: return "--key";
    case SiteKeySource::dongleKeys: return "dongleKeys";
    case SiteKeySource::configFile: return "Quarnconfig.txt";
    case SiteKeySource::none: break;
  }
  return "none";
}

SiteKeySource siteConverterKey(const SitePlanRow& row, const SiteCheckInputs& inputs, std::string& key) {
  if (row.key[0] != '\0') {
    key = row.key;
    return SiteKeySource::plan;
  }
  if (isKeyText(inputs.forcedKey)) {
    key = upper(inputs.forcedKey);
    return SiteKeySource::commandLine;
  }
  uint8_t id[4] = {};
  hexTextToBytes(row.converter, id, sizeof id);
  if (inputs.converterKeys != nullptr)
    if (const ConverterKeyEntry* entry = findConverterKey(*inputs.converterKeys, id)) {
      char text[33];
      keyToHexText(entry->key, text);
      key = text;
      return SiteKeySource::dongleKeys;
    }
  if (isKeyText(inputs.configKey)) {
    key = upper(inputs.configKey);
    return SiteKeySource::configFile;
  }
  return SiteKeySource::none;
}

bool sitePortPresent(const std::string& link, const SiteCheckInputs& inputs, std::string& reason) {
  namespace fs = std::filesystem;
  const std::vector<std::string>& portNames = inputs.portNames;
  // As quarn-cli opens a port: without "/" or "\" it is a name from the port list.
  if (link.find_first_of("/\\") == std::string::npos) {
    if (std::find(portNames.begin(), portNames.end(), link) != portNames.end()) return true;
    reason = "port " + link + " not found (quarn-cli ports lists them)";
    return false;
  }
  std::error_code error;
  const fs::file_status own = fs::symlink_status(link, error);
  if (error || !fs::exists(own)) {
    reason = link + ": no such port";
    return false;
  }
  const fs::file_status target = fs::status(link, error);
  if (error || !fs::exists(target)) {
    const fs::path to = fs::read_symlink(link, error);
    reason = link + ": points nowhere" + (error ? std::string() : " (" + to.string() + " is missing; device unplugged?)");
    return false;
  }
  if (leadsToListedPort(link, inputs.portPaths)) return true;
  reason = link + ": not a serial port (quarn-cli ports lists them)";
  return false;
}

bool leadsToListedPort(const std::string& path, const std::vector<std::string>& portPaths) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path device = fs::canonical(path, error);
  for (const std::string& port : portPaths) {
    std::error_code portError;
    if (!error && fs::canonical(port, portError) == device && !portError) return true;
  }
  return false;
}

void checkSitePlan(SitePlan& plan, const SiteCheckInputs& inputs) {
  if (plan.overBound) return;
  if (plan.count == 0 && plan.problems.empty()) addSitePlanProblem(plan, 0, "", -1, "no converters in the plan");
  checkAcrossRows(plan);
  checkKeys(plan, inputs);
  checkPorts(plan, inputs);
  checkTemplate(plan, inputs);
  std::stable_sort(plan.problems.begin(), plan.problems.end(),
                   [](const SitePlanProblem& a, const SitePlanProblem& b) { return a.row < b.row; });
}
