// Opening a start-up file for reading so that no kind of file can stall the start.
#include "text/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
// Windows: a device name (CON, COM1, \\.\pipe\x) opens as a character device and is refused
// like any file that is not regular.
int openRegularFile(const char* path) {
  if (path == nullptr) return -1;
  const int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return -1;
  struct _stat64 info {};
  if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    _close(fd);
    return -1;
  }
  return fd;
}

FILE* openRegularFileStream(const char* path) {
  const int fd = openRegularFile(path);
  if (fd < 0) return nullptr;
  FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) _close(fd);
  return file;
}
#else
int openRegularFile(const char* path) {
  if (path == nullptr) return -1;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  // Reads of a regular file never block anyway; clearing the flag keeps stdio's view plain.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

FILE* openRegularFileStream(const char* path) {
  const int fd = openRegularFile(path);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "r");
  if (file == nullptr) close(fd);
  return file;
}
#endif
