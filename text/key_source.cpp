// Where a converter key comes from on the command line, and warnings about exposed key files.
#include "text/key_source.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "text/config_file.h"
#include "text/file_calls.h"
#include "text/hex_text.h"
#include "text/printable_text.h"
#include "text/private_files.h"

namespace {

constexpr size_t keyLineSize = 128;  // a key line is 32 digits; more is read and refused

// The first line of the open descriptor, at most keyLineSize - 1 bytes.
std::string firstLine(int fd) {
  char line[keyLineSize];
  size_t used = 0;
  while (used + 1 < sizeof line) {
    const auto n = read(fd, line + used, static_cast<unsigned>(sizeof line - 1 - used));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += size_t(n);
  }
  const std::string text(line, used);
  return text.substr(0, text.find('\n'));
}

bool readKeyFile(const std::string& path, std::string& key, std::string& error) {
  // Without waiting: a FIFO without a writer would block here for ever.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = "not a regular file";
    return false;
  }
  const char* names[] = {path.c_str()};
  ExposedFile found[1];
  if (findExposedFiles(names, 1, found, 1) == 1 && found[0].readable) {
    close(fd);
    char remedy[400];
    privateFileRemedy(path.c_str(), false, remedy, sizeof remedy);
    error = "other accounts can read it (" + printableText(std::string(remedy)) + ")";
    return false;
  }
  key = firstLine(fd);
  close(fd);
  return true;
}

}  // namespace

bool commandLineKey(const std::string& keyArgument, const std::string& keyFile, FILE* input, std::string& key,
                    std::string& error) {
  key.clear();
  if (!keyArgument.empty() && !keyFile.empty()) {
    error = "--key and --key-file exclude each other";
    return false;
  }
  std::string from = "--key";
  if (keyArgument == "-") {
    from = "--key - (standard input)";
    char line[keyLineSize] = {};
    if (input == nullptr || std::fgets(line, sizeof line, input) == nullptr) line[0] = '\0';
    key = line;
  } else if (!keyFile.empty()) {
    from = "--key-file " + printableText(keyFile);
    std::string reason;
    if (!readKeyFile(keyFile, key, reason)) {
      error = from + ": " + reason;
      return false;
    }
  } else if (keyArgument.empty()) {
    return true;
  } else {
    key = keyArgument;
  }
  while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.pop_back();
  if (!isHexText(key, 32)) {
    error = from + ": expected the converter key as 32 hex digits";
    return false;
  }
  return true;
}

std::vector<std::string> exposedKeyFileWarnings(const std::string& home, const std::string& keyFile) {
  const std::string paths[] = {home + "/" + configFileName, home + "/dongleKeys", home + "/meterKeys", keyFile};
  const char* names[4];
  size_t count = 0;
  for (const std::string& path : paths)
    if (!path.empty()) names[count++] = path.c_str();
  ExposedFile found[4];
  const size_t exposed = findExposedFiles(names, count, found, 4);
  std::vector<std::string> lines;
  for (size_t i = 0; i < exposed; ++i) {
    char line[512];
    exposedFileWarning(found[i], line, sizeof line);
    lines.push_back(printableText(std::string(line, std::strcspn(line, "\n"))));
  }
  return lines;
}
