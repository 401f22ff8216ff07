// Opening the help page with the program Windows associates with it (ShellExecute): nothing
// to wait for and nothing to collect.
#include "app/help_opener.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <direct.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

size_t helpPageLocation(char* dest, size_t capacity) {
  if (capacity == 0) return 0;
  char directory[MAX_PATH * 4];
  if (_getcwd(directory, sizeof directory) == nullptr) directory[0] = '\0';
  const int written = directory[0] != '\0'
                          ? std::snprintf(dest, capacity, "%s\\%s", directory, helpPagePath)
                          : std::snprintf(dest, capacity, "%s", helpPagePath);
  if (written < 0) {
    dest[0] = '\0';
    return 0;
  }
  const size_t length = static_cast<size_t>(written) < capacity ? static_cast<size_t>(written) : capacity - 1;
  // One kind of separator, as the shell expects in a file path.
  for (size_t i = 0; i < length; ++i) {
    if (dest[i] == '/') dest[i] = '\\';
  }
  return length;
}

// ShellExecute starts no child of ours: there is never a viewer to collect.
int reapHelpViewers(HelpViewers& viewers) {
  for (pid_t& pid : viewers.pids) pid = 0;
  return 0;
}

int collectEndedHelpViewers(HelpViewers&) { return 0; }

std::string helpNotOpenedText(const char* path) {
  return std::string("No program could open the help page ") + path;
}

int openHelpPage(const char* path, HelpViewers& viewers, std::string* failure) {
  reapHelpViewers(viewers);
  if (_access(path, 4) != 0) {
    std::printf("Help page not found: %s\n", path);
    if (failure != nullptr) *failure = std::string("Help page not found: ") + path;
    return 0;
  }
  // Values above 32 mean success.
  const INT_PTR result =
      reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) {
    std::printf("Cannot open the help page: ShellExecute error %ld\n", static_cast<long>(result));
    if (failure != nullptr) *failure = helpNotOpenedText(path);
    return 0;
  }
  return 1;
}
