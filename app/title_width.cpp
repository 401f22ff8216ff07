// Widths of dialogs whose title must fit on the window manager's title bar.
#include "app/title_width.h"

FXint widthForTitle(FXApp* app, const FXString& title, FXint givenWidth) {
  FXFont* font = app != nullptr ? app->getNormalFont() : nullptr;
  if (font == nullptr || font->id() == 0) return givenWidth;  // not realised yet: nothing to measure
  return FXMAX(givenWidth, font->getTextWidth(title) + titleBarButtonRoom + titleBarMargin);
}
