// Reading the start-up files in their fixed order.
#include "app/startup_files.h"

void loadStartupFiles(QuarnState& state) {
  readConfigFile(configFileName, state.config);
  state.converterKeyList.count = 0;
  state.meterKeyList.count = 0;
  loadKeyList(converterKeyDirectory, state.converterKeyList);
  loadKeyList(meterKeyDirectory, state.meterKeyList);
}
