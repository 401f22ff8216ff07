// "Set converter options.": the modal dialog with the eight option check buttons.
#include "app/option_dialog.h"

#include "app/title_width.h"
#include "converter/option_bits.h"

static_assert(optionDialogChecks == optionCount, "one check button per option bit");

namespace {
constexpr const char* optionDialogTitle = "Set converter options.";
constexpr FXint dialogWidth = 240;
constexpr FXint dialogHeight = 280;
constexpr FXint dialogMargin = 10;
constexpr FXint dialogSpacing = 4;
}  // namespace

OptionDialog::OptionDialog(FXWindow* owner, FXCheckButton* (&checks)[optionDialogChecks],
                           const bool ticks[optionDialogChecks])
    : box(owner, optionDialogTitle, DECOR_TITLE | DECOR_BORDER, 0, 0,
          widthForTitle(owner->getApp(), optionDialogTitle, dialogWidth), dialogHeight,
          dialogMargin, dialogMargin, dialogMargin, dialogMargin, dialogSpacing, dialogSpacing),
      checks_(checks) {
  FXVerticalFrame* frame = new FXVerticalFrame(&box, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  for (int i = 0; i < optionDialogChecks; ++i) {
    checks_[i] = new FXCheckButton(frame, optionLabels[i]);
    checks_[i]->setCheck(ticks[i] ? TRUE : FALSE, FALSE);
  }
  FXMatrix* buttons = new FXMatrix(frame, 2, MATRIX_BY_COLUMNS | PACK_UNIFORM_WIDTH | LAYOUT_FILL_X | LAYOUT_BOTTOM);
  FXButton* ok = new FXButton(buttons, "OK", nullptr, &box, FXDialogBox::ID_ACCEPT,
                              BUTTON_INITIAL | BUTTON_DEFAULT | BUTTON_NORMAL | LAYOUT_FILL_X | LAYOUT_FILL_COLUMN);
  new FXButton(buttons, "Cancel", nullptr, &box, FXDialogBox::ID_CANCEL,
               BUTTON_DEFAULT | BUTTON_NORMAL | LAYOUT_FILL_X | LAYOUT_FILL_COLUMN);
  ok->setFocus();
}

OptionDialog::~OptionDialog() {
  for (FXCheckButton*& check : checks_) check = nullptr;
}

bool OptionDialog::run() { return box.execute(PLACEMENT_CURSOR) != 0; }
