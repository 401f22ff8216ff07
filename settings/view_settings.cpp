// Settings files to and from the settings fields: each field goes through the file's own checks.
#include "settings/view_settings.h"

#include <utility>

#include "converter/slot_data.h"

namespace {

// The entry's name, or a text no entry has, so the file's check names the field.
std::string entryName(const char* const* entries, int count, int index) {
  return index >= 0 && index < count ? entries[index] : "(none selected)";
}

bool slotFromFields(int s, const SlotFields& shown, SlotFields& slot, std::string& error) {
  std::string deviceId = shown.deviceId;
  padDeviceIdText(deviceId);
  const std::pair<const char*, std::string> fields[] = {
      {"active", shown.active ? "true" : "false"},
      {"manufacturer", shown.manufacturer},
      {"version", shown.version},
      {"deviceId", deviceId},
      {"media", shown.media},
      {"keyEncryptionKey", shown.kek},
      {"masterKey", shown.masterKey},
      {"wirelessProtocol", entryName(protocolEntries, protocolCount, shown.wirelessProtocol)},
      {"wirelessMode", entryName(modeEntries, wirelessModeCount, shown.wirelessMode)},
      {"wiredAddress", shown.wiredAddress},
  };
  WiredSettings unused;
  for (const auto& field : fields) {
    if (!setSettingsField(field.first, field.second, slot, unused, error)) {
      error = "slot " + std::to_string(s + 1) + ": " + error;
      return false;
    }
  }
  return true;
}

}  // namespace

void optionBitsOf(const ConverterOptions& options, bool bits[optionCount]) {
  for (int i = 0; i < optionCount; ++i) bits[i] = options.bytes[i] != 0;
}

bool slotBlank(const SlotFields& f) {
  return !f.active && f.manufacturer.empty() && f.version.empty() && f.deviceId.empty() && f.media.empty() &&
         f.kek.empty() && f.masterKey.empty() && f.wiredAddress.empty();
}

bool settingsFromView(SettingsView& view, const ConverterOptions& options, SettingsFile& settings,
                      std::string& error) {
  settings = SettingsFile{};
  for (int s = 0; s < slotCount; ++s) {
    const SlotFields shown = view.readSlot(s);
    if (slotBlank(shown)) continue;
    if (!slotFromFields(s, shown, settings.slots[s], error)) return false;
    settings.slotPresent[s] = true;
  }
  const WiredSettings wired = view.readWired();
  SlotFields unused;
  if (!setSettingsField("wiredProtocol", entryName(protocolEntries, protocolCount, wired.protocol), unused,
                        settings.wired, error) ||
      !setSettingsField("wiredMode", entryName(modeEntries, wiredModeCount, wired.mode), unused, settings.wired,
                        error))
    return false;
  settings.wiredPresent = true;
  settings.optionsPresent = options.known;
  if (options.known) optionBitsOf(options, settings.options);
  return true;
}

void settingsToView(const SettingsFile& settings, SettingsView& view, ConverterOptions& options) {
  for (int s = 0; s < slotCount; ++s)
    if (settings.slotPresent[s]) view.writeSlot(s, settings.slots[s]);
  if (settings.wiredPresent) view.writeWired(settings.wired);
  if (!settings.optionsPresent) return;
  for (int i = 0; i < optionCount; ++i) options.bytes[i] = settings.options[i] ? 1 : 0;
  options.known = true;
}

bool saveSettingsFile(const std::string& path, SettingsView& view, const ConverterOptions& options,
                      std::string& error) {
  SettingsFile settings;
  return settingsFromView(view, options, settings, error) && writeSettingsFile(path, settings, error);
}

bool loadSettingsFile(const std::string& path, SettingsView& view, ConverterOptions& options, std::string& error) {
  SettingsFile settings;
  if (!readSettingsFile(path, settings, error)) return false;
  settingsToView(settings, view, options);
  return true;
}
