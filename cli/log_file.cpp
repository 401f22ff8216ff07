// quarn-cli's --log file: opened so that no kind of file can hang or leak it, every write checked.
#include "cli/log_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "text/file_calls.h"
#include "text/output_file.h"
#include "text/printable_text.h"
#include "text/private_files.h"

LogFile::~LogFile() { finish(); }

bool LogFile::open(const std::string& path, const ReadFiles* reads, std::string& error) {
  char reason[96];
  fd_ = openPrivateAppendFile(path.c_str(), reads, reason, sizeof reason);
  if (fd_ < 0) {
    error = "cannot open log file " + printableText(path) + ": " + reason;
    return false;
  }
  path_ = path;
  const char* names[] = {path_.c_str()};
  ExposedFile found[1];
  if (findExposedFiles(names, 1, found, 1) == 1) {
    char warning[512];
    exposedFileWarning(found[0], warning, sizeof warning);
    std::fputs(printableText(std::string(warning, std::strcspn(warning, "\n"))).c_str(), stderr);
    std::fputs("\n", stderr);
  }
  return true;
}

void LogFile::write(const std::string& text) {
  if (fd_ < 0 || error_ != 0) return;
  size_t done = 0;
  while (done < text.size()) {
    const auto n = ::write(fd_, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      return;
    }
    done += size_t(n);
    written_ += static_cast<unsigned long long>(n);
  }
}

bool LogFile::finish() {
  if (fd_ < 0) return true;
  if (::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  return error_ == 0;
}

std::string LogFile::failureText() const {
  return "log file " + printableText(path_) + ": write failed after " + std::to_string(written_) + " bytes (" +
         std::strerror(error_) + "); the log is incomplete";
}
