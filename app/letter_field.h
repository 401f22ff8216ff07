// A text field as wide as its widest few letters in its own font, whatever font that is.
#pragma once
#include <fx.h>

// FXTextField sizes itself by columns times the width of "8", which cuts wider letters such as
// "@", "M" or "W" in a proportional font. This field measures the widest of them instead.
class LetterField : public FXTextField {
public:
  LetterField(FXComposite* container, FXint letters, FXuint style)
      : FXTextField(container, letters, nullptr, 0, style) {}
  FXint getDefaultWidth() override;
  // The width the letters need inside the frame and padding, in this field's font.
  FXint lettersWidth() const;
};
