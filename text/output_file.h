// Files the program writes: refusing kinds of file that would hang, leak or be destroyed, and
// replacing a file whole.
#pragma once
#include <cstddef>

// Opens path for appending, created with mode 0600 (what is written may hold keys), without
// following a symbolic link and without waiting: a FIFO, a device, a directory or a link is
// refused at once. Returns the descriptor, or -1 with why (a few words) in reason.
int openPrivateAppendFile(const char* path, char* reason, size_t capacity);

// Whether path may be replaced by a new file: it is missing or a regular file. A FIFO, a
// device node, a directory or a symbolic link is kept (replacing /dev/null as root would
// destroy it); why goes to reason.
bool replaceableFile(const char* path, char* reason, size_t capacity);

// Moves the complete file from over to (same folder), replacing an existing one. Returns
// false with errno (POSIX) or the mapped error set.
bool replaceFile(const char* from, const char* to);
