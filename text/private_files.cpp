// Files that hold keys must stay the user's own: which of them other users can read or change.
#include "text/private_files.h"

#include <sys/stat.h>

#include <cstdio>

#ifdef _WIN32
// Windows keeps who may read a file in its access control list, not in mode bits; that list is
// not examined, so Windows reports no finding.
size_t findExposedFiles(const char* const*, size_t, ExposedFile*, size_t) { return 0; }
bool modeLetsOthersRead(unsigned) { return false; }
#else
bool modeLetsOthersRead(unsigned mode) { return (mode & (S_IRGRP | S_IROTH)) != 0; }

size_t findExposedFiles(const char* const* names, size_t count, ExposedFile* found,
                        size_t capacity) {
  size_t findings = 0;
  for (size_t i = 0; i < count && findings < capacity; ++i) {
    struct stat info {};
    if (names[i] == nullptr || stat(names[i], &info) != 0) continue;
    const bool readable = modeLetsOthersRead(info.st_mode);
    const bool writable = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (!readable && !writable) continue;
    found[findings++] = ExposedFile{names[i], S_ISDIR(info.st_mode), readable, writable};
  }
  return findings;
}
#endif

size_t exposedFileWarning(const ExposedFile& file, char* dest, size_t capacity) {
  if (dest == nullptr || capacity == 0) return 0;
  const char* access = file.readable && file.writable ? "readable and writable"
                       : file.readable                ? "readable"
                                                      : "writable";
  const char* mode = file.isDirectory ? "700" : "600";
  const int length = std::snprintf(dest, capacity, "Warning: %s is %s by other users; run chmod %s %s.\n",
                                   file.name, access, mode, file.name);
  if (length < 0) {
    dest[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
}
