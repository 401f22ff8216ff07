// The communication log's font: an FXFont that remembers the widths of ASCII characters.
#pragma once
#include <fx.h>

#include <array>

// FXText measures every character it appends or removes through getCharWidth, and FOX asks the
// font library each time (Xft on X11, GDI on Windows). The log is ASCII, so those widths are
// kept from the first question until the font is created, detached or destroyed again.
class LogFont : public FXFont {
public:
  LogFont(FXApp* a, const FXString& description) : FXFont(a, description) {}
  LogFont(FXApp* a, const FXString& face, FXuint size, FXuint weight, FXuint slant, FXuint encoding,
          FXuint setwidth, FXuint h)
      : FXFont(a, face, size, weight, slant, encoding, setwidth, h) {}

  void create() override;
  void detach() override;
  void destroy() override;
  FXint getCharWidth(const FXwchar ch) const override;

private:
  static constexpr FXint unknownWidth = -1;
  void forgetWidths() { widths.fill(unknownWidth); }

  mutable std::array<FXint, 128> widths = filledWithUnknown();
  static std::array<FXint, 128> filledWithUnknown() {
    std::array<FXint, 128> all{};
    all.fill(unknownWidth);
    return all;
  }
};
