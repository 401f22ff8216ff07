// Files the program writes: refusing kinds of file that would hang, leak or be destroyed, and
// replacing a file whole.
#include "text/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

void say(char* reason, size_t capacity, const char* text) {
  if (reason != nullptr && capacity > 0) std::snprintf(reason, capacity, "%s", text);
}

const char* kindOf(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return "a directory";
    case S_IFCHR: return "a device";
#ifndef _WIN32
    case S_IFIFO: return "a FIFO";
    case S_IFBLK: return "a device";
    case S_IFLNK: return "a symbolic link";
    case S_IFSOCK: return "a socket";
#endif
    default: return "not a regular file";
  }
}

}  // namespace

#ifdef _WIN32
int openPrivateAppendFile(const char* path, char* reason, size_t capacity) {
  const int fd = _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    say(reason, capacity, std::strerror(errno));
    return -1;
  }
  struct _stat64 info {};
  if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    say(reason, capacity, kindOf(info.st_mode));
    _close(fd);
    return -1;
  }
  return fd;
}

bool replaceableFile(const char* path, char* reason, size_t capacity) {
  struct _stat64 info {};
  if (_stat64(path, &info) != 0) return true;
  if ((info.st_mode & _S_IFMT) == _S_IFREG) return true;
  say(reason, capacity, kindOf(info.st_mode));
  return false;
}

// The C runtime's rename refuses an existing target; MoveFileEx replaces it.
bool replaceFile(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}
#else
int openPrivateAppendFile(const char* path, char* reason, size_t capacity) {
  // Non-blocking: a FIFO without a reader fails at once (ENXIO) instead of waiting.
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    struct stat info {};
    const bool known = lstat(path, &info) == 0 && !S_ISREG(info.st_mode);
    say(reason, capacity, known ? kindOf(info.st_mode) : std::strerror(error));
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    say(reason, capacity, kindOf(info.st_mode));
    close(fd);
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool replaceableFile(const char* path, char* reason, size_t capacity) {
  struct stat info {};
  if (lstat(path, &info) != 0) return true;
  if (S_ISREG(info.st_mode)) return true;
  say(reason, capacity, kindOf(info.st_mode));
  return false;
}

bool replaceFile(const char* from, const char* to) { return rename(from, to) == 0; }
#endif
