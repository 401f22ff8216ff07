// Writing a converter's settings and reading each write back, as records: shared by quarn-cli's
// set and apply and by the site run, which goes on with the next converter where one fails.
#pragma once
#include <string>
#include <vector>

#include "cli/cli_session.h"
#include "settings/settings_file.h"

// How far a converter's writes got; on failure the step, its reason and the exit code.
struct ApplyProgress {
  int code = exitDone;
  std::string step;     // "Set Data of slot 2", "slot 2 read-back", "read option bits (read-back)"
  std::string reason;   // "no answer", "wiredAddress: wrote 5, read 4", the lost-link notice
  std::string message;  // the whole line quarn-cli prints
  std::vector<std::string> written;  // "slot 1", ..., "option bits": sent and accepted
};

// One field where two settings differ.
struct FieldDifference {
  std::string field;  // "slot2.deviceId", "wired.mode", "options.installMode"
  std::string wanted;
  std::string found;
};

// Every field of a slot (names prefixed with prefix) and of the wired settings that differs.
void slotDifferences(const std::string& prefix, const SlotFields& wanted, const SlotFields& found,
                     std::vector<FieldDifference>& out);
void wiredDifferences(const WiredSettings& wanted, const WiredSettings& found, std::vector<FieldDifference>& out);
void optionDifferences(const bool wanted[optionCount], const bool found[optionCount],
                       std::vector<FieldDifference>& out);

// Records a wait that ended without the answer; returns false.
bool waitFailed(ApplyProgress& progress, CliSession& session, WaitEnd end, const std::string& step);

// Writes slot s with the wired settings and reads it back; false on any failure or difference.
bool writeSlotVerified(ApplyProgress& progress, CliSession& session, int s, const SlotFields& fields,
                       const WiredSettings& wired, int timeoutMs);
// Writes the option bits and reads them back.
bool writeOptionsVerified(ApplyProgress& progress, CliSession& session, const bool bits[optionCount],
                          int timeoutMs);
// Everything a settings file holds, each part read back; stops at the first failure.
bool applySettings(ApplyProgress& progress, CliSession& session, const SettingsFile& file, int timeoutMs);
