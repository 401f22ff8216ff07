// Which key files other users can read or change, and the warning given for each.
#include "text/private_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(PrivateFiles, FindsGroupAndOtherAccessAndWarnsOncePerPath) {
  struct Case {
    const char* name;
    bool directory;
    mode_t mode;
    const char* warning;  // nullptr: private enough, no finding
  } cases[] = {
      {"Quarnconfig.txt", false, 0600, nullptr},
      {"Quarnconfig.txt", false, 0400, nullptr},
      {"Quarnconfig.txt", false, 0644,
       "Warning: Quarnconfig.txt is readable by other users; run chmod 600 Quarnconfig.txt.\n"},
      {"Quarnconfig.txt", false, 0640,
       "Warning: Quarnconfig.txt is readable by other users; run chmod 600 Quarnconfig.txt.\n"},
      {"Quarnconfig.txt", false, 0602,
       "Warning: Quarnconfig.txt is writable by other users; run chmod 600 Quarnconfig.txt.\n"},
      {"Quarnconfig.txt", false, 0666,
       "Warning: Quarnconfig.txt is readable and writable by other users; run chmod 600 "
       "Quarnconfig.txt.\n"},
      {"dongleKeys", true, 0700, nullptr},
      {"dongleKeys", true, 0711, nullptr},  // others may pass but not list or change it
      {"dongleKeys", true, 0755,
       "Warning: dongleKeys is readable by other users; run chmod 700 dongleKeys.\n"},
      {"meterKeys", true, 0730,
       "Warning: meterKeys is writable by other users; run chmod 700 meterKeys.\n"},
      {"meterKeys", true, 0777,
       "Warning: meterKeys is readable and writable by other users; run chmod 700 meterKeys.\n"},
  };
  char pattern[] = "/tmp/quarn-private-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.mode));
    const std::string path = dir + "/" + c.name;
    if (c.directory) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    } else {
      FILE* file = std::fopen(path.c_str(), "w");
      ASSERT_NE(file, nullptr);
      std::fclose(file);
    }
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);  // chmod, not the umask, sets the bits
    const char* names[] = {path.c_str()};
    ExposedFile found[1] = {};
    const size_t count = findExposedFiles(names, 1, found, 1);
    ASSERT_EQ(count, c.warning != nullptr ? 1u : 0u);
    if (count == 1) {
      EXPECT_EQ(found[0].isDirectory, c.directory);
      ExposedFile named = found[0];
      named.name = c.name;  // as the program names them: relative to the working folder
      char line[160];
      EXPECT_EQ(exposedFileWarning(named, line, sizeof line), std::strlen(c.warning));
      EXPECT_STREQ(line, c.warning);
    }
    ASSERT_EQ(c.directory ? rmdir(path.c_str()) : unlink(path.c_str()), 0);
  }
  ASSERT_EQ(rmdir(dir.c_str()), 0);
}

TEST(PrivateFiles, MissingPathsAreSkippedAndFindingsKeepTheirOrderAndBound) {
  char pattern[] = "/tmp/quarn-private-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string open1 = dir + "/a", open2 = dir + "/b", missing = dir + "/none";
  for (const std::string& path : {open1, open2}) {
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }
  const char* names[] = {missing.c_str(), open2.c_str(), nullptr, open1.c_str()};
  ExposedFile found[3] = {};
  ASSERT_EQ(findExposedFiles(names, 4, found, 3), 2u);
  EXPECT_EQ(found[0].name, names[1]);
  EXPECT_EQ(found[1].name, names[3]);
  EXPECT_EQ(findExposedFiles(names, 4, found, 1), 1u);
  EXPECT_EQ(found[0].name, names[1]);
  // A warning cut to its buffer stays a terminated text.
  char small[12];
  EXPECT_EQ(exposedFileWarning(found[0], small, sizeof small), sizeof small - 1);
  EXPECT_EQ(std::string(small), "Warning: /t");
  ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
