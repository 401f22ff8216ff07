// The wireless partner dialog.
#include "app/partner_dialog.h"

namespace {

constexpr FXint partnerDialogWidth = 260;
constexpr FXint partnerDialogHeight = 90;
constexpr FXint dialogPadding = 10;
constexpr FXint dialogSpacing = 4;
constexpr FXint partnerListVisible = 5;

}  // namespace

std::optional<int> runPartnerDialog(FXWindow* owner, const HeardConverterList& heard) {
  FXDialogBox dialog(owner, "Select wireless partner.", DECOR_TITLE | DECOR_BORDER, 0, 0, partnerDialogWidth,
                     partnerDialogHeight, dialogPadding, dialogPadding, dialogPadding, dialogPadding,
                     dialogSpacing, dialogSpacing);
  FXVerticalFrame* frame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXMatrix* matrix = new FXMatrix(frame, 2, MATRIX_BY_COLUMNS);
  new FXLabel(matrix, "ID ");
  FXListBox* list = new FXListBox(matrix, nullptr, 0, LISTBOX_NORMAL | FRAME_SUNKEN | FRAME_THICK);
  FXHorizontalFrame* buttons = new FXHorizontalFrame(frame, LAYOUT_FILL_X);
  new FXButton(buttons, "Select", nullptr, &dialog, FXDialogBox::ID_ACCEPT,
               BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X);
  new FXButton(buttons, "Cancel", nullptr, &dialog, FXDialogBox::ID_CANCEL,
               BUTTON_NORMAL | LAYOUT_CENTER_X);
  int count = heard.count;
  if (count < 0) count = 0;
  if (count > heardConverterCapacity) count = heardConverterCapacity;
  for (int i = 0; i < count; ++i) {
    char label[9];
    partnerLabel(heard.entries[i], label);
    list->appendItem(label);
  }
  list->setNumVisible(partnerListVisible);
  const FXuint accepted = dialog.execute(PLACEMENT_CURSOR);
  const FXint chosen = list->getCurrentItem();
  if (!accepted || count == 0 || chosen < 0 || chosen >= count) return std::nullopt;
  return chosen;
}
