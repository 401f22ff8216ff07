// The communication log's text widget: an FXText whose appends cost what the appended text
// costs, however much the log already holds.
#pragma once
#include <fx.h>

// FXText recomputes its cursor's row whenever a change touches the cursor's line, by counting
// rows from the top of the view one character at a time. A log that follows its end keeps the
// cursor there, so every append counted everything appended since the last scroll. Here an
// append at the cursor moves the cursor's row by the rows it adds, and leaves every other field
// as FXText would; anything else is FXText's own.
class LogText : public FXText {
public:
  LogText(FXComposite* p, FXObject* tgt = nullptr, FXSelector sel = 0, FXuint opts = 0, FXint x = 0, FXint y = 0,
          FXint w = 0, FXint h = 0)
      : FXText(p, tgt, sel, opts, x, y, w, h) {}

protected:
  void replace(FXint pos, FXint removed, const FXchar* text, FXint n, FXint style) override;

private:
  void appendAtCursor(const FXchar* text, FXint n, FXint style);
};
