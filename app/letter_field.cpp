// A text field as wide as its widest few letters in its own font.
#include "app/letter_field.h"

namespace {
// The widest letters a manufacturer code or a filler shows; the cursor takes a little more.
constexpr const char* widestLetters[] = {"@", "W", "M", "8"};
constexpr FXint cursorRoom = 4;
}  // namespace

FXint LetterField::lettersWidth() const {
  FXint widest = 0;
  for (const char* letter : widestLetters) widest = FXMAX(widest, font->getTextWidth(letter, 1));
  return widest * getNumColumns() + cursorRoom;
}

FXint LetterField::getDefaultWidth() {
  return FXMAX(FXTextField::getDefaultWidth(), padleft + padright + (border << 1) + lettersWidth());
}
