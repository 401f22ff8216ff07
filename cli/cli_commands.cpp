// quarn-cli's commands: each checks its input first, then connects, sends and waits.
#include "cli/cli_commands.h"


#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <nlohmann/json.hpp>

#include "text/config_file.h"
#include "cli/cli_records.h"
#include "cli/json_output.h"
#include "cli/keys_command.h"
#include "cli/survey_command.h"
#include "cli/port_listing.h"
#include "cli/site_command.h"
#include "converter/nearby_devices.h"
#include "jobs/converter_jobs.h"
#include "settings/json_text.h"
#include "settings/settings_file.h"
#include "serial/serial_trace.h"
#include "settings/view_settings.h"
#include "text/config_file.h"
#include "text/hex_text.h"
#include "text/key_source.h"
#include "text/printable_text.h"

using nlohmann::ordered_json;

void printJson(const ordered_json& out) { std::fputs(jsonDocumentText(out).c_str(), stdout); }

namespace {

struct Run {
  const CliOptions& options;
  ordered_json result = ordered_json::object();
  std::vector<std::string> written;  // steps already done, for a failure half-way
  std::string text;                  // human-readable result
  LogFile* logFile = nullptr;        // --log, once open
  ReadFiles reads = runInputFiles(options);  // what no output may replace
};

std::string shown(const std::string& text) { return printableText(text); }

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

// A failed job: what was written before the failure, then the failure.
int jobFailure(Run& run, const JobOutcome& outcome) {
  run.written = outcome.written;
  return failWith(run, outcome.code, outcome.message);
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

int commandIdentify(Run& run, JobLink& link) {
  const ConverterIdentity id = link.link().identity();
  run.result["serialNumber"] = serialNumberText(id);
  run.result["address"] = addressText(id);
  run.result["firmware"] = id.firmware;
  run.result["messageCounter"] = id.counter;
  run.text = "serial number    " + serialNumberText(id) + "\naddress          " + addressText(id) +
             "\nfirmware         " + id.firmware + "\nmessage counter  " + std::to_string(id.counter) + "\n";
  return done(run);
}

int commandGet(Run& run, JobLink& link, int s) {
  SettingsFile got;
  const JobOutcome outcome = getJob(link, s, run.options.timeoutMs, got);
  if (!outcome.ok()) return jobFailure(run, outcome);
  run.result = settingsJson(got);
  run.text = slotText(s, got.slots[s], got.wired);
  return done(run);
}

int commandSet(Run& run, JobLink& link, int s, const SettingsFile& file) {
  SettingsFile wrote;
  const JobOutcome outcome = setJob(link, s, file, run.options.fields, run.options.timeoutMs, wrote);
  if (!outcome.ok()) return jobFailure(run, outcome);
  run.result = settingsJson(wrote);
  run.result["verified"] = true;
  run.text = "slot " + std::to_string(s + 1) + " written and read back\n";
  return done(run);
}

int commandOptionsGet(Run& run, JobLink& link) {
  bool bits[optionCount];
  const JobOutcome outcome = readOptionsJob(link, run.options.timeoutMs, bits);
  if (!outcome.ok()) return jobFailure(run, outcome);
  for (int i = 0; i < optionCount; ++i) run.result["options"][optionKeys[i]] = bits[i];
  run.text = optionsText(bits);
  return done(run);
}

int commandOptionsSet(Run& run, JobLink& link, const std::string& text) {
  bool bits[optionCount];
  const JobOutcome outcome = writeOptionsJob(link, text, run.options.timeoutMs, bits);
  if (!outcome.ok()) return jobFailure(run, outcome);
  for (int i = 0; i < optionCount; ++i) run.result["options"][optionKeys[i]] = bits[i];
  run.result["verified"] = true;
  run.text = optionsText(bits) + "written and read back\n";
  return done(run);
}

int runScan(Run& run, JobLink& link) {
  const JobOutcome outcome = scanJob(link, run.options.timeoutMs);
  if (!outcome.ok()) return jobFailure(run, outcome);
  ordered_json list = ordered_json::array();
  const NearbyDeviceList& nearby = link.records().nearby;
  for (uint32_t i = 0; i < nearby.count; ++i) {
    const NearbyRowTexts row = nearbyRowTexts(nearby.entries[i]);
    list.push_back({{"address", row.address}, {"description", row.description}, {"rssi", std::atoi(row.rssi.c_str())}});
    run.text += row.address + "  " + row.description + "  " + row.rssi + " dBm\n";
  }
  if (nearby.count == 0) run.text = "no devices heard\n";
  run.result["devices"] = list;
  return done(run);
}

int commandKeyFind(Run& run, JobLink& link, int s, bool offline) {
  SlotFields found;
  const JobOutcome outcome = keyFindJob(link, s, offline, run.options.timeoutMs, found);
  if (outcome.code == exitFailed)
    return failWith(run, exitFailed, outcome.reason + " in " + run.options.home + "/meterKeys");
  if (!outcome.ok()) return jobFailure(run, outcome);
  run.result["slot"] = s + 1;
  run.result["deviceId"] = found.deviceId;
  run.result["masterKey"] = found.masterKey;
  run.result["keyEncryptionKey"] = found.kek;
  run.text = "deviceId          " + found.deviceId + "\nmasterKey         " + found.masterKey +
             "\nkeyEncryptionKey  " + found.kek + "\n";
  return done(run);
}

int commandExport(Run& run, JobLink& link, const std::string& path) {
  SettingsFile out;
  const JobOutcome outcome = exportJob(link, run.options.timeoutMs, out);
  if (!outcome.ok()) return jobFailure(run, outcome);
  std::string error;
  if (!writeSettingsFile(path, out, error, &run.reads)) return failWith(run, exitFailed, "cannot write " + error);
  run.result["file"] = path;
  run.result["settings"] = settingsJson(out);
  run.text = "four slots, wired settings and option bits written to " + path + "\n";
  return done(run);
}

int commandApply(Run& run, JobLink& link, const SettingsFile& file) {
  const JobOutcome outcome = applyJob(link, file, run.options.timeoutMs);
  if (!outcome.ok()) return jobFailure(run, outcome);
  run.written = outcome.written;
  run.result["file"] = run.options.args[1];
  run.result["written"] = run.written;
  run.result["verified"] = true;
  run.text = applyResultText(outcome) + "\n";
  return done(run);
}

int commandVerify(Run& run, JobLink& link, const SettingsFile& file) {
  std::vector<FieldDifference> differences;
  const JobOutcome outcome = verifyJob(link, file, run.options.timeoutMs, differences);
  if (!outcome.ok() && outcome.code != exitMismatch) return jobFailure(run, outcome);
  ordered_json list = ordered_json::array();
  for (const FieldDifference& d : differences) list.push_back({{"field", d.field}, {"planned", d.wanted}, {"found", d.found}});
  run.text = differenceLines(differences);
  if (differences.empty()) {
    run.text = "as the file says\n";
    run.result["file"] = run.options.args[1];
    run.result["differences"] = list;
    return done(run);
  }
  std::fputs(printableLines(run.text).c_str(), stdout);
  run.result["differences"] = list;
  return failWith(run, exitMismatch, run.options.args[1] + ": " + outcome.reason);
}

bool isHex(const std::string& text, size_t digits) {
  return isHexText(text, digits);
}

// Warns, as the window does, where key files and folders are open to other accounts.
void warnExposedFiles(const CliOptions& options, CliLog& log) {
  for (const std::string& text : exposedKeyFileWarnings(options.home, options.keyFile)) {
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
  if ((args[0] == "apply" || args[0] == "verify") && !readSettingsFile(args[1], checked.file, error))
    return failWith(run, exitUsage, error);
  char reason[96];
  // Known before anything is sent: the converter's settings would be read for nothing.
  if (args[0] == "export" && !checkOutputFile(args[1].c_str(), &run.reads, reason, sizeof reason))
    return failWith(run, exitFailed, "cannot write " + args[1] + ": " + reason + "; not replaced");
  return exitDone;
}

int runIdentify(Run& run, JobLink& link, Checked&) { return commandIdentify(run, link); }
int runGet(Run& run, JobLink& link, Checked& c) { return commandGet(run, link, c.slot); }
int runSet(Run& run, JobLink& link, Checked& c) { return commandSet(run, link, c.slot, c.file); }
int runKeyFind(Run& run, JobLink& link, Checked& c) { return commandKeyFind(run, link, c.slot, false); }
int runScanCommand(Run& run, JobLink& link, Checked&) { return runScan(run, link); }
int runExport(Run& run, JobLink& link, Checked&) { return commandExport(run, link, run.options.args[1]); }
int runApply(Run& run, JobLink& link, Checked& c) { return commandApply(run, link, c.file); }
int runVerify(Run& run, JobLink& link, Checked& c) { return commandVerify(run, link, c.file); }
int runSurveyCommand(Run& run, JobLink& link, Checked&) {
  std::string error;
  const int code = runSurvey(link, run.options, error);
  return error.empty() ? code : failWith(run, code, error);
}

int checkSurvey(Run& run, Checked& checked) {
  if (!run.options.wirelessLink) return failWith(run, exitUsage, "survey listens through the stick: give --wireless");
  return checkNoArguments(run, checked);
}
int runOptions(Run& run, JobLink& link, Checked&) {
  const std::vector<std::string>& args = run.options.args;
  return args[1] == "get" ? commandOptionsGet(run, link) : commandOptionsSet(run, link, args[2]);
}

// The commands that talk to the converter: their checks, what they do once connected, and
// whether they need the converter key.
struct LinkCommand {
  const char* name;
  int (*check)(Run&, Checked&);
  int (*run)(Run&, JobLink&, Checked&);
  bool needsKey;
};

constexpr LinkCommand linkCommands[] = {
    {"identify", checkNoArguments, runIdentify, false}, {"scan", checkNoArguments, runScanCommand, true},
    {"get", checkSlotCommand, runGet, true},            {"set", checkSlotCommand, runSet, true},
    {"key-find", checkSlotCommand, runKeyFind, true},   {"options", checkOptions, runOptions, true},
    {"export", checkFileCommand, runExport, true},      {"apply", checkFileCommand, runApply, true},
    {"verify", checkFileCommand, runVerify, true},
    {"survey", checkSurvey, runSurveyCommand, true},
};

const LinkCommand* findLinkCommand(const std::string& name) {
  for (const LinkCommand& command : linkCommands)
    if (name == command.name) return &command;
  return nullptr;
}

// Connects the link the command line names; an exit code, and why in error.
int connectLink(const CliOptions& options, JobLink& link, std::string& error) {
  if (options.wirelessLink) {
    if (options.plain) {
      error = "--plain: over the air every request is secured";
      return exitUsage;
    }
    const int code = link.connectWireless(options.converterId, options.timeoutMs, error, options.verbose);
    // Where several may be plugged in, the output says which one was used.
    if (!link.stickUsed.empty()) std::fprintf(stderr, "quarn-cli: stick %s\n", printableText(link.stickUsed).c_str());
    return code;
  }
  if (!options.port.empty()) return link.connectWired(options.port, !options.plain, options.timeoutMs, error);
  error = "no link: give --port NAME|PATH or --wireless";
  return exitUsage;
}

}  // namespace

int usageFailure(const CliOptions& options, const std::string& message) {
  Run run{options, ordered_json::object(), {}, {}};
  return failWith(run, exitUsage, message, "(quarn-cli --help lists the options)");
}

void loadHome(JobLink& link, const std::string& home) {
  ConfigFile config;
  readConfigFile((home + "/" + configFileName).c_str(), config);
  if (config.configLoaded) link.link().view().setConverterKeyText(config.configLine2);
  loadKeyList((home + "/dongleKeys").c_str(), link.records().converterKeys);
  loadKeyList((home + "/meterKeys").c_str(), link.records().meterKeys);
}

ReadFiles runInputFiles(const CliOptions& options) {
  ReadFiles reads;
  const std::vector<std::string>& args = options.args;
  const std::string config = options.home + "/" + configFileName;
  const std::string* inputs[] = {&options.templateFile, &options.resumeFile, &options.keyFile, &options.file, &config};
  for (const std::string* path : inputs) addReadFile(reads, path->c_str());
  // The site plan, and the settings file that apply writes.
  if (args.size() == 3 && args[0] == "site") addReadFile(reads, args[2].c_str());
  if (args.size() == 2 && args[0] == "apply") addReadFile(reads, args[1].c_str());
  return reads;
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
  if (command == "keys") return runKeysCommand(options);

  // Everything the command line and the files say is checked before a port is opened.
  const LinkCommand* linkCommand = findLinkCommand(command);
  if (linkCommand == nullptr)
    return failWith(run, exitUsage, "unknown command " + command + " (quarn-cli --help lists them)");
  std::unique_ptr<Checked> checked(new Checked());
  if (const int code = linkCommand->check(run, *checked); code != exitDone) return code;
  std::string error;
  std::string key;
  if (!commandLineKey(options.key, options.keyFile, stdin, key, error)) return failWith(run, exitUsage, error);
  if (!options.converterId.empty() && !isHex(options.converterId, 8))
    return failWith(run, exitUsage, "--converter: expected the ID as 8 hex digits, as printed on the device");

  CliLog log;
  log.verbose = options.verbose;
  LogFile ownLog;  // when the caller keeps none to check
  LogFile& logFile = options.logSink != nullptr ? *options.logSink : ownLog;
  if (!options.logFile.empty()) {
    if (!logFile.open(options.logFile, &run.reads, error)) return failWith(run, exitFailed, error);
    log.file = &logFile;
    run.logFile = &logFile;
  }
  warnExposedFiles(options, log);
  PortWaiter waiter;
  std::unique_ptr<OwnLink> own(new OwnLink(log, waiter));
  RecordView& view = *own->view;
  JobLink& link = own->link;
  loadHome(link, options.home);
  link.stick = options.stick;
  const std::string configPath = options.home + "/" + configFileName;
  if (!key.empty()) link.forceKey(key);
  else if (!view.keyText.empty() && !isHex(view.keyText, 32))
    return failWith(run, exitUsage, configPath + " line 2: expected the converter key as 32 hex digits");

  if (checked->offlineKeyFind) {
    const int s = checked->slot;
    setSettingsField("deviceId", options.fields[0].second, view.slots[s], view.wired, error);
    return commandKeyFind(run, link, s, true);
  }

  if (const int code = connectLink(options, link, error); code != exitDone) return failWith(run, code, error);
  // No key, no secured request: an all-zero key would only be refused.
  const bool secured = options.wirelessLink || !options.plain;
  if (linkCommand->needsKey && secured && key.empty() && !isHex(view.keyText, 32))
    return failWith(run, exitFailed, "no converter key: none given with --key or --key-file, no usable line 2 in " +
                                         configPath + ", and converter " + serialNumberText(link.link().identity()) +
                                         " not in " + options.home + "/dongleKeys/");

  return linkCommand->run(run, link, *checked);
}
