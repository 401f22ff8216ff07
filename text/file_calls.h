// The POSIX file calls (open, read, write, fsync, fchmod, getpid) on both platforms: where the
// Windows C runtime lacks a flag or a call, the name stands for what comes closest there.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
// The Windows C runtime has no such descriptor flags and no owner-only mode to set (the folder's
// access list decides); files are opened binary so that line ends stay as written.
constexpr int O_CLOEXEC = _O_NOINHERIT | _O_BINARY;
constexpr int O_NOCTTY = 0;
constexpr int O_NONBLOCK = 0;
constexpr int O_NOFOLLOW = 0;
inline int fchmod(int, int) { return 0; }
inline int fsync(int fd) { return _commit(fd); }
#endif
