// Files that hold keys must stay the user's own: which of them other users can read or change.
// Linux reads the mode bits, Windows the access control list; nothing above knows which.
#pragma once
#include <cstddef>

struct ExposedFile {
  const char* name;   // as given to findExposedFiles
  bool isDirectory;
  bool readable;      // other users may read it
  bool writable;      // other users may change it
};

// Checks each of the named paths (followed through links, as chmod does); missing ones are
// no finding. Writes at most capacity findings in the order of names; returns their count.
// Linux: group or others in the mode bits. Windows: anyone but the owner, SYSTEM and the
// Administrators allowed to read or change it by the file's access control list.
size_t findExposedFiles(const char* const* names, size_t count, ExposedFile* found,
                        size_t capacity);

// The command that makes it the user's own again ("chmod 600 NAME", or on Windows an icacls
// command), into dest (truncated to fit). Returns the length written.
size_t privateFileRemedy(const char* name, bool isDirectory, char* dest, size_t capacity);

// One warning line for a finding, ending in a line break, into dest (truncated to fit).
// Returns the length written.
size_t exposedFileWarning(const ExposedFile& file, char* dest, size_t capacity);

#ifdef _WIN32
struct OthersAccess {
  bool readable;
  bool writable;
};

// What a security descriptor (owner and DACL) lets anyone but its owner, SYSTEM and the
// Administrators do: a missing DACL lets everyone do everything; an ACE that only passes down to
// children counts for nothing; a deny ACE takes its rights from later allow ACEs of its SID
// (and, for Everyone, of all).
OthersAccess othersAccess(const void* securityDescriptor);
#endif
