// The one escaper: any text (from a device, a file or the command line) made safe to print on a
// terminal, in the log or in a file.
#pragma once
#include <cstddef>
#include <string>

// Copies text with every byte that could steer a terminal written as \xNN (upper-case hex):
// C0 controls (below 0x20), DEL, and every byte of a sequence that is not well-formed UTF-8 or
// that encodes a C1 control (U+0080..U+009F). Well-formed UTF-8 otherwise stays as it is, so
// product names in any language print unchanged. A backslash is not escaped: instance
// identifiers are full of them. A null text gives "".
std::string printableText(const char* text);
// The same over exactly length bytes: a NUL is written as \x00 and never ends the text.
std::string printableText(const char* text, size_t length);
std::string printableText(const std::string& text);
