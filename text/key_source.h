// Where a converter key comes from on the command line (--key HEX, --key -, --key-file FILE), and
// the warnings about key files and folders that other accounts can open. The plan's column,
// dongleKeys/ and Quarnconfig.txt line 2 are looked up after these, in siteConverterKey and the
// link's key lookup.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The key the command line gives: keyArgument as 32 hex digits, "-" for one line of input (kept
// out of the process list), or the first line of keyFile. The key file is opened without waiting
// and refused unless it is a regular file only its owner can read (a FIFO or a device would
// block or never end). Blanks at the end are dropped. Returns false with why in error (the
// source named first: "--key-file k: not a regular file"); true with key empty when none is given.
bool commandLineKey(const std::string& keyArgument, const std::string& keyFile, FILE* input, std::string& key,
                    std::string& error);

// One warning each ("... can be read by other accounts ...", without a line end) for
// Quarnconfig.txt, dongleKeys/ and meterKeys/ in home and the key file, where group or others may
// read or change them.
std::vector<std::string> exposedKeyFileWarnings(const std::string& home, const std::string& keyFile);
