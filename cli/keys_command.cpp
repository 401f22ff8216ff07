// "quarn-cli keys check" and "keys import": reading the input, printing rows; the checks
// themselves live in codec/ and link/.
#include "cli/keys_command.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_session.h"
#include "cli/json_output.h"
#include "codec/telegram_lines.h"
#include "link/survey_rows.h"
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

std::string idText(const uint8_t* id) {
  char text[9];
  idToHexText(id, text);
  return text;
}

std::string manufacturerText(const uint8_t* address) {
  char letters[4] = {};
  manufacturerCodeToText(address, letters);
  return letters;
}

double oneDecimal(double value) { return std::round(value * 10) / 10; }

// The security text, or for an unsupported verdict the mode or CI it names.
std::string securityOf(const SurveyRow& row) {
  if (row.check.verdict == KeyVerdict::unsupported && row.check.unsupported[0] != '\0') return row.check.unsupported;
  return row.security;
}

ordered_json rowJson(const SurveyRow& row) {
  ordered_json out;
  out["id"] = idText(row.address + 2);
  out["manufacturer"] = manufacturerText(row.address);
  out["version"] = hexText(row.address + 6, 1);
  out["type"] = hexText(row.address + 7, 1);
  out["frames"] = row.frames;
  out["scans"] = row.scans;
  if (row.scans > 0) {
    out["rssiMinDbm"] = row.rssiMinDbm;
    out["rssiMeanDbm"] = oneDecimal(row.rssiMeanDbm);
    out["rssiMaxDbm"] = row.rssiMaxDbm;
  } else {
    out["rssiMinDbm"] = nullptr;
    out["rssiMeanDbm"] = nullptr;
    out["rssiMaxDbm"] = nullptr;
  }
  out["security"] = row.heard ? ordered_json(securityOf(row)) : ordered_json(nullptr);
  out["verdict"] = row.heard ? ordered_json(keyVerdictText(row.check.verdict)) : ordered_json(nullptr);
  out["keyEntry"] = row.check.entryKnown ? ordered_json(hexText(row.check.entryId, 4)) : ordered_json(nullptr);
  out["kcv"] = row.check.kcvKnown ? ordered_json(hexText(row.check.kcv, keyCheckValueBytes)) : ordered_json(nullptr);
  return out;
}

std::string rowText(const SurveyRow& row) {
  char rssi[32] = "-";
  if (row.scans > 0)
    std::snprintf(rssi, sizeof rssi, "%d/%.1f/%d", row.rssiMinDbm, oneDecimal(row.rssiMeanDbm), row.rssiMaxDbm);
  std::string verdict = row.heard ? keyVerdictText(row.check.verdict) : "-";
  if (row.check.entryKnown) {
    verdict += " " + hexText(row.check.entryId, 4);
    if (row.check.secondKey) verdict += " (second key)";
  }
  if (row.check.kcvKnown) verdict += " kcv " + hexText(row.check.kcv, keyCheckValueBytes);
  char line[256];
  std::snprintf(line, sizeof line, "%-8s  %-3s  %-2s  %-2s  %6u  %5u  %-17s  %-12s  %s", idText(row.address + 2).c_str(),
                manufacturerText(row.address).c_str(), hexText(row.address + 6, 1).c_str(),
                hexText(row.address + 7, 1).c_str(), unsigned(row.frames), unsigned(row.scans), rssi,
                row.heard ? securityOf(row).c_str() : "-", verdict.c_str());
  return line;
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

}  // namespace

void printSurveyRows(const SurveyRows& rows, bool json, const ordered_json& beside) {
  if (json) {
    ordered_json out;
    out["meters"] = ordered_json::array();
    for (size_t i = 0; i < rows.count; ++i) out["meters"].push_back(rowJson(rows.rows[i]));
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
  for (size_t i = 0; i < rows.count; ++i) std::printf("%s\n", printableText(rowText(rows.rows[i]).c_str()).c_str());
}

int runKeysCommand(const CliOptions& options) {
  const std::vector<std::string>& args = options.args;
  if (args.size() >= 2 && args[1] == "check") return keysCheck(options);
  return usage(options, "keys check FILE|-, or keys import FILE [--into NAME]");
}
