// Replacing a file whole, on Linux and (cross-built, under Wine) on Windows, where the C
// runtime's rename refuses an existing target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/settings_file.h"
#include "tests/support/read_text.h"
#include "tests/support/temp_folder.h"
#include "text/output_file.h"

namespace {

namespace fs = std::filesystem;

class OutputFile : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  TempFolder temp{"quarn-output"};
  const fs::path& dir = temp.path();
};

TEST_F(OutputFile, ReplaceFileTakesThePlaceOfAnExistingOne) {
  const fs::path from = dir / "new.tmp", to = dir / "settings.json";
  std::ofstream(from, std::ios::binary) << "new\n";
  std::ofstream(to, std::ios::binary) << "old text\n";
  ASSERT_TRUE(replaceFile(from.string().c_str(), to.string().c_str()));
  EXPECT_EQ(readText(to.string()), "new\n");
  EXPECT_FALSE(fs::exists(from));
}

// Save settings, Save log and export over a file that is there: replaced, no temporary left.
TEST_F(OutputFile, PrivateTextReplacesAnExistingFile) {
  const fs::path path = dir / "quarn-log.txt";
  std::string error;
  ASSERT_TRUE(writePrivateTextFile(path.string(), "first\n", error)) << error;
  ASSERT_TRUE(writePrivateTextFile(path.string(), "second\n", error)) << error;
  EXPECT_EQ(readText(path.string()), "second\n");
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir)) entries += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
