// Reading the start-up files in their fixed order, and warning where they are open to others.
#include "app/startup_files.h"

#include <cstdio>

#include "text/private_files.h"

void loadStartupConfig(QuarnState& state) { readConfigFile(configFileName, state.config); }

void loadStartupKeys(LinkRecords& records) {
  records.converterKeys.count = 0;
  records.meterKeys.count = 0;
  loadKeyList(converterKeyDirectory, records.converterKeys);
  loadKeyList(meterKeyDirectory, records.meterKeys);
}

void reportExposedFiles(Log& log) {
  const char* const names[] = {configFileName, converterKeyDirectory, meterKeyDirectory};
  constexpr size_t nameCount = sizeof names / sizeof names[0];
  ExposedFile found[nameCount];
  const size_t count = findExposedFiles(names, nameCount, found, nameCount);
  for (size_t i = 0; i < count; ++i) {
    char line[160];
    exposedFileWarning(found[i], line, sizeof line);
    std::fputs(line, stdout);
    log.logText(line, logStylePlain);
  }
}
