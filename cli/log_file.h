// quarn-cli's --log file: opened so that no kind of file can hang or leak it, every write checked.
#pragma once
#include <string>

struct ReadFiles;

class LogFile {
public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Appends to path, created 0600 (the log shows slot keys in clear); a symbolic link, FIFO,
  // device, directory or a file of reads (what the run reads) is refused at once. Warns on
  // standard error when others may read an existing file. error says why it failed.
  bool open(const std::string& path, const ReadFiles* reads, std::string& error);
  // Writes all of text; after the first failure nothing more is written.
  void write(const std::string& text);
  // Closes the file (a close can report a late write error). Returns false when any write failed,
  // but only on the call that closes the file: the failure is told once, by whoever closes first.
  bool finish();
  // What went wrong, for standard error: the path, the reason and how much was written.
  std::string failureText() const;
  bool isOpen() const { return fd_ >= 0; }

private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  unsigned long long written_ = 0;
};
