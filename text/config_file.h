// The two-line start-up file "Quarnconfig.txt": line 1 ignored, line 2 the initial converter key text.
#pragma once
#include <cstddef>

constexpr size_t configLineSize = 256;  // one read takes at most 255 characters
constexpr const char* configFileName = "Quarnconfig.txt";

struct ConfigFile {
  char configLine1[configLineSize] = {};
  char configLine2[configLineSize] = {};
  bool configLoaded = false;  // the file was opened
};

// Reads up to two lines of at most 255 characters each; a longer line continues in the
// next read. The line end (LF, or CR LF as a file written on Windows has it) is removed.
// A file that does not open, or is not a regular file (FIFO, device, directory, or a link
// to one), leaves config untouched apart from configLoaded = false.
void readConfigFile(const char* path, ConfigFile& config);
