// The COM port dialog of the wired connection.
#include "app/port_dialog.h"

#include "app/title_width.h"

namespace {

constexpr FXint portDialogWidth = 180;
constexpr FXint portDialogHeight = 90;
constexpr FXint dialogPadding = 10;
constexpr FXint dialogSpacing = 4;
constexpr FXint portListVisible = 11;

}  // namespace

FXint runPortDialog(FXWindow* owner, const ComPortList& ports, int preselect) {
  const FXString title = "Select wired parameters.";
  FXDialogBox dialog(owner, title, DECOR_TITLE | DECOR_BORDER, 0, 0,
                     widthForTitle(owner->getApp(), title, portDialogWidth), portDialogHeight, dialogPadding, dialogPadding, dialogPadding, dialogPadding,
                     dialogSpacing, dialogSpacing);
  FXVerticalFrame* frame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXMatrix* matrix = new FXMatrix(frame, 2, MATRIX_BY_COLUMNS);
  new FXLabel(matrix, "COM Port ");
  FXListBox* list = new FXListBox(matrix, nullptr, 0, LISTBOX_NORMAL | FRAME_SUNKEN | FRAME_THICK);
  new FXButton(frame, "Connect", nullptr, &dialog, FXDialogBox::ID_ACCEPT,
               BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X);
  for (int i = 0; i < ports.count; ++i) list->appendItem(comPortName(ports, i));
  list->setNumVisible(portListVisible);
  if (preselect >= 0 && preselect < list->getNumItems()) list->setCurrentItem(preselect);
  dialog.execute(PLACEMENT_CURSOR);
  const FXint chosen = list->getNumItems() > 0 ? list->getCurrentItem() : 0;
  return chosen < 0 ? 0 : chosen;
}
