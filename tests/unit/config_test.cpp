// Reading "Quarnconfig.txt": line limits, missing lines and odd content.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "text/config_file.h"

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarn-config-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    path = pattern;
  }
  void TearDown() override { std::remove(path.c_str()); }

  void write(const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
    std::fclose(file);
  }

  ConfigFile read() {
    ConfigFile config;
    readConfigFile(path.c_str(), config);
    return config;
  }

  std::string path;
};

struct LinesCase {
  const char* name;
  std::string content;
  std::string line1;
  std::string line2;
};

class ConfigLinesTest : public ConfigFileTest, public ::testing::WithParamInterface<LinesCase> {};

TEST_P(ConfigLinesTest, ReadsBothLines) {
  write(GetParam().content);
  const ConfigFile config = read();
  EXPECT_TRUE(config.configLoaded);
  EXPECT_EQ(std::string(config.configLine1), GetParam().line1);
  EXPECT_EQ(std::string(config.configLine2), GetParam().line2);
}

const std::string key = "00112233445566778899AABBCCDDEEFF";

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigLinesTest,
    ::testing::Values(
        LinesCase{"TwoLines", "first\n" + key + "\n", "first", key},
        LinesCase{"SecondLineWithoutLineEnd", "first\n" + key, "first", key},
        LinesCase{"OneLine", "only one line\n", "only one line", ""},
        LinesCase{"OneLineWithoutLineEnd", "only", "only", ""},
        LinesCase{"Empty", "", "", ""},
        LinesCase{"EmptyFirstLine", "\n" + key + "\n", "", key},
        LinesCase{"WindowsLineEnds", "first\r\n" + key + "\r\n", "first", key},
        LinesCase{"LoneCarriageReturnStays", "a\rb\n" + key + "\r", "a\rb", key + "\r"},
        LinesCase{"ThirdLineIgnored", "1\n2\n3\n", "1", "2"},
        // 300 characters: the first read stops at 255, the second takes the rest of that line.
        LinesCase{"LongFirstLine", std::string(255, 'a') + std::string(45, 'b') + "\n" + key + "\n",
                  std::string(255, 'a'), std::string(45, 'b')},
        // A line of exactly 255 characters: the second read only finds its line break.
        LinesCase{"FirstLineOf255", std::string(255, 'c') + "\n" + key + "\n", std::string(255, 'c'), ""},
        LinesCase{"HugeLine", std::string(10000, 'x') + "\n" + key, std::string(255, 'x'),
                  std::string(255, 'x')},
        // A NUL ends the text of the line it is in; the bytes behind it are read and lost.
        LinesCase{"BinaryContent", std::string("ab\0cd\n\xff\xfe\x01key\n", 13), "ab", "\xff\xfe\x01key"},
        LinesCase{"BinaryNulFirst", std::string("\0\0\0\n\0x\n", 7), "", ""}),
    [](const ::testing::TestParamInfo<LinesCase>& param) { return std::string(param.param.name); });

TEST_F(ConfigFileTest, BinaryFileNeverOverrunsTheLines) {
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise += static_cast<char>((i * 37 + 11) & 0xFF);
  write(noise);
  const ConfigFile config = read();
  EXPECT_TRUE(config.configLoaded);
  EXPECT_LT(std::string(config.configLine1).size(), configLineSize);
  EXPECT_LT(std::string(config.configLine2).size(), configLineSize);
}

}  // namespace
