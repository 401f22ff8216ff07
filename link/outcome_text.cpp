// The one line that says how a converter command ended.
#include "link/outcome_text.h"

namespace {

// "Not sent: why" and ">>> ... not sent: why" both give why; a bare reason gives nothing.
std::string notSentWhy(const std::string& reason) {
  const std::string mark = "not sent: ";
  std::string::size_type at = reason.find(mark);
  if (at == std::string::npos) at = reason.find("Not sent: ");
  return at == std::string::npos ? std::string() : reason.substr(at + mark.size());
}

// One full stop at the end, whether the reason brought its own or not.
std::string sentence(std::string text) {
  if (text.empty() || text.back() != '.') text += '.';
  return text;
}

}  // namespace

std::string outcomeText(const std::string& command, const CommandOutcome& outcome) {
  switch (outcome.end) {
    case CommandEnd::answered: return command + " answered.";
    case CommandEnd::noAnswer:
      return sentence("No answer to " + command + (outcome.reason.empty() ? "" : ": " + outcome.reason));
    case CommandEnd::notSent: {
      const std::string why = notSentWhy(outcome.reason);
      return sentence(command + " not sent" + (why.empty() ? "" : ": " + why));
    }
    case CommandEnd::lost:
      return sentence(command + " lost" + (outcome.reason.empty() ? "" : ": " + outcome.reason));
  }
  return std::string();
}

std::string keyFindText(bool found, const std::string& deviceId) {
  return found ? "Keys of meter " + deviceId + " filled in from meterKeys/."
               : "No key for meter " + deviceId + " in meterKeys/";
}
