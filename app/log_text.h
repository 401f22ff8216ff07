// The communication log's text widget: an FXText whose appends and front drops cost what the
// text added or removed costs, however much the log already holds.
#pragma once
#include <fx.h>
#include <fxver.h>

// LogText works on FXText's protected members as FOX 1.6.57 lays them out; another release may
// name, type or use them differently, so it has to be checked against that release's FXText.cpp
// (and the side-by-side test run) before this line is changed.
#if FOX_MAJOR != 1 || FOX_MINOR != 6 || FOX_LEVEL != 57
#error "LogText is written against FOX 1.6.57's FXText; check it against this FOX release's FXText before building"
#endif

// FXText::replace, for text that is not wrapped, with the same steps and the same results, but:
// - rows are line breaks, counted a buffer at a time instead of one character at a time through
//   the widget's accessors: the cursor's row after a change was counted from the top of the view
//   (a log that follows its end keeps its cursor there, so every append counted everything
//   appended since the last scroll), and the rows of a dropped front were counted the same way;
// - widths are measured only where FXText uses them (the text after a change, not the text
//   removed), ASCII straight from the font;
// - an insertion widens the gap a block at a time, not by just what it needs.
// Scrolling to the last line, and a scroll far down, find their rows from the end instead of
// walking every line from the old top. Wrapped text is left to FXText.
class LogText : public FXText {
public:
  LogText(FXComposite* p, FXObject* tgt = nullptr, FXSelector sel = 0, FXuint opts = 0, FXint x = 0, FXint y = 0,
          FXint w = 0, FXint h = 0)
      : FXText(p, tgt, sel, opts, x, y, w, h) {}

  // makePositionVisible(lineStart(getLength())): the last line in view, at its start.
  void showLastLine();

  // FXText::setHiliteStyles with the table's length, so that the log knows whether any style
  // paints a row's background past its text.
  void setHiliteStyles(const FXHiliteStyle* styles, int count) {
    FXText::setHiliteStyles(styles);
    styleCount = count;
  }

  // Until the next follow, appends at the end change the text but not the screen: the rows they
  // leave stale and the scroll bars wait for follow, so a display interval costs one redraw, and
  // that, like every scroll down or up, only left of the text's widest line.
  void holdRepaints() { holding = true; }
  // The scroll bars brought up to date, the last line in view, and what held appends left stale
  // repainted; holding ends.
  void follow();

  // appendStyledText with a style byte per character (n of each), in the one append: no second
  // pass over the styles that would repaint the rows before the follow does.
  void appendStyled(const FXchar* text, const FXchar* styles, FXint n);

protected:
  void replace(FXint pos, FXint removed, const FXchar* text, FXint n, FXint style) override;
  // FXText's style of a character, a space inside a row counted as text: FXText paints every
  // space as a fragment of its own (a fill, then the next word's fill and text), so a row of hex
  // bytes cost the X server a handful of requests a byte. Drawn within its word's run, a space
  // looks the same (the run's fill is its background, its glyph draws nothing), except that a
  // glyph overhanging into it is no longer cut off by its fill.
  FXuint style(FXint row, FXint beg, FXint end, FXint pos) const override;
  void moveContents(FXint x, FXint y) override;

private:
  FXuchar byteAt(FXint pos) const {
    return static_cast<FXuchar>(pos < gapstart ? buffer[pos] : buffer[pos - gapstart + gapend]);
  }
  // FXText's row count of [start, end) without wrapping: its line breaks, and one more for a
  // range that reaches past the end.
  FXint rowsIn(FXint start, FXint end) const;
  // FXText's measureText without wrapping: rows as rowsIn, widest the widest line it ends.
  FXint measure(FXint start, FXint end, FXint& widest) const;
  // FXText::mutation for a change at or below the top visible row that adds rows or keeps
  // their count, without its repaint: the rows from `at` on are noted as stale instead.
  void mutationHeld(FXint at, FXint ncins, FXint ncdel, FXint nrins, FXint nrdel);
  // The right edge (window x) of all but plain background in the rows from `top` on: the widest
  // line and two characters of overhang, unless a selection, a highlight, a style's background or
  // the cursor's row (painted across as the active row, when that differs) may lie there.
  FXint inkRight(FXint top) const;
  bool backgroundsPlain(bool active) const;

  bool holding = false;
  const FXchar* insertStyles = nullptr;  // the style bytes of the text being appended, if per character
  bool layoutDue = false;  // scroll bars not yet set for held appends
  FXint staleFrom = -1;    // first position whose rows on screen are stale, -1 for none
  int styleCount = -1;     // entries of the style table, -1 when not known
};
