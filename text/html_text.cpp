// HTML escaping on top of the terminal-safe text, so both show a stray byte the same way.
#include "text/html_text.h"

#include "text/printable_text.h"

namespace {

void appendEscaped(std::string& out, const std::string& shown) {
  for (char c : shown) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
}

}  // namespace

std::string htmlText(const std::string& text) {
  std::string out;
  // printableText stops at a NUL; the parts between NULs are shown one by one.
  size_t start = 0;
  for (;;) {
    const size_t nul = text.find('\0', start);
    appendEscaped(out, printableText(text.substr(start, nul - start).c_str()));
    if (nul == std::string::npos) break;
    out += "\\x00";
    start = nul + 1;
  }
  return out;
}
