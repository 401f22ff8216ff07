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

// Widths of characters 0 to 299 (the remembered ASCII and some beyond), each asked twice.
std::vector<FXint> widthsOf(const FXFont& font) {
  std::vector<FXint> widths;
  for (int round = 0; round < 2; ++round) {
    for (FXwchar ch = 0; ch < 300; ++ch) widths.push_back(font.getCharWidth(ch));
  }
  return widths;
}

// The log's own choices, a proportional face and a raw X11 name, each followed by a font that
// differs from it at least in size, whatever faces the display has.
const std::vector<std::pair<std::string, std::string>> fonts = {
    {"Courier,50,bold,,,,0", "Courier,200,bold,,,,0"},
    {"Terminal,110", "Terminal,240"},
    {"Fixed,105,bold,,expanded", "helvetica [bitstream],300,bold"},
    {"helvetica [bitstream],105,bold,,expanded,iso8859-1,0", "fixed"}};

TEST(LogFont, MeasuresAsThePlainFontAlsoWhenCreatedAgainAsAnother) {
  Shell& s = shell();
  for (const auto& [first, second] : fonts) {
    FXFont plainFirst(s.app, first.c_str());
    FXFont plainSecond(s.app, second.c_str());
    plainFirst.create();
    plainSecond.create();
    // The second font only tests forgetting when it measures differently.
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
