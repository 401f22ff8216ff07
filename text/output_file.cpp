// The one writer of files: refusing kinds of file that would hang, leak or be destroyed, and
// the run's own inputs, and replacing a file whole.
#include "text/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include "text/file_calls.h"
#include "text/printable_text.h"

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

FileIdentity identityOf(const struct stat& info) {
  FileIdentity id;
  id.device = static_cast<unsigned long long>(info.st_dev);
  id.inode = static_cast<unsigned long long>(info.st_ino);
  return id;
}

// Whether the file of info is one of reads; never on Windows, where every inode reads 0.
bool isReadFile(const struct stat& info, const ReadFiles* reads) {
  if (reads == nullptr || info.st_ino == 0) return false;
  const FileIdentity id = identityOf(info);
  for (size_t i = 0; i < reads->count; ++i)
    if (reads->files[i].device == id.device && reads->files[i].inode == id.inode) return true;
  return false;
}

constexpr const char* readFileText = "a file this run reads";

std::string temporaryFor(const std::string& path) { return path + ".tmp-" + std::to_string(getpid()); }

}  // namespace

void addReadFile(ReadFiles& reads, const char* path) {
  struct stat info {};
  if (path == nullptr || *path == '\0' || stat(path, &info) != 0 || info.st_ino == 0) return;
  if (reads.count < readFileLimit) reads.files[reads.count++] = identityOf(info);
}

bool checkOutputFile(const char* path, const ReadFiles* reads, char* reason, size_t capacity) {
  if (!replaceableFile(path, reason, capacity)) return false;
  struct stat info {};
  if (stat(path, &info) == 0 && isReadFile(info, reads)) {
    say(reason, capacity, readFileText);
    return false;
  }
  // The temporary file is what the write needs first: made and removed again now, so that a
  // folder that takes no file is found before anything is sent.
  const std::string probe = temporaryFor(path);
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    say(reason, capacity, std::strerror(errno));
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool writePrivateTextFile(const std::string& path, const std::string& text, std::string& error,
                          const ReadFiles* reads) {
  const std::string shown = printableText(path);
  char reason[96];
  if (!checkOutputFile(path.c_str(), reads, reason, sizeof reason)) {
    error = shown + ": " + reason + "; not replaced";
    return false;
  }
  const std::string temporary = temporaryFor(path);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = shown + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const auto n = write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  const int writeErrno = errno;
  // The umask may have been looser than the keys allow; the mode is set outright.
  const bool ok = done == text.size() && fchmod(fd, 0600) == 0 && fsync(fd) == 0;
  if (close(fd) != 0 || !ok) {
    error = shown + ": " + std::strerror(done == text.size() ? errno : writeErrno);
    unlink(temporary.c_str());
    return false;
  }
  if (!replaceFile(temporary.c_str(), path.c_str())) {
    error = shown + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

#ifdef _WIN32
int openPrivateAppendFile(const char* path, const ReadFiles*, char* reason, size_t capacity) {
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
int openPrivateAppendFile(const char* path, const ReadFiles* reads, char* reason, size_t capacity) {
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
  if (isReadFile(info, reads)) {
    say(reason, capacity, readFileText);
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
