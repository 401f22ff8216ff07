// quarn-cli's commands: what the command line asked for, run against one converter.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "cli/log_file.h"
#include "jobs/survey_job.h"
#include "text/output_file.h"

struct CliOptions {
  std::string port;          // --port: name or device path
  bool wirelessLink = false; // --wireless
  std::string stick;         // --stick SERIAL, or --port with --wireless: the stick to use
  std::string converterId;   // --converter
  bool plain = false;        // --plain
  std::string key;           // --key: 32 hex digits, or "-" for standard input
  std::string keyFile;       // --key-file
  std::string home;          // --home
  bool json = false;
  std::string logFile;
  LogFile* logSink = nullptr;  // where --log goes; the caller checks it for write errors
  int timeoutMs = 0;         // 0: the link's own bounds
  bool verbose = false;
  std::string file;          // --file for set
  std::string templateFile;  // --template for the site commands
  std::string reportFile;    // --report for the site commands
  std::string resumeFile;    // --resume for site apply
  std::string applyReportFile;  // --apply-report for site report
  std::string surveyFile;       // --survey for site report
  std::string htmlFile;         // --html for site report
  std::string into;          // --into for keys import
  std::string outFile;       // --out for site survey
  int surveySeconds = surveyDefaultSeconds;            // --seconds for survey
  int scanEverySeconds = surveyDefaultScanEverySeconds;  // --scan-every for survey
  std::vector<std::pair<std::string, std::string>> fields;  // --field name=value
  std::vector<std::string> args;  // the command and its arguments
};

// Runs the command; prints its result (text or JSON) on standard output and errors on standard
// error. Returns the exit code.
int runCliCommand(const CliOptions& options);

// A command line refused before it was understood: the message on standard error, and with
// --json the failure as JSON. Returns the usage exit code.
int usageFailure(const CliOptions& options, const std::string& message);

// What the command did, for a message about output that did not arrive: "the command itself
// succeeded" or "the command itself ended with exit code N".
std::string outcomeText(int code);

class JobLink;
// Loads the initial key text (Quarnconfig.txt line 2) and both key lists from home.
void loadHome(JobLink& link, const std::string& home);

// Every file the command line makes the run read (plan, template, resume report, key file,
// settings file, Quarnconfig.txt): no output of the run may be written over one of them.
ReadFiles runInputFiles(const CliOptions& options);

// Working folder as the launcher chooses it: $QUARN_HOME, $XDG_DATA_HOME/quarn, ~/.local/share/quarn.
std::string defaultHome();
