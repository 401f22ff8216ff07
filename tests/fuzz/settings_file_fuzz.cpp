// Settings file texts of any content: a text that is accepted writes back as a text that is
// accepted and gives the same file again; a refused one always says why.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SettingsFile settings;
  std::string error;
  if (!parseSettingsText(text, settings, error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  const std::string written = settingsText(settings);
  SettingsFile again;
  FUZZ_CHECK(parseSettingsText(written, again, error));
  FUZZ_CHECK(settingsText(again) == written);
  return 0;
}
