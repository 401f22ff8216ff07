// quarn-cli: configures the converter from scripts, with the window's libraries and no display.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"

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
    "  site check PLAN        check a site plan (CSV or JSON, one converter a row): IDs, keys\n"
    "                         from the key lists, ports; lists every problem, sends nothing\n"
    "\n"
    "Link (one of):\n"
    "  --port NAME|PATH       wired: 2400 baud 8E1, REQ_UD2 first\n"
    "  --wireless             the USB wireless M-Bus stick, found as the window finds it\n"
    "  --converter ID         over the air: the converter to use (8 hex digits); without it\n"
    "                         the only converter heard\n"
    "\n"
    "Options:\n"
    "  --plain                wired requests without security (secured is the default)\n"
    "  --key HEX              converter key, 32 hex digits; else Quarnconfig.txt line 2 and\n"
    "                         dongleKeys/ in the working folder, as the window looks it up\n"
    "  --home DIR             working folder (default $QUARN_HOME, $XDG_DATA_HOME/quarn or\n"
    "                         ~/.local/share/quarn, as quarn-launcher)\n"
    "  --file FILE            settings file for set\n"
    "  --template FILE        settings file giving a site plan what its columns leave out\n"
    "  --field NAME=VALUE     one field for set (repeatable): active, manufacturer, version,\n"
    "                         deviceId, media, keyEncryptionKey, masterKey, wirelessProtocol,\n"
    "                         wirelessMode, wiredAddress, wiredProtocol, wiredMode\n"
    "  --json                 machine-readable output\n"
    "  --log FILE             append the byte log (the window's log format, UTC time stamps)\n"
    "  --timeout SECONDS      bound of each answer wait (default 2 s wired, 6 s wireless) and\n"
    "                         of listening for converters (default 10 s)\n"
    "  --verbose              the byte log on standard error too\n"
    "  --help, --version\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  other failure (file not written, key not found)\n"
    "  2  usage error, settings file or site plan refused; nothing was sent\n"
    "  3  port error: not found, not openable, or lost\n"
    "  4  no answer: the converter did not answer in time (a refused secured request, for\n"
    "     example with a wrong key, gets no answer)\n"
    "  5  verification mismatch: what was read back differs from what was written\n";

enum OptionId {
  optPort = 1000, optWireless, optConverter, optPlain, optKey, optHome, optFile, optField, optJson, optLog,
  optTimeout, optVerbose, optHelp, optVersion, optTemplate
};

const struct option longOptions[] = {
    {"port", required_argument, nullptr, optPort},       {"wireless", no_argument, nullptr, optWireless},
    {"converter", required_argument, nullptr, optConverter}, {"plain", no_argument, nullptr, optPlain},
    {"key", required_argument, nullptr, optKey},         {"home", required_argument, nullptr, optHome},
    {"file", required_argument, nullptr, optFile},       {"field", required_argument, nullptr, optField},
    {"json", no_argument, nullptr, optJson},             {"log", required_argument, nullptr, optLog},
    {"timeout", required_argument, nullptr, optTimeout}, {"verbose", no_argument, nullptr, optVerbose},
    {"template", required_argument, nullptr, optTemplate},
    {"help", no_argument, nullptr, optHelp},             {"version", no_argument, nullptr, optVersion},
    {nullptr, 0, nullptr, 0}};

int usage(const std::string& message) {
  std::fprintf(stderr, "quarn-cli: %s\n(quarn-cli --help lists the options)\n", message.c_str());
  return exitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  options.home = defaultHome();
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (c) {
      case optPort: options.port = value; break;
      case optWireless: options.wirelessLink = true; break;
      case optConverter: options.converterId = value; break;
      case optPlain: options.plain = true; break;
      case optKey: options.key = value; break;
      case optHome: options.home = value; break;
      case optFile: options.file = value; break;
      case optTemplate: options.templateFile = value; break;
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
        if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 3600)
          return usage("--timeout: expected seconds, more than 0 and at most 3600");
        options.timeoutMs = int(seconds * 1000);
        break;
      }
      case optVerbose: options.verbose = true; break;
      case optHelp: std::fputs(helpText, stdout); return exitDone;
      case optVersion: std::printf("quarn-cli %s\n", QUARN_VERSION); return exitDone;
      default:
        return usage(std::string("unknown or incomplete option ") + (optind > 0 ? argv[optind - 1] : ""));
    }
  }
  if (!options.port.empty() && options.wirelessLink) return usage("--port and --wireless exclude each other");
  for (int i = optind; i < argc; ++i) options.args.emplace_back(argv[i]);
  return runCliCommand(options);
}
