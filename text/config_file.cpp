// Reading the start-up configuration file.
#include "text/config_file.h"

#include <cstdio>
#include <cstring>

#include "text/regular_file.h"

namespace {

// One fgets-style read; a line break at its end is dropped, and with it a CR before it.
void readConfigLine(FILE* file, char* line) {
  if (std::fgets(line, static_cast<int>(configLineSize), file) == nullptr) {
    line[0] = '\0';
    return;
  }
  size_t length = std::strlen(line);  // a NUL inside the line ends the text there
  if (length > 0 && line[length - 1] == '\n') {
    line[--length] = '\0';
    if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
  }
}

}  // namespace

void readConfigFile(const char* path, ConfigFile& config) {
  config.configLoaded = false;
  FILE* file = openRegularFileStream(path);  // a FIFO or device would hang the start
  if (file == nullptr) return;
  readConfigLine(file, config.configLine1);
  readConfigLine(file, config.configLine2);
  std::fclose(file);
  config.configLoaded = true;
}
