// "quarn-cli keys check" and "keys import": reading the input, printing rows; the checks
// themselves live in codec/ and link/.
#include "cli/keys_command.h"

#include <cstring>
#include <filesystem>
#include <system_error>
#include <cstdio>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "jobs/job_link.h"
#include "jobs/survey_text.h"
#include "cli/json_output.h"
#include "codec/telegram_lines.h"
#include "link/survey_rows.h"
#include "link/survey_slot.h"
#include "settings/key_import.h"
#include "settings/settings_file.h"
#include "text/hex_text.h"
#include "text/printable_text.h"
#include "text/regular_file.h"

using nlohmann::ordered_json;

namespace {

std::string hexText(const uint8_t* bytes, size_t count) {
  char text[2 * 8 + 1];
  bytesToHexText(bytes, count, text);
  return text;
}

int usage(const CliOptions& options, const std::string& message) { return usageFailure(options, message); }

int keysCheck(const CliOptions& options) {
  const std::vector<std::string>& args = options.args;
  if (args.size() != 3) return usage(options, "keys check needs one FILE, or - for standard input");
  const std::string& path = args[2];
  FILE* stream = path == "-" ? stdin : openRegularFileStream(path.c_str());
  if (stream == nullptr) return usage(options, path + ": not a readable regular file");
  std::unique_ptr<TelegramFileCheck> check(new TelegramFileCheck());
  const bool read = checkTelegramStream(stream, *check);
  if (stream != stdin) std::fclose(stream);
  if (!read) return usage(options, path + ": read error");

  std::unique_ptr<MeterKeyList> keys(new MeterKeyList());
  keys->count = 0;
  loadKeyList((options.home + "/meterKeys").c_str(), *keys);
  std::unique_ptr<SurveyRows> rows(new SurveyRows());
  buildSurveyRows(check->meters, nullptr, *keys, *rows);

  ordered_json refused = ordered_json::array();
  const uint32_t listed = check->refusedCount < refusedLinesKept ? check->refusedCount : uint32_t(refusedLinesKept);
  for (uint32_t i = 0; i < listed; ++i) {
    const RefusedLine& r = check->refused[i];
    refused.push_back({{"line", r.line}, {"reason", r.reason}});
    std::fprintf(stderr, "quarn-cli: %s: line %u: %s\n", printableText(path.c_str()).c_str(), unsigned(r.line),
                 printableText(r.reason).c_str());
  }
  if (check->refusedCount > listed)
    std::fprintf(stderr, "quarn-cli: %s: %u more lines refused\n", printableText(path.c_str()).c_str(),
                 unsigned(check->refusedCount - listed));
  printSurveyRows(*rows, options.json, {{"refused", refused}});
  return surveyAllRight(*rows) && check->refusedCount == 0 ? exitDone : exitFailed;
}

std::string kcvText(const uint8_t key[16]) {
  uint8_t kcv[keyCheckValueBytes];
  keyCheckValue(key, kcv);
  return hexText(kcv, keyCheckValueBytes);
}

constexpr size_t keyImportByteLimit = 16 * 1024 * 1024;

bool readWholeFile(const std::string& path, std::string& text, std::string& error) {
  FILE* file = openRegularFileStream(path.c_str());
  if (file == nullptr) {
    error = path + ": not a readable regular file";
    return false;
  }
  char block[4096];
  size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0 && text.size() <= keyImportByteLimit) text.append(block, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) error = path + ": read error";
  else if (text.size() > keyImportByteLimit) error = path + ": larger than 16 MB; not a key list";
  return error.empty();
}

// The file name in meterKeys/: --into, else the list's own name with .txt.
std::string importName(const CliOptions& options, const std::string& source) {
  if (!options.into.empty()) return options.into;
  std::string base = source.substr(source.find_last_of('/') + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base = base.substr(0, dot);
  std::string error;
  if (!keyImportNameAllowed(base, error)) base = "imported";
  return base + ".txt";
}

int importRefused(const CliOptions& options, const std::string& source, const KeyImport& import) {
  ordered_json problems = ordered_json::array();
  for (const KeyImportProblem& p : import.problems) {
    const std::string where = p.line == 0 ? "" : "line " + std::to_string(p.line) + ": ";
    std::fprintf(stderr, "quarn-cli: %s: %s%s\n", printableText(source.c_str()).c_str(), where.c_str(),
                 p.reason.c_str());
    problems.push_back({{"line", p.line}, {"reason", p.reason}});
  }
  const std::string message = source + ": key list refused (" + std::to_string(import.problems.size()) +
                              (import.problems.size() == 1 ? " problem" : " problems") + "); nothing written";
  std::fprintf(stderr, "quarn-cli: %s\n", printableText(message.c_str()).c_str());
  if (options.json) {
    ordered_json out = {{"ok", false}, {"exitCode", int(exitUsage)}, {"error", message}, {"problems", problems}};
    printJson(out);
  }
  return exitUsage;
}

int importFailed(const CliOptions& options, const std::string& message, ordered_json detail = ordered_json::object()) {
  std::fprintf(stderr, "quarn-cli: %s\n", printableText(message.c_str()).c_str());
  if (options.json) {
    ordered_json out = {{"ok", false}, {"exitCode", int(exitFailed)}, {"error", message}};
    for (const auto& item : detail.items()) out[item.key()] = item.value();
    printJson(out);
  }
  return exitFailed;
}

ordered_json importedJson(const ImportedKey& key) {
  ordered_json out = {{"line", key.line}, {"id", hexText(key.id, 4)}, {"kcv", kcvText(key.firstKey)}};
  out["kcvSecond"] = key.hasSecond ? ordered_json(kcvText(key.secondKey)) : ordered_json(nullptr);
  return out;
}

int keysImport(const CliOptions& options) {
  const std::vector<std::string>& args = options.args;
  if (args.size() != 3) return usage(options, "keys import needs one FILE");
  std::string error;
  if (!options.into.empty() && !keyImportNameAllowed(options.into, error)) return usage(options, error);
  const std::string& source = args[2];
  std::string text;
  if (!readWholeFile(source, text, error)) return usage(options, error);
  KeyImport import = readKeyImport(text);
  if (!import.problems.empty()) return importRefused(options, source, import);

  std::unique_ptr<MeterKeyList> listed(new MeterKeyList());
  listed->count = 0;
  const std::string folder = options.home + "/meterKeys";
  loadKeyList(folder.c_str(), *listed);
  std::vector<KeyImportConflict> conflicts;
  std::vector<ImportedKey> alreadyListed;
  compareKeyImport(import, *listed, conflicts, alreadyListed);
  if (!conflicts.empty()) {
    ordered_json list = ordered_json::array();
    for (const KeyImportConflict& c : conflicts) {
      list.push_back({{"line", c.line}, {"id", hexText(c.imported.id, 4)}, {"kcv", kcvText(c.imported.firstKey)},
                      {"listedKcv", kcvText(c.listed.firstKey)}});
      std::fprintf(stderr, "quarn-cli: line %u: %s is listed in %s with other keys (kcv %s, here %s)\n",
                   unsigned(c.line), hexText(c.imported.id, 4).c_str(), printableText(folder.c_str()).c_str(),
                   kcvText(c.listed.firstKey).c_str(), kcvText(c.imported.firstKey).c_str());
    }
    return importFailed(options, std::to_string(conflicts.size()) + " IDs listed with other keys; nothing written",
                        {{"conflicts", list}});
  }
  const std::string name = importName(options, source);
  const std::string path = folder + "/" + name;
  // A link counts as there too: nothing is written through it.
  std::error_code failure;
  if (!import.entries.empty() && std::filesystem::symlink_status(path, failure).type() != std::filesystem::file_type::not_found)
    return importFailed(options, path + " exists; nothing overwritten (choose another name with --into NAME)");
  if (!import.entries.empty() && std::filesystem::create_directory(folder, failure)) {
    // A new key folder is the user's alone, as the launcher makes it.
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                 failure);
  }
  if (failure) return importFailed(options, folder + ": " + failure.message());
  ordered_json entries = ordered_json::array();
  std::vector<std::string> lines;
  for (const ImportedKey& key : import.entries) {
    entries.push_back(importedJson(key));
    lines.push_back(hexText(key.id, 4) + "  kcv " + kcvText(key.firstKey) +
                    (key.hasSecond ? "  second kcv " + kcvText(key.secondKey) : ""));
  }
  ordered_json already = ordered_json::array();
  for (const ImportedKey& key : alreadyListed) already.push_back(importedJson(key));
  if (!import.entries.empty() && !writePrivateTextFile(path, keyImportText(import), error))
    return importFailed(options, "cannot write " + error);
  if (options.json) {
    ordered_json out;
    out["ok"] = true;
    out["file"] = import.entries.empty() ? ordered_json(nullptr) : ordered_json(path);
    out["entries"] = entries;
    out["alreadyListed"] = already;
    printJson(out);
  } else {
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    if (!alreadyListed.empty()) std::printf("%zu already listed with the same keys\n", alreadyListed.size());
    if (import.entries.empty()) std::puts("nothing new to write");
    else std::printf("%zu meters written to %s\n", import.entries.size(), printableText(path.c_str()).c_str());
  }
  return exitDone;
}

}  // namespace

void printSurveyRows(const SurveyRows& rows, bool json, const ordered_json& beside) {
  if (json) {
    ordered_json out;
    out["meters"] = surveyMetersJson(rows);
    for (const auto& item : beside.items()) out[item.key()] = item.value();
    printJson(out);
    return;
  }
  if (rows.count == 0) {
    std::fputs("no meters\n", stdout);
    return;
  }
  std::printf("%-8s  %-3s  %-2s  %-2s  %6s  %5s  %-17s  %-12s  %s\n", "ID", "MAN", "VE", "TY", "FRAMES", "SCANS",
              "RSSI MIN/MEAN/MAX", "SECURITY", "VERDICT");
  for (size_t i = 0; i < rows.count; ++i) std::printf("%s\n", printableText(surveyRowText(rows.rows[i]).c_str()).c_str());
}

int runKeysCommand(const CliOptions& options) {
  const std::vector<std::string>& args = options.args;
  if (args.size() >= 2 && args[1] == "check") return keysCheck(options);
  if (args.size() >= 2 && args[1] == "import") return keysImport(options);
  return usage(options, "keys check FILE|-, or keys import FILE [--into NAME]");
}
