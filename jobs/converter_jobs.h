// The single-converter jobs: identify, get, set, options get/set, scan, key find, export, apply
// and verify, each on a connected JobLink, each returning its outcome as records.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "jobs/job_link.h"
#include "settings/settings_file.h"

// How far a job got; on failure the step, its reason and the exit code.
struct JobOutcome {
  int code = exitDone;
  std::string step;     // "Set Data of slot 2", "slot 2 read-back", "read option bits (read-back)"
  std::string reason;   // "no answer", "wiredAddress: wrote 5, read 4", the lost-link notice
  std::string message;  // the whole line a face shows: "<step> failed: <reason>"
  std::vector<std::string> written;  // "slot 1", ..., "option bits": sent and acknowledged
  std::vector<std::string> readBack; // the same steps once read back equal
  bool ok() const { return code == exitDone; }
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
bool waitFailed(JobOutcome& outcome, JobLink& link, WaitEnd end, const std::string& step);

// Step observer: told after each step the converter acknowledged or that was read back, so a
// face can keep a journal as it happens. May be empty.
using StepNotice = std::function<void(const JobOutcome&)>;

// Writes slot s with the wired settings and reads it back; false on any failure or difference.
bool writeSlotVerified(JobOutcome& outcome, JobLink& link, int s, const SlotFields& fields,
                       const WiredSettings& wired, int timeoutMs, const StepNotice& notice = {});
// Writes the option bits and reads them back.
bool writeOptionsVerified(JobOutcome& outcome, JobLink& link, const bool bits[optionCount], int timeoutMs,
                          const StepNotice& notice = {});

// apply: everything a settings file holds, each part read back; stops at the first failure.
JobOutcome applyJob(JobLink& link, const SettingsFile& file, int timeoutMs, const StepNotice& notice = {});
// verify: reads back what the file holds and lists each field where the converter differs
// (exit code exitMismatch when any does). Writes nothing.
JobOutcome verifyJob(JobLink& link, const SettingsFile& file, int timeoutMs, std::vector<FieldDifference>& differences);
// get: slot s and the wired settings.
JobOutcome getJob(JobLink& link, int s, int timeoutMs, SettingsFile& got);
// set: slot s from the file's slot (when present), then the fields named, over what the
// converter holds; written and read back.
JobOutcome setJob(JobLink& link, int s, const SettingsFile& file,
                  const std::vector<std::pair<std::string, std::string>>& fields, int timeoutMs, SettingsFile& wrote);
// options get / options set: bits as eight digits or name=0|1,...; names keep the other bits
// as read first.
JobOutcome readOptionsJob(JobLink& link, int timeoutMs, bool bits[optionCount]);
JobOutcome writeOptionsJob(JobLink& link, const std::string& text, int timeoutMs, bool bits[optionCount]);
// scan: the meters the converter hears, in the link's nearby list.
JobOutcome scanJob(JobLink& link, int timeoutMs);
// key find: slot s's keys from the meter key list by its Device ID, read first unless offline.
JobOutcome keyFindJob(JobLink& link, int s, bool offline, int timeoutMs, SlotFields& found);
// export: all four slots, the wired settings and option bits read into a settings record.
JobOutcome exportJob(JobLink& link, int timeoutMs, SettingsFile& out);

// "slot 1, slot 2, option bits", or "nothing".
std::string stepList(const std::vector<std::string>& steps);
// What apply ended in, as both faces say it: "written and read back: slot 1, option bits", or the
// failure followed by what was written before it.
std::string applyResultText(const JobOutcome& outcome);
// One line per field that differs: "slot1.deviceId: file 12345678, converter 00000000".
std::string differenceLines(const std::vector<FieldDifference>& differences);
