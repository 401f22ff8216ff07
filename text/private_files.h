// Files that hold keys must stay the user's own: which of them other users can read or change.
#pragma once
#include <cstddef>

struct ExposedFile {
  const char* name;   // as given to findExposedFiles
  bool isDirectory;
  bool readable;      // group or others may read it
  bool writable;      // group or others may change it
};

// Checks each of the named paths (followed through links, as chmod does); missing ones are
// no finding. Writes at most capacity findings in the order of names; returns their count.
size_t findExposedFiles(const char* const* names, size_t count, ExposedFile* found,
                        size_t capacity);

// Whether a file of this st_mode lets group or others read it. Windows keeps that in the
// file's access control list, not in mode bits, so there it is always false.
bool modeLetsOthersRead(unsigned mode);

// One warning line for a finding, ending in a line break, into dest (truncated to fit).
// Returns the length written.
size_t exposedFileWarning(const ExposedFile& file, char* dest, size_t capacity);
