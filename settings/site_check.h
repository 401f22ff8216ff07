// The check of a whole site plan before anything is sent: each ID once, every key found, every
// port present, and a template that can fill what the plan leaves out.
#pragma once
#include <string>
#include <vector>

#include "settings/site_plan.h"

struct ConverterKeyList;
struct MeterKeyList;
struct SettingsFile;

// What the plan is checked against, loaded as quarn-cli loads it for one converter.
struct SiteCheckInputs {
  const ConverterKeyList* converterKeys = nullptr;  // dongleKeys/
  const MeterKeyList* meterKeys = nullptr;          // meterKeys/
  std::string configKey;   // Quarnconfig.txt line 2; empty when the file is missing
  std::string forcedKey;   // --key: for rows without a key of their own, ahead of the lists
  std::vector<std::string> portNames;  // the names the port search lists
  std::vector<std::string> portPaths;  // their device paths (serial and virtual ports), in the same order
  const SettingsFile* settingsTemplate = nullptr;  // --template, when given
};

// Where a row's converter key comes from, in the order quarn-cli looks.
enum class SiteKeySource { none, plan, commandLine, dongleKeys, configFile };
const char* siteKeySourceName(SiteKeySource source);  // "plan", "--key", "dongleKeys", "Quarnconfig.txt"

// The key a row's converter is addressed with (32 hex digits) and its source; none when no
// source has one.
SiteKeySource siteConverterKey(const SitePlanRow& row, const SiteCheckInputs& inputs, std::string& key);

// A wired link's port: a name the port search lists, or a path that leads (a link, such as one in
// /dev/serial/by-id, followed to its end) to a port the search lists, serial or virtual. Anything
// else (/dev/null, /dev/tty, a file) is refused: a request written there would reach no
// converter, and a terminal would be left at 2400 baud. False with the reason otherwise.
bool sitePortPresent(const std::string& link, const SiteCheckInputs& inputs, std::string& reason);

// Whether path leads (links followed) to one of portPaths, the device paths the port search
// lists: the one test of what may be opened as a converter's port, for plans and --port alike.
bool leadsToListedPort(const std::string& path, const std::vector<std::string>& portPaths);

// Adds every problem across rows and against the inputs to plan.problems, then orders all of
// them by row (file problems first). Sends nothing.
void checkSitePlan(SitePlan& plan, const SiteCheckInputs& inputs);
