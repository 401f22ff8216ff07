// "Set converter options.": the modal dialog with the eight option check buttons.
#include "app/option_dialog.h"

#include "app/title_width.h"

static_assert(optionDialogChecks == optionCount, "one check button per option bit");

const char* const optionsUnknownText =
    "The option bits are not known yet.\nRead them, or set each one\nbefore OK.";
const char* const optionsReadText = "The option bits as read.\n\n";

namespace {
constexpr const char* optionDialogTitle = "Set converter options.";
constexpr FXint dialogWidth = 240;
constexpr FXint dialogHeight = 280;
constexpr FXint dialogMargin = 10;
constexpr FXint dialogSpacing = 4;
}  // namespace

FXDEFMAP(OptionDialog) OptionDialogMap[] = {
    FXMAPFUNCS(SEL_COMMAND, OptionDialog::ID_CHECK_FIRST, OptionDialog::ID_CHECK_LAST, OptionDialog::onCmdCheck),
    FXMAPFUNC(SEL_COMMAND, OptionDialog::ID_OK, OptionDialog::onCmdOk),
    FXMAPFUNC(SEL_UPDATE, OptionDialog::ID_OK, OptionDialog::onUpdOk),
    FXMAPFUNC(SEL_UPDATE, OptionDialog::ID_NOTE, OptionDialog::onUpdNote),
};
FXIMPLEMENT(OptionDialog, FXObject, OptionDialogMap, ARRAYNUMBER(OptionDialogMap))

OptionDialog::OptionDialog(FXWindow* owner, FXCheckButton* (&checks)[optionDialogChecks],
                           const bool ticks[optionDialogChecks], const ConverterOptions& options,
                           FXObject* reader, FXSelector readMessage)
    : box(new FXDialogBox(owner, optionDialogTitle, DECOR_TITLE | DECOR_BORDER, 0, 0,
                          widthForTitle(owner->getApp(), optionDialogTitle, dialogWidth), dialogHeight,
                          dialogMargin, dialogMargin, dialogMargin, dialogMargin, dialogSpacing, dialogSpacing)),
      checks_(checks),
      options_(&options) {
  FXVerticalFrame* frame = new FXVerticalFrame(box, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  for (int i = 0; i < optionDialogChecks; ++i) {
    checks_[i] = new FXCheckButton(frame, optionLabels[i], this, ID_CHECK_FIRST + i);
    checks_[i]->setCheck(ticks[i] ? TRUE : FALSE, FALSE);
  }
  if (!options.known) {
    // Taller by the note, so the eight boxes keep their room.
    box->setHeight(dialogHeight + 3 * owner->getApp()->getNormalFont()->getFontHeight() + 2 * dialogSpacing + 30);
    FXLabel* note = new FXLabel(frame, optionsUnknownText, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X);
    note->setTarget(this);
    note->setSelector(ID_NOTE);
    new FXButton(frame, "Read", nullptr, reader, readMessage, BUTTON_NORMAL | LAYOUT_LEFT);
  }
  FXMatrix* buttons = new FXMatrix(frame, 2, MATRIX_BY_COLUMNS | PACK_UNIFORM_WIDTH | LAYOUT_FILL_X | LAYOUT_BOTTOM);
  FXButton* ok = new FXButton(buttons, "OK", nullptr, this, ID_OK,
                              BUTTON_INITIAL | BUTTON_DEFAULT | BUTTON_NORMAL | LAYOUT_FILL_X | LAYOUT_FILL_COLUMN);
  new FXButton(buttons, "Cancel", nullptr, box, FXDialogBox::ID_CANCEL,
               BUTTON_DEFAULT | BUTTON_NORMAL | LAYOUT_FILL_X | LAYOUT_FILL_COLUMN);
  if (!everyBitSeen()) ok->disable();
  ok->setFocus();
}

OptionDialog::~OptionDialog() {
  if (checks_ != nullptr)
    for (int i = 0; i < optionDialogChecks; ++i) checks_[i] = nullptr;
  delete box;
}

bool OptionDialog::everyBitSeen() const {
  if (options_ == nullptr) return false;
  if (options_->known) return true;
  for (bool set : set_)
    if (!set) return false;
  return true;
}

bool OptionDialog::run() { return box->execute(PLACEMENT_CURSOR) != 0 && everyBitSeen(); }

long OptionDialog::onCmdCheck(FXObject*, FXSelector sel, void*) {
  set_[FXSELID(sel) - ID_CHECK_FIRST] = true;
  return 1;
}

long OptionDialog::onCmdOk(FXObject*, FXSelector, void*) {
  if (everyBitSeen()) box->handle(this, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  return 1;
}

long OptionDialog::onUpdOk(FXObject* sender, FXSelector, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, everyBitSeen() ? FXWindow::ID_ENABLE : FXWindow::ID_DISABLE), nullptr);
  return 1;
}

long OptionDialog::onUpdNote(FXObject* sender, FXSelector, void*) {
  FXString text = options_ != nullptr && options_->known ? optionsReadText : optionsUnknownText;
  sender->handle(this, FXSEL(SEL_COMMAND, FXWindow::ID_SETSTRINGVALUE), &text);
  return 1;
}
