// The communication log's text widget.
#include "app/log_text.h"

#include <algorithm>
#include <cstring>

namespace {
// FXText widens its gap to just what an insertion needs, so every append at the end of a long
// log reallocated both buffers. The log widens it by this much at a time instead.
constexpr FXint insertGapReserve = 64 * 1024;

FXint lineBreaks(const FXchar* from, FXint n) {
  return n > 0 ? static_cast<FXint>(std::count(from, from + n, '\n')) : 0;
}

// A range after a change moves with it; a range that reaches into it shrinks or grows to its
// new end.
void moveRange(FXint& start, FXint& end, FXint pos, FXint removed, FXint n) {
  const FXint delta = n - removed;
  if (pos + removed <= start) {
    start += delta;
    end += delta;
  } else if (pos < end) {
    end = end <= pos + removed ? pos + n : end + delta;
    if (pos <= start) start = pos + n;
  }
}
}  // namespace

FXint LogText::rowsIn(FXint start, FXint end) const {
  if (start >= end) return 0;
  const FXint stop = FXMIN(end, length);
  FXint rows = 0;
  if (start < gapstart) rows += lineBreaks(buffer + start, FXMIN(stop, gapstart) - start);
  if (stop > gapstart) {
    const FXint from = FXMAX(start, gapstart);
    rows += lineBreaks(buffer + from - gapstart + gapend, stop - from);
  }
  if (end > length) ++rows;
  return rows;
}

FXint LogText::measure(FXint start, FXint end, FXint& widest) const {
  FXint rows = 0;
  FXint rowWidth = 0;
  widest = 0;
  const FXint stop = FXMIN(end, length);
  for (FXint p = start; p < stop; ++p) {
    const FXuchar c = byteAt(p);
    if (c >= 0x80) {  // a multi-byte character: FXText's own measure
      FXint ignored = 0;
      return measureText(start, end, widest, ignored);
    }
    if (c == '\n') {
      widest = FXMAX(widest, rowWidth);
      ++rows;
      rowWidth = 0;
    } else {
      rowWidth += c < ' ' ? charWidth(c, rowWidth) : font->getCharWidth(c);
    }
  }
  if (end > length && start < end) {
    widest = FXMAX(widest, rowWidth);
    ++rows;
  }
  return rows;
}

void LogText::replace(FXint pos, FXint removed, const FXchar* text, FXint n, FXint style) {
  if (options & TEXT_WORDWRAP) {
    FXText::replace(pos, removed, text, n, style);
    return;
  }
  drawCursor(0);
  const FXint delta = n - removed;

  // The range whose rows may change: whole lines around the change.
  const FXint changeBegin = lineStart(pos);
  const FXint changeEndBefore = changeEnd(pos + removed);
  const FXint rowsBefore = rowsIn(changeBegin, changeEndBefore);

  // The cursor's row, when the change takes in its line, is counted again from the change's
  // first row, not from the top of the view.
  const bool cursorInChange = changeBegin <= cursorpos && cursorpos < changeEndBefore;
  const FXint changeBeginRow = cursorInChange ? cursorrow - rowsIn(changeBegin, cursorstart) : 0;

  if (delta >= gapend - gapstart) sizegap(FXMAX(delta, insertGapReserve));
  if (pos + removed <= gapstart) {
    // The gap lies after the change (the log keeps it at its end): what lies between the two
    // moves by delta and the gap stays put, where FXText would move the gap here and, at the
    // next append, everything back.
    const size_t between = static_cast<size_t>(gapstart - pos - removed);
    std::memmove(&buffer[pos + n], &buffer[pos + removed], between);
    if (sbuffer) std::memmove(&sbuffer[pos + n], &sbuffer[pos + removed], between);
    gapstart += delta;
  } else {
    movegap(pos);
    gapstart += n;
    gapend += removed;
  }
  if (n > 0) {
    std::memcpy(&buffer[pos], text, static_cast<size_t>(n));
    if (sbuffer && insertStyles) {
      std::memcpy(&sbuffer[pos], insertStyles, static_cast<size_t>(n));
    } else if (sbuffer) {
      std::memset(&sbuffer[pos], style, static_cast<size_t>(n));
    }
  }
  length += delta;

  const FXint changeEndAfter = changeEndBefore + delta;
  FXint widthAfter = 0;
  const FXint rowsAfter = measure(changeBegin, changeEndAfter, widthAfter);
  // A held append at the end with the end in view: FXText would repaint from its row down now,
  // and again when the follow scrolls. Below the view, it repaints nothing, but the scroll bars'
  // update (and their raise) would still cost a round of X requests per append.
  const bool atEnd = holding && removed == 0 && pos + n == length && rowsAfter >= rowsBefore;
  const bool held = atEnd && visrows[0] <= changeBegin && visrows[0] < changeEndBefore && changeBegin <= visrows[nvisrows];
  const bool layoutHeld = held || (atEnd && visrows[nvisrows] < changeBegin);
  if (held) {
    mutationHeld(changeBegin, changeEndAfter - changeBegin, changeEndBefore - changeBegin, rowsAfter, rowsBefore);
  } else {
    mutation(changeBegin, changeEndAfter - changeBegin, changeEndBefore - changeBegin, rowsAfter, rowsBefore);
    if (staleFrom >= 0) {
      FXint staleEnd = length;
      moveRange(staleFrom, staleEnd, pos, removed, n);
    }
  }
  textHeight += (rowsAfter - rowsBefore) * font->getFontHeight();
  textWidth = FXMAX(textWidth, widthAfter);

  moveRange(selstartpos, selendpos, pos, removed, n);
  moveRange(hilitestartpos, hiliteendpos, pos, removed, n);
  if (pos + removed <= anchorpos) {
    anchorpos += delta;
  } else if (pos <= anchorpos) {
    anchorpos = pos + n;
  }

  if (changeEndBefore <= cursorpos) {
    cursorpos += delta;
    cursorstart += delta;
    cursorend += delta;
    cursorrow += rowsAfter - rowsBefore;
  } else if (cursorInChange) {
    if (pos + removed <= cursorpos) {
      cursorpos += delta;
    } else if (pos <= cursorpos) {
      cursorpos = pos + n;
    }
    cursorstart = rowStart(cursorpos);
    cursorend = nextRow(cursorstart);
    cursorcol = indentFromPos(cursorstart, cursorpos);
    cursorrow = changeBeginRow + rowsIn(changeBegin, cursorstart);
  }

  if (layoutHeld) {
    layoutDue = true;
  } else {
    FXScrollArea::layout();
    layoutDue = false;
  }
  prefcol = -1;
}

FXuint LogText::style(FXint row, FXint beg, FXint end, FXint pos) const {
  const FXuint s = FXText::style(row, beg, end, pos);
  if (pos < end && !(s & STYLE_TEXT) && getByte(pos) == ' ') return s | STYLE_TEXT;
  return s;
}

void LogText::appendStyled(const FXchar* text, const FXchar* styles, FXint n) {
  if (n <= 0) return;
  const FXint at = length;
  const bool mixed = std::find_if(styles, styles + n, [&](FXchar s) { return s != styles[0]; }) != styles + n;
  // Wrapped text goes through FXText::replace, which knows one style only.
  const bool wrapped = (options & TEXT_WORDWRAP) != 0;
  insertStyles = mixed && !wrapped ? styles : nullptr;
  appendStyledText(text, n, static_cast<FXuchar>(styles[0]), FALSE);
  insertStyles = nullptr;
  if (mixed && wrapped) changeStyle(at, styles, n);
}

void LogText::mutationHeld(FXint at, FXint ncins, FXint ncdel, FXint nrins, FXint nrdel) {
  const FXint ncdelta = ncins - ncdel;
  const FXint nrdelta = nrins - nrdel;
  const FXint line = posToLine(at, 0);
  if (nrdelta > 0) {
    nrows += nrdelta;
    for (FXint i = nvisrows; i > line + nrdelta; i--) visrows[i] = visrows[i - nrdelta] + ncdelta;
  } else {
    for (FXint i = line + 1; i <= nvisrows; i++) visrows[i] += ncdelta;
  }
  calcVisRows(line + 1, line + nrins);
  staleFrom = staleFrom < 0 ? at : FXMIN(staleFrom, at);
}

void LogText::follow() {
  holding = false;
  if (layoutDue) {
    FXScrollArea::layout();
    layoutDue = false;
  }
  const FXint inkBefore = inkRight(toprow);
  showLastLine();
  if (staleFrom < 0) return;
  // From the first stale row to the bottom: after the scroll, that row and what it uncovered.
  const FXint from = FXMIN(staleFrom, length);
  staleFrom = -1;
  if (from > visrows[nvisrows]) return;
  const FXint line = from <= visrows[0] ? 0 : posToLine(from, 0);
  const FXint y = line == 0 ? 0 : pos_y + margintop + (toprow + line) * font->getFontHeight();
  const FXint right = FXMIN(inkBefore, inkRight(toprow));
  update(barwidth, y, right - barwidth, height - y);
}

// A row's end is filled in its last character's style: plain unless a style has a background of
// its own or draws a line (underline, strike-out) across.
bool LogText::backgroundsPlain(bool active) const {
  if (active && activebackColor != backColor) return false;
  // Without a style table the style bytes are FXText's flags themselves, lines included.
  if (hilitestyles == nullptr) return sbuffer == nullptr;
  if (styleCount < 0) return false;
  for (int i = 0; i < styleCount; ++i) {
    const FXColor back = active ? hilitestyles[i].activeBackColor : hilitestyles[i].normalBackColor;
    if ((back != 0 && back != backColor) || (hilitestyles[i].style & (STYLE_UNDERLINE | STYLE_STRIKEOUT))) {
      return false;
    }
  }
  return true;
}

FXint LogText::inkRight(FXint top) const {
  if ((options & TEXT_WORDWRAP) || selstartpos < selendpos || hilitestartpos < hiliteendpos) return width;
  if (!backgroundsPlain(false)) return width;
  if ((options & TEXT_SHOWACTIVE) && cursorrow >= top && !backgroundsPlain(true)) return width;
  return FXMIN(width, pos_x + marginleft + barwidth + textWidth + 2 * font->getFontWidth());
}

// FXText::makePositionVisible for the last line's start, whose row is the last row: FXText counts
// the rows from the bottom of the view to it, one character at a time.
void LogText::showLastLine() {
  if (options & TEXT_WORDWRAP) {
    makePositionVisible(lineStart(length));
    return;
  }
  const FXint fontHeight = font->getFontHeight();
  const FXint y = margintop + (nrows - 1) * fontHeight;
  FXint ny = pos_y;
  if (pos_y + y < margintop) {
    ny = margintop - y;
  } else if (pos_y + y + fontHeight > viewport_h - marginbottom) {
    ny = viewport_h - fontHeight - marginbottom - y;
  }
  // A line's start is at the left margin: in view once the view is scrolled fully left.
  if (pos_x != 0 || ny != pos_y) setPosition(0, ny);
}

// FXText finds the new top row of a scroll down by walking line by line from the old one: after a
// flood, everything appended since the last scroll. When the new top is nearer the end, its walk
// starts a view's height above it instead, found from the end; it then lays out the whole view
// as it does for any scroll of more than a view's height.
void LogText::moveContents(FXint x, FXint y) {
  // A scroll down or up copies and repaints only the columns left of the ink, the view staying at
  // the left edge; the rest is plain background before and after.
  const FXint fullWidth = viewport_w;
  if (x == pos_x) {
    const FXint right = FXMIN(inkRight(toprow), inkRight(-y / font->getFontHeight()));
    if (right < viewport_w - marginright) viewport_w = right + marginright;
  }
  if (!(options & TEXT_WORDWRAP)) {
    const FXint top = -y / font->getFontHeight();
    const FXint start = top - nvisrows;
    const FXint lastRow = nrows - 1;
    if (top < lastRow && start > toprow && lastRow - start < start - toprow) {
      toppos = prevRow(lineStart(length), lastRow - start);
      toprow = start;
    }
  }
  FXText::moveContents(x, y);
  viewport_w = fullWidth;
}
