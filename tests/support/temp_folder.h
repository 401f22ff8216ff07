// A fresh folder for one test's files, under the system's temporary folder, removed with all it
// holds when the test is done; plain std::filesystem, so the Windows tests use it too.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

class TempFolder {
public:
  // prefix names the test in the folder's name, so that a folder left by a crash says whose it is.
  explicit TempFolder(const std::string& prefix) {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
      const std::filesystem::path candidate = base / (prefix + "-" + std::to_string(stamp) + "-" + std::to_string(attempt));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
  }
  ~TempFolder() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Empty when no folder could be made.
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};
