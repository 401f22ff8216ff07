// quarn-cli: configures the converter from scripts, with the window's libraries and no display.
#include <getopt.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>

#include "cli/cli_commands.h"
#include "jobs/job_link.h"
#include "serial/serial_port.h"

namespace {

const char helpText[] =
    "usage: quarn-cli [options] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  ports                  list serial ports (name, by-id link, USB id, serial, description)\n"
    "                         and mark the wireless stick\n"
    "  identify               serial number, address, firmware and message counter\n"
    "  get SLOT               read device slot 1 to 4 and the wired settings\n"
    "  set SLOT               write a slot from --file and/or --field, then read it back\n"
    "  options get            read the eight option bits\n"
    "  options set BITS       write them: eight digits 0/1 in order, or name=0|1,...\n"
    "  scan                   the wireless meters the converter hears\n"
    "  key-find SLOT          the slot's keys from meterKeys/ by its Device ID (read from the\n"
    "                         converter, or given with --field deviceId=HEX8 without a link)\n"
    "  export FILE            read all four slots, wired settings and option bits into FILE\n"
    "  apply FILE             write what FILE holds and read every part back\n"
    "  verify FILE            read back what FILE holds; list each field that differs\n"
    "  site check PLAN        check a site plan (CSV or JSON, one converter a row): IDs, keys\n"
    "                         from the key lists, ports; lists every problem, sends nothing\n"
    "  site apply PLAN        check, then write every converter (over the air as each is heard,\n"
    "                         by wire port by port) and read it back; needs --template\n"
    "  site verify PLAN       read every converter back; list each field that differs\n"
    "  site export PLAN       read every converter; print what they hold as a CSV plan\n"
    "  site report PLAN       write one HTML page (A4) per site: each converter's settings from\n"
    "                         --apply-report, each planned meter's signal and key verdict from\n"
    "                         --survey, what is done and what is pending; needs --html\n"
    "  site survey PLAN       over the air, each planned converter as it is heard: a survey\n"
    "                         (as survey) with it as partner; the report (--out FILE) holds\n"
    "                         each converter's meters\n"
    "  survey                 over the air: listens through the stick for --seconds (default 30)\n"
    "                         and scans the partner every --scan-every seconds (default 10); one\n"
    "                         row per meter: frames heard, scans, RSSI min/mean/max, security,\n"
    "                         key verdict (as keys check)\n"
    "  keys check FILE|-      meter telegrams in hex, one a line (with or without the length byte,\n"
    "                         or as logged: telegram=|...|): one row per meter with the verdict\n"
    "                         on its key from meterKeys/: right, wrong, reversed, other-entry,\n"
    "                         no-key, plain or unsupported; keys shown only by check value\n"
    "  keys import FILE       a manufacturer's key list (CSV or ;-separated ID, key, optional\n"
    "                         second key) into a new private file in meterKeys/; refused whole\n"
    "                         on any bad line, a conflict with a listed ID, or an existing file\n"
    "\n"
    "Link (one of):\n"
    "  --port NAME|PATH       wired: 2400 baud 8E1, REQ_UD2 first\n"
    "  --wireless             the USB wireless M-Bus stick, found as the window finds it;\n"
    "                         with --port NAME|PATH, the stick on that port\n"
    "  --stick SERIAL         over the air through the stick with this serial (ZJ...),\n"
    "                         where several are plugged in\n"
    "  --converter ID         over the air: the converter to use (8 hex digits); without it\n"
    "                         the only converter heard\n"
    "\n"
    "Options:\n"
    "  --plain                wired requests without security (secured is the default)\n"
    "  --key HEX              converter key, 32 hex digits; else Quarnconfig.txt line 2 and\n"
    "                         dongleKeys/ in the working folder, as the window looks it up;\n"
    "                         --key - reads it from standard input\n"
    "  --key-file FILE        the key from the file's first line; refused when others can read it\n"
    "  --home DIR             working folder (default $QUARN_HOME, $XDG_DATA_HOME/quarn or\n"
    "                         ~/.local/share/quarn, as quarn-launcher)\n"
    "  --file FILE            settings file for set\n"
    "  --template FILE        settings file giving a site plan what its columns leave out\n"
    "  --report FILE          site commands: the JSON report, rewritten after each step\n"
    "  --resume REPORT        site apply: skip converters REPORT shows done, verified, as planned\n"
    "  --apply-report R       site report: the report of site apply (or site verify)\n"
    "  --survey S             site report: the JSON of site survey\n"
    "  --html FILE            site report: the page to write (replaced whole)\n"
    "  --seconds N            survey: how long to listen (default 30)\n"
    "  --scan-every S         survey: seconds between scans (default 10)\n"
    "  --out FILE             site survey: the JSON report with every converter's meters\n"
    "  --into NAME            keys import: the new file's name in meterKeys/ (default: the\n"
    "                         list's name with .txt)\n"
    "  --field NAME=VALUE     one field for set (repeatable): active, manufacturer, version,\n"
    "                         deviceId, media, keyEncryptionKey, masterKey, wirelessProtocol,\n"
    "                         wirelessMode, wiredAddress, wiredProtocol, wiredMode\n"
    "  --json                 machine-readable output\n"
    "  --log FILE             append the byte log (the window's log format, UTC time stamps)\n"
    "  --timeout SECONDS      bound of each answer wait (default 2 s wired, 6 s wireless) and\n"
    "                         of listening for converters (default 10 s); 0.1 to 86400\n"
    "  --verbose              the byte log on standard error too\n"
    "  --help, --version\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  other failure (file not written, no converter key, key not found)\n"
    "  2  usage error, key, settings file or site plan refused; nothing was sent\n"
    "  3  port error: not found, not openable, or lost\n"
    "  4  no answer: the converter did not answer in time (a refused secured request, for\n"
    "     example with a wrong key, gets no answer); nothing it did not answer is reported\n"
    "  5  verification mismatch: what was read back differs from what was written\n"
    "Site commands: 3 when the stick is lost (the report tells which converter was in\n"
    "progress and at which step), else 4 when any converter failed or was not heard, else 5\n"
    "when site verify found a difference.\n";

enum OptionId {
  optPort = 1000, optWireless, optConverter, optPlain, optKey, optHome, optFile, optField, optJson, optLog,
  optTimeout, optVerbose, optHelp, optVersion, optKeyFile, optTemplate, optReport, optResume, optApplyReport,
  optSurvey, optHtml, optInto, optSeconds, optScanEvery, optOut, optStick
};

const struct option longOptions[] = {
    {"port", required_argument, nullptr, optPort},       {"wireless", no_argument, nullptr, optWireless},
    {"converter", required_argument, nullptr, optConverter}, {"plain", no_argument, nullptr, optPlain},
    {"key", required_argument, nullptr, optKey},         {"home", required_argument, nullptr, optHome},
    {"file", required_argument, nullptr, optFile},       {"field", required_argument, nullptr, optField},
    {"json", no_argument, nullptr, optJson},             {"log", required_argument, nullptr, optLog},
    {"timeout", required_argument, nullptr, optTimeout}, {"verbose", no_argument, nullptr, optVerbose},
    {"template", required_argument, nullptr, optTemplate},
    {"report", required_argument, nullptr, optReport},   {"resume", required_argument, nullptr, optResume},
    {"help", no_argument, nullptr, optHelp},             {"version", no_argument, nullptr, optVersion},
    {"key-file", required_argument, nullptr, optKeyFile},
    {"apply-report", required_argument, nullptr, optApplyReport},
    {"survey", required_argument, nullptr, optSurvey},   {"html", required_argument, nullptr, optHtml},
    {"into", required_argument, nullptr, optInto},
    {"seconds", required_argument, nullptr, optSeconds},
    {"scan-every", required_argument, nullptr, optScanEvery},
    {"out", required_argument, nullptr, optOut},
    {"stick", required_argument, nullptr, optStick},
    {nullptr, 0, nullptr, 0}};


// Write errors are reported, not fatal: a reader that went away (`| head`) or a file size limit
// ends in a message and exit code instead of a silent death.
void ignoreWriteSignals() {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// The command's exit code, unless the log or standard output lost what was written to them.
// writeErrno: why an earlier write to standard output failed, when it did (a text longer than
// the stream's buffer fails in the write itself, not in the flush).
int checkOutputs(int code, LogFile& log, int writeErrno = 0) {
  if (!log.finish()) {
    std::fprintf(stderr, "quarn-cli: %s; %s\n", log.failureText().c_str(), outcomeText(code).c_str());
    if (code == exitDone) code = exitFailed;
  }
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int cause = errno != 0 ? errno : writeErrno;
    std::fprintf(stderr, "quarn-cli: standard output: write failed (%s); %s\n",
                 cause != 0 ? std::strerror(cause) : "error", outcomeText(code).c_str());
    if (code == exitDone) code = exitFailed;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  ignoreWriteSignals();
  releasePortsOnSignals();
  LogFile log;
  CliOptions options;
  options.home = defaultHome();
  // A refused command line answers in JSON too when --json is anywhere on it.
  for (int i = 1; i < argc; ++i) options.json = options.json || std::string(argv[i]) == "--json";
  auto usage = [&options](const std::string& message) { return usageFailure(options, message); };
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (c) {
      case optPort: options.port = value; break;
      case optWireless: options.wirelessLink = true; break;
      case optStick: options.stick = value; break;
      case optConverter: options.converterId = value; break;
      case optPlain: options.plain = true; break;
      case optKey: options.key = value; break;
      case optKeyFile: options.keyFile = value; break;
      case optHome: options.home = value; break;
      case optFile: options.file = value; break;
      case optTemplate: options.templateFile = value; break;
      case optReport: options.reportFile = value; break;
      case optResume: options.resumeFile = value; break;
      case optApplyReport: options.applyReportFile = value; break;
      case optSurvey: options.surveyFile = value; break;
      case optHtml: options.htmlFile = value; break;
      case optInto: options.into = value; break;
      case optOut: options.outFile = value; break;
      case optSeconds:
      case optScanEvery: {
        char* end = nullptr;
        const long seconds = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || seconds < 1 || seconds > 86400)
          return usage(std::string(c == optSeconds ? "--seconds" : "--scan-every") + ": expected whole seconds from 1 to 86400");
        (c == optSeconds ? options.surveySeconds : options.scanEverySeconds) = int(seconds);
        break;
      }
      case optField: {
        const size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0) return usage("--field: expected NAME=VALUE, got \"" + value + "\"");
        options.fields.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        break;
      }
      case optJson: options.json = true; break;
      case optLog: options.logFile = value; break;
      case optTimeout: {
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(seconds >= 0.1) || seconds > 86400)
          return usage("--timeout: expected seconds from 0.1 to 86400 (a day)");
        options.timeoutMs = int(seconds * 1000);
        break;
      }
      case optVerbose: options.verbose = true; break;
      case optHelp: {
        errno = 0;
        const int writeErrno = std::fputs(helpText, stdout) == EOF ? errno : 0;
        return checkOutputs(exitDone, log, writeErrno);
      }
      case optVersion: std::printf("quarn-cli %s\n", QUARN_VERSION); return checkOutputs(exitDone, log);
      default:
        return usage(std::string("unknown or incomplete option ") + (optind > 0 ? argv[optind - 1] : ""));
    }
  }
  // With --wireless, --port names the stick's port.
  if (!options.port.empty() && options.wirelessLink) {
    if (!options.stick.empty()) return usage("--stick and --port name the stick twice");
    options.stick = options.port;
    options.port.clear();
  }
  // --stick names the link too: over the air (site commands take the stick for their wireless rows).
  if (!options.stick.empty()) {
    if (!options.port.empty()) return usage("--stick and --port exclude each other");
    options.wirelessLink = true;
  }
  for (int i = optind; i < argc; ++i) options.args.emplace_back(argv[i]);
  options.logSink = &log;
  return checkOutputs(runCliCommand(options), log);
}
