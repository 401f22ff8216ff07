// quarn-cli's commands: each checks its input first, then connects, sends and waits.
#include "cli/cli_commands.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <nlohmann/json.hpp>

#include "app/config_file.h"
#include "cli/cli_session.h"
#include "cli/converter_apply.h"
#include "cli/port_listing.h"
#include "cli/site_command.h"
#include "converter/key_find.h"
#include "converter/nearby_devices.h"
#include "settings/settings_file.h"
#include "serial/serial_trace.h"
#include "settings/view_settings.h"
#include "text/hex_text.h"
#include "text/printable_text.h"
#include "text/private_files.h"

using nlohmann::ordered_json;

namespace {

struct Run {
  const CliOptions& options;
  ordered_json result = ordered_json::object();
  std::vector<std::string> written;  // steps already done, for a failure half-way
  std::string text;                  // human-readable result
  LogFile* logFile = nullptr;        // --log, once open
};

std::string shown(const std::string& text) { return printableText(text.c_str()); }

// Every string in it made printable: file names, device texts and arguments may hold any byte.
void makePrintable(ordered_json& value) {
  if (value.is_string()) value = shown(value.get<std::string>());
  if (!value.is_structured()) return;
  for (auto& item : value) makePrintable(item);
}

// JSON that always prints: strings already escaped, and never an exception from the library.
void printJson(ordered_json& out) {
  makePrintable(out);
  std::printf("%s\n", out.dump(2, ' ', false, ordered_json::error_handler_t::replace).c_str());
}

// Text lines as the window shows device texts: controls and broken UTF-8 as \xNN.
std::string printableLines(const std::string& text) {
  std::string out;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    out += shown(text.substr(from, end - from)) + (end < text.size() ? "\n" : "");
    from = end + 1;
  }
  return out;
}

int failWith(Run& run, int code, const std::string& message, const char* hint = nullptr) {
  std::fprintf(stderr, "quarn-cli: %s\n", shown(message).c_str());
  if (hint != nullptr) std::fprintf(stderr, "%s\n", hint);
  if (!run.written.empty()) {
    std::string done;
    for (const std::string& step : run.written) done += (done.empty() ? "" : ", ") + step;
    std::fprintf(stderr, "quarn-cli: already written: %s\n", done.c_str());
  }
  if (run.options.json) {
    ordered_json out;
    out["ok"] = false;
    out["exitCode"] = code;
    out["error"] = message;
    out["written"] = run.written;
    printJson(out);
  }
  return code;
}

int done(Run& run) {
  // The log is closed before the result is told: one that lost lines fails the run, in the JSON
  // as in the exit code. The text result still goes out; what was read is true.
  if (run.logFile != nullptr && !run.logFile->finish()) {
    if (!run.options.json) std::fputs(printableLines(run.text).c_str(), stdout);
    return failWith(run, exitFailed, run.logFile->failureText() + "; " + outcomeText(exitDone));
  }
  if (run.options.json) {
    ordered_json out;
    out["ok"] = true;
    for (auto& item : run.result.items()) out[item.key()] = item.value();
    printJson(out);
  } else {
    std::fputs(printableLines(run.text).c_str(), stdout);
  }
  return exitDone;
}

bool slotArgument(const std::string& text, int& s) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '4') return false;
  s = text[0] - '1';
  return true;
}

int waitFailure(Run& run, CliSession& session, WaitEnd end, const std::string& step) {
  ApplyProgress progress;
  waitFailed(progress, session, end, step);
  return failWith(run, progress.code, progress.message);
}

// A failed write or read-back: what was written before it, then the failure.
int applyFailure(Run& run, const ApplyProgress& progress) {
  run.written = progress.written;
  return failWith(run, progress.code, progress.message);
}

ordered_json settingsJson(const SettingsFile& settings) {
  return ordered_json::parse(settingsText(settings));
}

std::string slotText(int s, const SlotFields& f, const WiredSettings& w) {
  char line[512];
  std::snprintf(line, sizeof line,
                "slot %d\n  active            %s\n  manufacturer      %s\n  deviceId          %s\n"
                "  version           %s\n  media             %s\n  keyEncryptionKey  %s\n  masterKey         %s\n"
                "  wirelessProtocol  %s\n  wirelessMode      %s\n  wiredAddress      %s\n"
                "wired\n  protocol          %s\n  mode              %s\n",
                s + 1, f.active ? "true" : "false", f.manufacturer.c_str(), f.deviceId.c_str(), f.version.c_str(),
                f.media.c_str(), f.kek.c_str(), f.masterKey.c_str(), protocolEntries[f.wirelessProtocol],
                modeEntries[f.wirelessMode], f.wiredAddress.c_str(), protocolEntries[w.protocol], modeEntries[w.mode]);
  return line;
}

std::string optionsText(const bool bits[optionCount]) {
  std::string text;
  for (int i = 0; i < optionCount; ++i) text += std::string(optionKeys[i]) + (bits[i] ? " on\n" : " off\n");
  return text;
}

int commandPorts(Run& run) {
  ordered_json list = ordered_json::array();
  for (const PortListing& p : listPorts()) {
    list.push_back({{"name", p.name}, {"devicePath", p.devicePath}, {"byId", p.byIdLink}, {"usb", p.usbId},
                    {"serial", p.serial}, {"description", p.description}, {"stick", p.stick}});
    run.text += p.name + "  " + p.devicePath + "  " + (p.usbId.empty() ? "-" : p.usbId) + "  " +
                (p.serial.empty() ? "-" : p.serial) + "  " + (p.description.empty() ? "-" : p.description) +
                (p.stick ? "  [wireless stick]" : "") + (p.byIdLink.empty() ? "" : "\n    " + p.byIdLink) + "\n";
  }
  if (list.empty()) run.text = "no serial ports\n";
  run.result["ports"] = list;
  return done(run);
}

int commandIdentify(Run& run, CliSession& session) {
  const ConverterIdentity id = session.link().identity();
  run.result["serialNumber"] = serialNumberText(id);
  run.result["address"] = addressText(id);
  run.result["firmware"] = id.firmware;
  run.result["messageCounter"] = id.counter;
  run.text = "serial number    " + serialNumberText(id) + "\naddress          " + addressText(id) +
             "\nfirmware         " + id.firmware + "\nmessage counter  " + std::to_string(id.counter) + "\n";
  return done(run);
}

int commandGet(Run& run, CliSession& session, int s) {
  const WaitEnd end = session.getSlot(s, run.options.timeoutMs);
  if (end != WaitEnd::answered) return waitFailure(run, session, end, "Get Data of slot " + std::to_string(s + 1));
  SettingsFile got;
  got.slotPresent[s] = true;
  got.slots[s] = session.view().slots[s];
  got.wiredPresent = true;
  got.wired = session.view().wired;
  run.result = settingsJson(got);
  run.text = slotText(s, got.slots[s], got.wired);
  return done(run);
}

int commandSet(Run& run, CliSession& session, int s, const SettingsFile& file) {
  // The fields not given keep what the converter holds.
  WaitEnd end = session.getSlot(s, run.options.timeoutMs);
  if (end != WaitEnd::answered) return waitFailure(run, session, end, "Get Data of slot " + std::to_string(s + 1));
  SlotFields fields = session.view().slots[s];
  WiredSettings wired = session.view().wired;
  if (file.slotPresent[s]) fields = file.slots[s];
  if (file.wiredPresent) wired = file.wired;
  std::string error;
  for (const auto& field : run.options.fields) setSettingsField(field.first, field.second, fields, wired, error);
  ApplyProgress progress;
  if (!writeSlotVerified(progress, session, s, fields, wired, run.options.timeoutMs))
    return applyFailure(run, progress);
  SettingsFile wrote;
  wrote.slotPresent[s] = true;
  wrote.slots[s] = session.view().slots[s];
  wrote.wiredPresent = true;
  wrote.wired = session.view().wired;
  run.result = settingsJson(wrote);
  run.result["verified"] = true;
  run.text = "slot " + std::to_string(s + 1) + " written and read back\n";
  return done(run);
}

int commandOptionsGet(Run& run, CliSession& session) {
  const WaitEnd end = session.readOptions(run.options.timeoutMs);
  if (end != WaitEnd::answered) return waitFailure(run, session, end, "read option bits");
  bool bits[optionCount];
  optionBitsOf(session.records().options, bits);
  for (int i = 0; i < optionCount; ++i) run.result["options"][optionKeys[i]] = bits[i];
  run.text = optionsText(bits);
  return done(run);
}

int commandOptionsSet(Run& run, CliSession& session, const std::string& text) {
  bool bits[optionCount];
  std::string error;
  // Names change some bits and keep the others: those are read first.
  if (!(text.size() == size_t(optionCount) && text.find_first_not_of("01") == std::string::npos)) {
    const WaitEnd end = session.readOptions(run.options.timeoutMs);
    if (end != WaitEnd::answered) return waitFailure(run, session, end, "read option bits");
  }
  optionBitsOf(session.records().options, bits);
  parseOptionBits(text, bits, error);
  ApplyProgress progress;
  if (!writeOptionsVerified(progress, session, bits, run.options.timeoutMs)) return applyFailure(run, progress);
  for (int i = 0; i < optionCount; ++i) run.result["options"][optionKeys[i]] = bits[i];
  run.result["verified"] = true;
  run.text = optionsText(bits) + "written and read back\n";
  return done(run);
}

int runScan(Run& run, CliSession& session) {
  const WaitEnd end = session.scan(run.options.timeoutMs);
  if (end != WaitEnd::answered) return waitFailure(run, session, end, "Scan");
  ordered_json list = ordered_json::array();
  const NearbyDeviceList& nearby = session.records().nearby;
  for (uint32_t i = 0; i < nearby.count; ++i) {
    const NearbyRowTexts row = nearbyRowTexts(nearby.entries[i]);
    list.push_back({{"address", row.address}, {"description", row.description}, {"rssi", std::atoi(row.rssi.c_str())}});
    run.text += row.address + "  " + row.description + "  " + row.rssi + " dBm\n";
  }
  if (nearby.count == 0) run.text = "no devices heard\n";
  run.result["devices"] = list;
  return done(run);
}

int commandKeyFind(Run& run, CliSession& session, int s, bool offline) {
  if (!offline) {
    const WaitEnd end = session.getSlot(s, run.options.timeoutMs);
    if (end != WaitEnd::answered) return waitFailure(run, session, end, "Get Data of slot " + std::to_string(s + 1));
  }
  CliView& view = session.view();
  if (!session.link().keyFind(s))
    return failWith(run, exitFailed, "no meter key for Device ID " + view.slots[s].deviceId + " in " +
                                         run.options.home + "/meterKeys");
  run.result["slot"] = s + 1;
  run.result["deviceId"] = view.slots[s].deviceId;
  run.result["masterKey"] = view.slots[s].masterKey;
  run.result["keyEncryptionKey"] = view.slots[s].kek;
  run.text = "deviceId          " + view.slots[s].deviceId + "\nmasterKey         " + view.slots[s].masterKey +
             "\nkeyEncryptionKey  " + view.slots[s].kek + "\n";
  return done(run);
}

int commandExport(Run& run, CliSession& session, const std::string& path) {
  for (int s = 0; s < slotCount; ++s) {
    const WaitEnd end = session.getSlot(s, run.options.timeoutMs);
    if (end != WaitEnd::answered) return waitFailure(run, session, end, "Get Data of slot " + std::to_string(s + 1));
  }
  const WaitEnd end = session.readOptions(run.options.timeoutMs);
  if (end != WaitEnd::answered) return waitFailure(run, session, end, "read option bits");
  // What the converter holds must read back as a file this program accepts.
  SettingsFile out;
  std::string error;
  if (!settingsFromView(session.view(), session.records().options, out, error))
    return failWith(run, exitFailed, "the converter's settings do not fit a settings file: " + error);
  if (!writeSettingsFile(path, out, error)) return failWith(run, exitFailed, "cannot write " + error);
  run.result["file"] = path;
  run.result["settings"] = settingsJson(out);
  run.text = "four slots, wired settings and option bits written to " + path + "\n";
  return done(run);
}

int commandApply(Run& run, CliSession& session, const SettingsFile& file) {
  ApplyProgress progress;
  if (!applySettings(progress, session, file, run.options.timeoutMs)) return applyFailure(run, progress);
  run.written = progress.written;
  run.result["file"] = run.options.args[1];
  run.result["written"] = run.written;
  run.result["verified"] = true;
  std::string list;
  for (const std::string& step : run.written) list += (list.empty() ? "" : ", ") + step;
  run.text = "written and read back: " + (list.empty() ? std::string("nothing") : list) + "\n";
  return done(run);
}

bool isHex(const std::string& text, size_t digits) {
  return isHexText(text, digits);
}

// The key the command line gives: --key HEX, --key - (standard input) or --key-file FILE.
int commandLineKey(const CliOptions& options, std::string& key, std::string& error) {
  if (!options.key.empty() && !options.keyFile.empty()) {
    error = "--key and --key-file exclude each other";
    return exitUsage;
  }
  std::string from = "--key";
  key = options.key;
  char line[128] = {};
  if (options.key == "-") {
    from = "--key - (standard input)";
    if (std::fgets(line, sizeof line, stdin) == nullptr) line[0] = '\0';
    key = line;
  } else if (!options.keyFile.empty()) {
    from = "--key-file " + options.keyFile;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(options.keyFile.c_str(), "r"), std::fclose);
    struct stat info {};
    if (!file || fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
      error = from + ": " + (file ? "not a regular file" : std::strerror(errno));
      return exitUsage;
    }
    if (modeLetsOthersRead(info.st_mode)) {
      error = from + ": other accounts can read it (chmod 600 " + options.keyFile + ")";
      return exitUsage;
    }
    if (std::fgets(line, sizeof line, file.get()) == nullptr) line[0] = '\0';
    key = line;
  } else if (key.empty()) {
    return exitDone;
  }
  while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.pop_back();
  if (!isHex(key, 32)) {
    error = from + ": expected the converter key as 32 hex digits";
    return exitUsage;
  }
  return exitDone;
}

// Warns, as the window does, where key files and folders are open to other accounts.
void warnExposedFiles(const CliOptions& options, CliLog& log) {
  const std::string paths[] = {options.home + "/" + configFileName, options.home + "/dongleKeys",
                               options.home + "/meterKeys", options.keyFile};
  const char* names[4];
  size_t count = 0;
  for (const std::string& path : paths)
    if (!path.empty()) names[count++] = path.c_str();
  ExposedFile found[4];
  const size_t exposed = findExposedFiles(names, count, found, 4);
  for (size_t i = 0; i < exposed; ++i) {
    char line[512];
    exposedFileWarning(found[i], line, sizeof line);
    const std::string text = shown(std::string(line, std::strcspn(line, "\n")));
    std::fprintf(stderr, "quarn-cli: %s\n", text.c_str());  // the text says "Warning: " itself
    log.logText((text + "\n").c_str(), 0);
  }
}

// What a command's checks take from the command line, before any port is opened.
struct Checked {
  int slot = 0;
  SettingsFile file;
  bool offlineKeyFind = false;  // key-find given the Device ID: nothing is sent
};

int checkNoArguments(Run& run, Checked&) {
  const std::vector<std::string>& args = run.options.args;
  if (args.size() != 1) return failWith(run, exitUsage, args[0] + " takes no arguments");
  return exitDone;
}

int checkSlotCommand(Run& run, Checked& checked) {
  const CliOptions& options = run.options;
  const std::vector<std::string>& args = options.args;
  const std::string& command = args[0];
  std::string error;
  if (args.size() != 2 || !slotArgument(args[1], checked.slot))
    return failWith(run, exitUsage, command + " needs a slot number 1 to 4");
  if (command == "set" && !options.file.empty()) {
    if (!readSettingsFile(options.file, checked.file, error)) return failWith(run, exitUsage, error);
    if (!checked.file.slotPresent[checked.slot])
      return failWith(run, exitUsage, options.file + ": slots: no entry for slot " + args[1]);
  }
  if (command == "set" && options.file.empty() && options.fields.empty())
    return failWith(run, exitUsage, "set needs --file FILE or --field name=value");
  SlotFields probe;
  WiredSettings probeWired;
  for (const auto& field : options.fields) {
    if (command == "key-find" && field.first != "deviceId")
      return failWith(run, exitUsage, "key-find takes only --field deviceId=HEX8");
    if (!setSettingsField(field.first, field.second, probe, probeWired, error))
      return failWith(run, exitUsage, "--field " + error);
  }
  checked.offlineKeyFind = command == "key-find" && !options.fields.empty();
  if (command != "set" && !options.file.empty()) return failWith(run, exitUsage, "--file is for set only");
  return exitDone;
}

int checkOptions(Run& run, Checked&) {
  const std::vector<std::string>& args = run.options.args;
  if (args.size() < 2 || (args[1] == "get" && args.size() != 2) || (args[1] == "set" && args.size() != 3) ||
      (args[1] != "get" && args[1] != "set"))
    return failWith(run, exitUsage, "options get, or options set BITS");
  bool bits[optionCount] = {};
  std::string error;
  if (args[1] == "set" && !parseOptionBits(args[2], bits, error)) return failWith(run, exitUsage, error);
  return exitDone;
}

int checkFileCommand(Run& run, Checked& checked) {
  const std::vector<std::string>& args = run.options.args;
  if (args.size() != 2) return failWith(run, exitUsage, args[0] + " needs a FILE");
  std::string error;
  if (args[0] == "apply" && !readSettingsFile(args[1], checked.file, error)) return failWith(run, exitUsage, error);
  return exitDone;
}

int runIdentify(Run& run, CliSession& session, Checked&) { return commandIdentify(run, session); }
int runGet(Run& run, CliSession& session, Checked& c) { return commandGet(run, session, c.slot); }
int runSet(Run& run, CliSession& session, Checked& c) { return commandSet(run, session, c.slot, c.file); }
int runKeyFind(Run& run, CliSession& session, Checked& c) { return commandKeyFind(run, session, c.slot, false); }
int runScanCommand(Run& run, CliSession& session, Checked&) { return runScan(run, session); }
int runExport(Run& run, CliSession& session, Checked&) { return commandExport(run, session, run.options.args[1]); }
int runApply(Run& run, CliSession& session, Checked& c) { return commandApply(run, session, c.file); }
int runOptions(Run& run, CliSession& session, Checked&) {
  const std::vector<std::string>& args = run.options.args;
  return args[1] == "get" ? commandOptionsGet(run, session) : commandOptionsSet(run, session, args[2]);
}

// The commands that talk to the converter: their checks, what they do once connected, and
// whether they need the converter key.
struct LinkCommand {
  const char* name;
  int (*check)(Run&, Checked&);
  int (*run)(Run&, CliSession&, Checked&);
  bool needsKey;
};

constexpr LinkCommand linkCommands[] = {
    {"identify", checkNoArguments, runIdentify, false}, {"scan", checkNoArguments, runScanCommand, true},
    {"get", checkSlotCommand, runGet, true},            {"set", checkSlotCommand, runSet, true},
    {"key-find", checkSlotCommand, runKeyFind, true},   {"options", checkOptions, runOptions, true},
    {"export", checkFileCommand, runExport, true},      {"apply", checkFileCommand, runApply, true},
};

const LinkCommand* findLinkCommand(const std::string& name) {
  for (const LinkCommand& command : linkCommands)
    if (name == command.name) return &command;
  return nullptr;
}

// Connects the link the command line names; an exit code, and why in error.
int connectLink(const CliOptions& options, CliSession& session, std::string& error) {
  if (options.wirelessLink) {
    if (options.plain) {
      error = "--plain: over the air every request is secured";
      return exitUsage;
    }
    return session.connectWireless(options.converterId, options.timeoutMs, error);
  }
  if (!options.port.empty()) return session.connectWired(options.port, !options.plain, options.timeoutMs, error);
  error = "no link: give --port NAME|PATH or --wireless";
  return exitUsage;
}

}  // namespace

int usageFailure(const CliOptions& options, const std::string& message) {
  Run run{options, ordered_json::object(), {}, {}};
  return failWith(run, exitUsage, message, "(quarn-cli --help lists the options)");
}

std::string defaultHome() {
  if (const char* home = std::getenv("QUARN_HOME"); home != nullptr && *home != '\0') return home;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
    return std::string(data) + "/quarn";
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    return std::string(home) + "/.local/share/quarn";
  return ".";
}

std::string outcomeText(int code) {
  return code == exitDone ? "the command itself succeeded" : "the command itself ended with exit code " + std::to_string(code);
}

int runCliCommand(const CliOptions& options) {
  // Standard output carries the result alone.
  SerialTraceRedirect trace(stderr);
  Run run{options, ordered_json::object(), {}, {}};
  const std::vector<std::string>& args = options.args;
  if (args.empty()) return failWith(run, exitUsage, "no command given (quarn-cli --help lists them)");
  const std::string& command = args[0];
  if (command == "ports") {
    if (args.size() != 1) return failWith(run, exitUsage, "ports takes no arguments");
    return commandPorts(run);
  }
  if (command == "site") return runSiteCommand(options);

  // Everything the command line and the files say is checked before a port is opened.
  const LinkCommand* linkCommand = findLinkCommand(command);
  if (linkCommand == nullptr)
    return failWith(run, exitUsage, "unknown command " + command + " (quarn-cli --help lists them)");
  std::unique_ptr<Checked> checked(new Checked());
  if (const int code = linkCommand->check(run, *checked); code != exitDone) return code;
  std::string error;
  std::string key;
  if (const int code = commandLineKey(options, key, error); code != exitDone) return failWith(run, code, error);
  if (!options.converterId.empty() && !isHex(options.converterId, 8))
    return failWith(run, exitUsage, "--converter: expected the ID as 8 hex digits, as printed on the device");

  // Large, so on the heap; declared before the session, which refers to it, so it goes last.
  std::unique_ptr<CliView> view(new CliView());
  CliLog log;
  log.verbose = options.verbose;
  LogFile ownLog;  // when the caller keeps none to check
  LogFile& logFile = options.logSink != nullptr ? *options.logSink : ownLog;
  if (!options.logFile.empty()) {
    if (!logFile.open(options.logFile, error)) return failWith(run, exitFailed, error);
    log.file = &logFile;
    run.logFile = &logFile;
  }
  warnExposedFiles(options, log);
  std::unique_ptr<CliSession> session(new CliSession(*view, log));
  session->loadHome(options.home);
  session->stick = options.stick;
  const std::string configPath = options.home + "/" + configFileName;
  if (!key.empty()) session->forceKey(key);
  else if (!view->keyText.empty() && !isHex(view->keyText, 32))
    return failWith(run, exitUsage, configPath + " line 2: expected the converter key as 32 hex digits");

  if (checked->offlineKeyFind) {
    const int s = checked->slot;
    setSettingsField("deviceId", options.fields[0].second, view->slots[s], view->wired, error);
    return commandKeyFind(run, *session, s, true);
  }

  if (const int code = connectLink(options, *session, error); code != exitDone) return failWith(run, code, error);
  // No key, no secured request: an all-zero key would only be refused.
  const bool secured = options.wirelessLink || !options.plain;
  if (linkCommand->needsKey && secured && key.empty() && !isHex(view->keyText, 32))
    return failWith(run, exitFailed, "no converter key: none given with --key or --key-file, no usable line 2 in " +
                                         configPath + ", and converter " + serialNumberText(session->link().identity()) +
                                         " not in " + options.home + "/dongleKeys/");

  return linkCommand->run(run, *session, *checked);
}
