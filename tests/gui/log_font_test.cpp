// LogFont beside a plain FXFont: every character measures the same, asked once or again, and a
// font created anew under another description measures as that description does.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/log_font.h"
#include "gui_support.h"

const char* const guiProgramName = "log_font_test";

namespace {

// The log's own choices, a proportional face, and a raw X11 name.
const std::vector<std::string> descriptions = {
    "Courier,50,bold,,,,0", "Terminal,110", "Fixed,105,bold,,expanded",
    "helvetica [bitstream],105,bold,,expanded,iso8859-1,0", "fixed"};

// Widths of characters 0 to 299 (the remembered ASCII and some beyond), each asked twice.
std::vector<FXint> widthsOf(const FXFont& font) {
  std::vector<FXint> widths;
  for (int round = 0; round < 2; ++round) {
    for (FXwchar ch = 0; ch < 300; ++ch) widths.push_back(font.getCharWidth(ch));
  }
  return widths;
}

TEST(LogFont, MeasuresEveryCharacterAsThePlainFontDoes) {
  Shell& s = shell();
  for (const std::string& description : descriptions) {
    FXFont plain(s.app, description.c_str());
    LogFont log(s.app, description.c_str());
    plain.create();
    log.create();
    EXPECT_EQ(widthsOf(plain), widthsOf(log)) << description;
  }
}

// Pairs that differ at least in size, whatever faces the display has.
const std::vector<std::pair<std::string, std::string>> changes = {
    {"Courier,50,bold,,,,0", "Courier,200,bold,,,,0"},
    {"Terminal,110", "Terminal,240"},
    {"Fixed,105,bold,,expanded", "helvetica [bitstream],300,bold"}};

TEST(LogFont, ForgetsItsWidthsWhenCreatedAgainAsAnotherFont) {
  Shell& s = shell();
  for (const auto& [first, second] : changes) {
    FXFont plainFirst(s.app, first.c_str());
    FXFont plainSecond(s.app, second.c_str());
    plainFirst.create();
    plainSecond.create();
    // The pair is only a test when the two faces differ somewhere.
    ASSERT_NE(widthsOf(plainFirst), widthsOf(plainSecond)) << first << " / " << second;

    LogFont log(s.app, first.c_str());
    log.create();
    EXPECT_EQ(widthsOf(log), widthsOf(plainFirst)) << first;
    log.destroy();
    log.setFont(second.c_str());
    log.create();
    EXPECT_EQ(widthsOf(log), widthsOf(plainSecond)) << first << " then " << second;
  }
}

}  // namespace
