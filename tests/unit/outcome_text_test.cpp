// How each way a command can end reads on the status line, for every command that ends so.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "link/outcome_text.h"
#include "link/wired_connection.h"
#include "serial/serial_port.h"

namespace {

struct OutcomeCase {
  CommandOutcome outcome;
  const char* expected;  // with %s where the command's name goes
};

std::string filled(const char* pattern, const std::string& command) {
  std::string text = pattern;
  const std::string::size_type at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, command);
  return text;
}

TEST(OutcomeText, EveryEndOfEveryCommandSaysWhatHappened) {
  const char* const commands[] = {"REQ_UD2 on ttySIM0", "Get Data of slot 1", "Set Data of slot 4", "Scan",
                                  "Read option bits", "Write option bits"};
  const OutcomeCase cases[] = {
      {{CommandEnd::answered, ""}, "%s answered."},
      {{CommandEnd::noAnswer, "wrong address, or converter out of reach"},
       "No answer to %s: wrong address, or converter out of reach."},
      {{CommandEnd::noAnswer, ""}, "No answer to %s."},
      {{CommandEnd::notSent, "Not sent: no COM port open"}, "%s not sent: no COM port open."},
      {{CommandEnd::notSent, "Not sent: ttySIM0: write failed (Input/output error)."},
       "%s not sent: ttySIM0: write failed (Input/output error)."},
      {{CommandEnd::notSent, "not sent"}, "%s not sent."},
      {{CommandEnd::lost, "Connection lost: ttySIM0"}, "%s lost: Connection lost: ttySIM0."},
  };
  for (const char* command : commands) {
    for (const OutcomeCase& c : cases) {
      SCOPED_TRACE(std::string(command) + " / " + c.outcome.reason);
      EXPECT_EQ(outcomeText(command, c.outcome), filled(c.expected, command));
    }
  }
}

// Set Data refused before it left names its slot and cause once, not twice.
TEST(OutcomeText, ARefusalThatNamesItsCommandIsNotRepeated) {
  const CommandOutcome refused{CommandEnd::notSent,
                               ">>> Set Data of slot 2 not sent: the wired address must be 0 to 250."};
  EXPECT_EQ(outcomeText("Set Data of slot 2", refused),
            "Set Data of slot 2 not sent: the wired address must be 0 to 250.");
}

// A port refused to an account outside dialout: the status line and the log say the cause and
// the cure on one line.
TEST(OutcomeText, AFailedOpenKeepsItsCauseAndCureOnOneLine) {
  const std::string box = std::string("Serial Error\nError opening COM port ttyUSB0\n") + serialOpenCauseText(EACCES);
  EXPECT_EQ(notConnectedText(box),
            "Not connected: Error opening COM port ttyUSB0 Permission denied: the user is not in the dialout group. "
            "Run sudo adduser $USER dialout, then log out and in again.");
  EXPECT_EQ(notConnectedText("Serial Error\nCOM port ttyUSB9 not found"), "Not connected: COM port ttyUSB9 not found");
}

TEST(OutcomeText, KeyFindSaysWhereItLooked) {
  EXPECT_EQ(keyFindText(false, "12345678"), "No key for meter 12345678 in meterKeys/");
  EXPECT_EQ(keyFindText(true, "00001234"), "Keys of meter 00001234 filled in from meterKeys/.");
}

}  // namespace
