// The one writer of files: refusing kinds of file that would hang, leak or be destroyed, and
// any file the run reads, checked before anything is sent, and replacing a file whole.
#pragma once
#include <cstddef>
#include <string>

// A file the run reads, by device and inode, so that no output of the run is written over it
// under another name (a link, a second path). Windows has no inode numbers: there nothing is
// recorded and only the kinds of file are refused.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
};
// Plan, template, resume report, key file, settings file, Quarnconfig.txt: a few files a run.
constexpr size_t readFileLimit = 16;
struct ReadFiles {
  FileIdentity files[readFileLimit];
  size_t count = 0;
};

// Records the file at path (followed through links, as it is read); a missing path, or one past
// the limit, is not recorded.
void addReadFile(ReadFiles& reads, const char* path);

// Whether path may be written (replaced whole) as an output of this run, decided before anything
// is sent: missing or a regular file that is none of reads (nullptr: none), and the folder takes
// a new file (one is created there and removed again). A FIFO, a device node, a directory or a
// symbolic link is kept (replacing /dev/null as root would destroy it). Why goes to reason.
bool checkOutputFile(const char* path, const ReadFiles* reads, char* reason, size_t capacity);

// Writes text to path through a temporary file in the same folder, mode 0600 (what the program
// writes may hold keys), renamed over the target when complete, after checkOutputFile. error
// begins with the path.
bool writePrivateTextFile(const std::string& path, const std::string& text, std::string& error,
                          const ReadFiles* reads = nullptr);

// Opens path for appending, created with mode 0600 (what is written may hold keys), without
// following a symbolic link and without waiting: a FIFO, a device, a directory, a link or a file
// of reads (nullptr: none) is refused at once. Returns the descriptor, or -1 with why (a few
// words) in reason.
int openPrivateAppendFile(const char* path, const ReadFiles* reads, char* reason, size_t capacity);

// Whether path may be replaced by a new file: it is missing or a regular file. A FIFO, a
// device node, a directory or a symbolic link is kept (replacing /dev/null as root would
// destroy it); why goes to reason.
bool replaceableFile(const char* path, char* reason, size_t capacity);

// Moves the complete file from over to (same folder), replacing an existing one. Returns
// false with errno (POSIX) or the mapped error set.
bool replaceFile(const char* from, const char* to);
