// Settings files: checking every field before anything is used, and writing them privately.
#include "settings/settings_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "settings/json_text.h"
#include "text/file_calls.h"
#include "text/hex_text.h"
#include "text/printable_text.h"
#include "text/output_file.h"

using nlohmann::json;
using nlohmann::ordered_json;

const char* const optionKeys[optionCount] = {"unencryptedWiredConfig", "converterSecondaryAddress",
                                             "option3", "option4", "option5", "option6", "option7",
                                             "option8"};

namespace {

const char* const slotKeys[] = {"slot", "active", "manufacturer", "version", "deviceId", "media",
                                "keyEncryptionKey", "masterKey", "wirelessProtocol",
                                "wirelessMode", "wiredAddress"};

std::string shownPath(const std::string& path) { return printableText(path); }

// A failed check: the field's path and why.
struct Fail {
  std::string& error;
  bool operator()(const std::string& path, const std::string& reason) {
    // Texts from the file may hold any bytes; the error reaches terminals and the log.
    error = printableText(path.empty() ? reason : path + ": " + reason);
    return false;
  }
};

std::string typeName(const json& value) { return value.type_name(); }

// A whole number in lo..hi into n; numbers past 2^63 are out of range, never wrapped.
bool wholeIn(const json& value, long long lo, long long hi, long long& n) {
  if (value.is_number_unsigned() && value.get<unsigned long long>() > static_cast<unsigned long long>(hi)) return false;
  n = value.get<long long>();
  return n >= lo && n <= hi;
}

std::string quoted(const std::string& text) {
  // Cut long texts so an error line stays a line.
  const std::string shown = text.size() > 40 ? text.substr(0, 40) + "..." : text;
  return "\"" + shown + "\"";
}

bool checkHex(const std::string& text, size_t digits, const std::string& path, std::string& out,
              Fail& fail) {
  if (text.size() != digits)
    return fail(path, "expected " + std::to_string(digits) + " hex digits, got " +
                          std::to_string(text.size()) + " characters " + quoted(text));
  for (char c : text)
    if (!isHexDigit(c))
      return fail(path, "not a hex digit: '" + std::string(1, c) + "' in " + quoted(text));
  out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  return true;
}

bool checkManufacturer(const std::string& text, const std::string& path, std::string& out,
                       Fail& fail) {
  // Five bits a letter: "@" to "_" are the 32 values a converter can hold.
  const std::string expected = "expected three letters A to Z (5-bit codes \"@\" to \"_\" allowed), got ";
  if (text.size() != 3) return fail(path, expected + quoted(text));
  for (char c : text)
    if (c < '@' || c > '_') return fail(path, expected + quoted(text));
  out = text;
  return true;
}

std::string entryList(const char* const* entries, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += (i ? ", \"" : "\"") + std::string(entries[i]) + "\"";
  return list;
}

bool checkEntry(const json& value, const char* const* entries, int count, const std::string& path,
                int& out, Fail& fail) {
  if (!value.is_string()) return fail(path, "expected a name (string), got " + typeName(value));
  const std::string text = value.get<std::string>();
  for (int i = 0; i < count; ++i)
    if (text == entries[i]) {
      out = i;
      return true;
    }
  return fail(path, "unknown name " + quoted(text) + "; one of " + entryList(entries, count));
}

bool checkString(const json& value, const std::string& path, std::string& out, Fail& fail) {
  if (!value.is_string()) return fail(path, "expected a string, got " + typeName(value));
  out = value.get<std::string>();
  return true;
}

bool checkBool(const json& value, const std::string& path, bool& out, Fail& fail) {
  if (!value.is_boolean()) return fail(path, "expected true or false, got " + typeName(value));
  out = value.get<bool>();
  return true;
}

bool checkWiredAddress(const json& value, const std::string& path, std::string& out, Fail& fail) {
  if (!value.is_number_integer())
    return fail(path, "expected a whole number 0 to " + std::to_string(wiredAddressCount - 1) +
                          ", got " + typeName(value));
  long long n = 0;
  if (!wholeIn(value, 0, wiredAddressCount - 1, n))
    return fail(path, "out of range: " + value.dump() + " (allowed 0 to " +
                          std::to_string(wiredAddressCount - 1) + ")");
  out = std::to_string(n);
  return true;
}

// One slot field by its key; the value already taken from JSON.
bool checkSlotField(const std::string& key, const json& value, const std::string& path,
                    SlotFields& slot, Fail& fail) {
  std::string text;
  if (key == "active") return checkBool(value, path, slot.active, fail);
  if (key == "manufacturer")
    return checkString(value, path, text, fail) && checkManufacturer(text, path, slot.manufacturer, fail);
  if (key == "version") return checkString(value, path, text, fail) && checkHex(text, 2, path, slot.version, fail);
  if (key == "deviceId")
    return checkString(value, path, text, fail) && checkHex(text, deviceIdDigits, path, slot.deviceId, fail);
  if (key == "media") return checkString(value, path, text, fail) && checkHex(text, 2, path, slot.media, fail);
  if (key == "keyEncryptionKey")
    return checkString(value, path, text, fail) && checkHex(text, 32, path, slot.kek, fail);
  if (key == "masterKey")
    return checkString(value, path, text, fail) && checkHex(text, 32, path, slot.masterKey, fail);
  if (key == "wirelessProtocol")
    return checkEntry(value, protocolEntries, protocolCount, path, slot.wirelessProtocol, fail);
  if (key == "wirelessMode")
    return checkEntry(value, modeEntries, wirelessModeCount, path, slot.wirelessMode, fail);
  if (key == "wiredAddress") return checkWiredAddress(value, path, slot.wiredAddress, fail);
  return fail(path, "unknown field");
}

bool checkObject(const json& value, const std::string& path, Fail& fail) {
  if (!value.is_object()) return fail(path, "expected an object, got " + typeName(value));
  return true;
}

bool checkSlot(const json& value, const std::string& path, SettingsFile& settings, Fail& fail) {
  if (!checkObject(value, path, fail)) return false;
  for (const auto& item : value.items()) {
    bool known = false;
    for (const char* key : slotKeys) known = known || item.key() == key;
    if (!known) return fail(path + "." + item.key(), "unknown field");
  }
  for (const char* key : slotKeys)
    if (!value.contains(key)) return fail(path + "." + key, "missing");
  const json& number = value.at("slot");
  if (!number.is_number_integer())
    return fail(path + ".slot", "expected a slot number 1 to 4, got " + typeName(number));
  long long n = 0;
  if (!wholeIn(number, 1, slotCount, n))
    return fail(path + ".slot", "out of range: " + number.dump() + " (allowed 1 to 4)");
  const int s = int(n) - 1;
  if (settings.slotPresent[s]) return fail(path + ".slot", "slot " + std::to_string(n) + " given twice");
  SlotFields slot;
  for (const auto& item : value.items()) {
    if (item.key() == "slot") continue;
    if (!checkSlotField(item.key(), item.value(), path + "." + item.key(), slot, fail)) return false;
  }
  settings.slots[s] = slot;
  settings.slotPresent[s] = true;
  return true;
}

bool checkWired(const json& value, SettingsFile& settings, Fail& fail) {
  if (!checkObject(value, "wired", fail)) return false;
  for (const auto& item : value.items())
    if (item.key() != "protocol" && item.key() != "mode") return fail("wired." + item.key(), "unknown field");
  if (!value.contains("protocol")) return fail("wired.protocol", "missing");
  if (!value.contains("mode")) return fail("wired.mode", "missing");
  if (!checkEntry(value.at("protocol"), protocolEntries, protocolCount, "wired.protocol",
                  settings.wired.protocol, fail))
    return false;
  if (!checkEntry(value.at("mode"), modeEntries, wiredModeCount, "wired.mode", settings.wired.mode, fail))
    return false;
  settings.wiredPresent = true;
  return true;
}

bool checkOptions(const json& value, SettingsFile& settings, Fail& fail) {
  if (!checkObject(value, "options", fail)) return false;
  for (const auto& item : value.items()) {
    bool known = false;
    for (const char* key : optionKeys) known = known || item.key() == key;
    if (!known) return fail("options." + item.key(), "unknown option bit");
  }
  for (int i = 0; i < optionCount; ++i) {
    const std::string path = std::string("options.") + optionKeys[i];
    if (!value.contains(optionKeys[i])) return fail(path, "missing (all eight bits are written together)");
    if (!checkBool(value.at(optionKeys[i]), path, settings.options[i], fail)) return false;
  }
  settings.optionsPresent = true;
  return true;
}

bool checkTop(const json& root, SettingsFile& settings, Fail& fail) {
  if (!checkObject(root, "", fail)) return false;
  for (const auto& item : root.items()) {
    const std::string& key = item.key();
    if (key != "format" && key != "formatVersion" && key != "wired" && key != "options" && key != "slots")
      return fail(key, "unknown field");
  }
  if (!root.contains("format")) return fail("format", "missing (expected \"" + std::string(settingsFormatName) + "\")");
  const json& format = root.at("format");
  if (!format.is_string() || format.get<std::string>() != settingsFormatName)
    return fail("format", "not a Quarn settings file (expected \"" + std::string(settingsFormatName) + "\")");
  if (!root.contains("formatVersion")) return fail("formatVersion", "missing");
  const json& version = root.at("formatVersion");
  if (!version.is_number_integer()) return fail("formatVersion", "expected a whole number, got " + typeName(version));
  long long v = 0;
  if (!wholeIn(version, LLONG_MIN, settingsFormatVersion, v))
    return fail("formatVersion", version.dump() + " is newer than this program reads (" +
                                     std::to_string(settingsFormatVersion) + "); update Quarn");
  if (v < 1) return fail("formatVersion", "out of range: " + std::to_string(v) + " (allowed 1)");
  if (root.contains("wired") && !checkWired(root.at("wired"), settings, fail)) return false;
  if (root.contains("options") && !checkOptions(root.at("options"), settings, fail)) return false;
  if (root.contains("slots")) {
    const json& slots = root.at("slots");
    if (!slots.is_array()) return fail("slots", "expected a list, got " + typeName(slots));
    if (slots.size() > size_t(slotCount)) return fail("slots", "more than four slots");
    for (size_t i = 0; i < slots.size(); ++i)
      if (!checkSlot(slots[i], "slot " + std::to_string(i + 1), settings, fail)) return false;
  }
  bool anySlot = false;
  for (bool present : settings.slotPresent) anySlot = anySlot || present;
  // Every Set Data carries the wired settings, so a slot cannot be written without them.
  if (anySlot && !settings.wiredPresent) return fail("wired", "missing (every slot write carries it)");
  return true;
}

}  // namespace

bool parseSettingsText(const std::string& text, SettingsFile& settings, std::string& error) {
  Fail fail{error};
  settings = SettingsFile{};
  if (text.empty()) return fail("", "empty file");
  json root;
  std::string reason;
  if (!parseJsonText(text, root, reason)) return fail("", reason);
  return checkTop(root, settings, fail);
}

bool readBoundedTextFile(const std::string& path, size_t limit, const char* kind, std::string& text,
                         std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = printableText(path + ": " + std::strerror(errno));
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = shownPath(path) + ": not a regular file";
    return false;
  }
  const std::string most = std::string("a ") + kind + " is at most " + std::to_string(limit);
  if (info.st_size > off_t(limit)) {
    close(fd);
    error = shownPath(path) + ": too large (" + std::to_string(info.st_size) + " bytes; " + most + ")";
    return false;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = shownPath(path) + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, size_t(n));
    // The file may grow while being read; the bound holds all the same.
    if (text.size() > limit) {
      close(fd);
      error = shownPath(path) + ": too large (" + most + " bytes)";
      return false;
    }
  }
  close(fd);
  return true;
}

bool readSettingsFile(const std::string& path, SettingsFile& settings, std::string& error) {
  std::string text;
  if (!readBoundedTextFile(path, settingsFileByteLimit, "settings file", text, error)) return false;
  std::string reason;
  if (!parseSettingsText(text, settings, reason)) {
    error = printableText(path + ": " + reason);
    return false;
  }
  return true;
}

std::string settingsText(const SettingsFile& settings) {
  ordered_json root;
  root["format"] = settingsFormatName;
  root["formatVersion"] = settingsFormatVersion;
  if (settings.wiredPresent) {
    root["wired"]["protocol"] = protocolEntries[settings.wired.protocol];
    root["wired"]["mode"] = modeEntries[settings.wired.mode];
  }
  if (settings.optionsPresent)
    for (int i = 0; i < optionCount; ++i) root["options"][optionKeys[i]] = settings.options[i];
  ordered_json slots = ordered_json::array();
  for (int s = 0; s < slotCount; ++s) {
    if (!settings.slotPresent[s]) continue;
    const SlotFields& f = settings.slots[s];
    ordered_json slot;
    slot["slot"] = s + 1;
    slot["active"] = f.active;
    slot["manufacturer"] = f.manufacturer;
    slot["deviceId"] = f.deviceId;
    slot["version"] = f.version;
    slot["media"] = f.media;
    slot["keyEncryptionKey"] = f.kek;
    slot["masterKey"] = f.masterKey;
    slot["wirelessProtocol"] = protocolEntries[f.wirelessProtocol];
    slot["wirelessMode"] = modeEntries[f.wirelessMode];
    slot["wiredAddress"] = std::atoi(f.wiredAddress.c_str());
    slots.push_back(slot);
  }
  if (!slots.empty()) root["slots"] = slots;
  return jsonDocumentText(root);
}

bool writeSettingsFile(const std::string& path, const SettingsFile& settings, std::string& error,
                       const ReadFiles* reads) {
  return writePrivateTextFile(path, settingsText(settings), error, reads);
}

bool setSettingsField(const std::string& name, const std::string& value, SlotFields& slot,
                      WiredSettings& wired, std::string& error) {
  Fail fail{error};
  if (name == "wiredProtocol")
    return checkEntry(json(value), protocolEntries, protocolCount, name, wired.protocol, fail);
  if (name == "wiredMode") return checkEntry(json(value), modeEntries, wiredModeCount, name, wired.mode, fail);
  json typed = json(value);
  if (name == "active") {
    if (value == "true" || value == "1") typed = true;
    else if (value == "false" || value == "0") typed = false;
    else return fail(name, "expected true or false (or 1 or 0), got " + quoted(value));
  } else if (name == "wiredAddress") {
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
      return fail(name, "expected a whole number 0 to " + std::to_string(wiredAddressCount - 1) + ", got " +
                            quoted(value));
    typed = std::stoll(value);
  } else if (name == "slot") {
    return fail(name, "the slot is chosen on the command line");
  }
  return checkSlotField(name, typed, name, slot, fail);
}

bool parseOptionBits(const std::string& text, bool bits[optionCount], std::string& error) {
  Fail fail{error};
  if (text.size() == size_t(optionCount) && text.find_first_not_of("01") == std::string::npos) {
    for (int i = 0; i < optionCount; ++i) bits[i] = text[size_t(i)] == '1';
    return true;
  }
  bool result[optionCount];
  for (int i = 0; i < optionCount; ++i) result[i] = bits[i];
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(at, end - at);
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    int index = -1;
    for (int i = 0; i < optionCount; ++i)
      if (name == optionKeys[i]) index = i;
    if (index < 0 || eq == std::string::npos)
      return fail("options", "expected eight digits 0 or 1, or name=0|1,... with names " +
                                 entryList(optionKeys, optionCount) + "; got " + quoted(item));
    const std::string v = item.substr(eq + 1);
    if (v != "0" && v != "1" && v != "true" && v != "false")
      return fail(std::string("options.") + name, "expected 0 or 1, got " + quoted(v));
    result[index] = v == "1" || v == "true";
    at = end + 1;
  }
  for (int i = 0; i < optionCount; ++i) bits[i] = result[i];
  return true;
}
