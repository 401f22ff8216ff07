// The communication log's font.
#include "app/log_font.h"

void LogFont::create() {
  FXFont::create();
  forgetWidths();
}

void LogFont::detach() {
  FXFont::detach();
  forgetWidths();
}

void LogFont::destroy() {
  FXFont::destroy();
  forgetWidths();
}

FXint LogFont::getCharWidth(const FXwchar ch) const {
  if (static_cast<size_t>(ch) >= widths.size()) return FXFont::getCharWidth(ch);
  FXint& width = widths[ch];
  if (width == unknownWidth) width = FXFont::getCharWidth(ch);
  return width;
}
