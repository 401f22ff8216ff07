// Any text made safe to put into an HTML page, as element content or a quoted attribute value.
#pragma once
#include <string>

// The text as printableText shows it (controls and bytes that are not UTF-8 as \xNN, a NUL too),
// with & < > " ' written as character references.
std::string htmlText(const std::string& text);
