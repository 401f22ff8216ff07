// The communication log's text widget.
#include "app/log_text.h"

#include <algorithm>
#include <cstring>

namespace {
// FXText widens its gap to just what an insertion needs, so every append at the end of a long
// log reallocated both buffers. The log's appends widen it by this much at a time instead.
constexpr FXint appendGapReserve = 64 * 1024;
}  // namespace

void LogText::replace(FXint pos, FXint removed, const FXchar* text, FXint n, FXint style) {
  // Wrapped rows are not lines: only the unwrapped log takes the short way.
  if (pos == length && removed == 0 && cursorpos == length && n > 0 && !(options & TEXT_WORDWRAP)) {
    appendAtCursor(text, n, style);
  } else {
    FXText::replace(pos, removed, text, n, style);
  }
}

// FXText::replace for text added at the end with the cursor there, step by step, the cursor's
// row counted from the text added instead of from the top of the view.
void LogText::appendAtCursor(const FXchar* text, FXint n, FXint style) {
  drawCursor(0);
  const FXint pos = length;
  // The range whose rows may change: the last line, and one past the end as FXText counts it.
  const FXint changeBegin = lineStart(pos);
  const FXint changeEnd = pos + 1;
  FXint widthBefore = 0, heightBefore = 0, widthAfter = 0, heightAfter = 0;
  const FXint rowsBefore = measureText(changeBegin, changeEnd, widthBefore, heightBefore);

  if (n >= gapend - gapstart) sizegap(std::max(n, appendGapReserve));
  movegap(pos);
  std::memcpy(&buffer[pos], text, static_cast<size_t>(n));
  if (sbuffer) std::memset(&sbuffer[pos], style, static_cast<size_t>(n));
  gapstart += n;
  length += n;

  const FXint rowsAfter = measureText(changeBegin, changeEnd + n, widthAfter, heightAfter);
  mutation(changeBegin, changeEnd + n - changeBegin, changeEnd - changeBegin, rowsAfter, rowsBefore);
  textHeight += heightAfter - heightBefore;
  textWidth = FXMAX(textWidth, widthAfter);

  // Ranges that start at the old end move with it; none can end beyond it.
  if (pos <= selstartpos) {
    selstartpos += n;
    selendpos += n;
  }
  if (pos <= hilitestartpos) {
    hilitestartpos += n;
    hiliteendpos += n;
  }
  if (pos <= anchorpos) anchorpos += n;

  cursorpos = length;
  cursorstart = rowStart(cursorpos);
  cursorend = nextRow(cursorstart);
  cursorcol = indentFromPos(cursorstart, cursorpos);
  cursorrow += rowsAfter - rowsBefore;

  FXScrollArea::layout();
  prefcol = -1;
}
