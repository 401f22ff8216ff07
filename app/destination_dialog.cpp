// "Choose destination meter": asks which device slot a heard meter goes to.
#include "app/destination_dialog.h"

namespace {
constexpr FXint dialogWidth = 300;
constexpr FXint dialogHeight = 90;
constexpr const char* slotEntries[] = {"1", "2", "3", "4"};
constexpr FXint slotEntryCount = 4;
}  // namespace

int runDestinationDialog(FXWindow* owner) {
  FXDialogBox box(owner, "Choose destination meter", DECOR_TITLE | DECOR_BORDER, 0, 0, dialogWidth,
                  dialogHeight);
  FXVerticalFrame* frame = new FXVerticalFrame(&box, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
  FXHorizontalFrame* choice = new FXHorizontalFrame(frame, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0);
  new FXLabel(choice, "Send to device config:", nullptr, LABEL_NORMAL | LAYOUT_CENTER_Y);
  FXListBox* slots = new FXListBox(choice, nullptr, 0, LISTBOX_NORMAL | FRAME_SUNKEN | FRAME_THICK | LAYOUT_FILL_X);
  for (const char* entry : slotEntries) slots->appendItem(entry);
  slots->setNumVisible(slotEntryCount);
  slots->setCurrentItem(0);

  FXHorizontalFrame* buttons =
      new FXHorizontalFrame(frame, LAYOUT_FILL_X | LAYOUT_SIDE_BOTTOM | PACK_UNIFORM_WIDTH, 0, 0, 0, 0, 0, 0, 0, 0);
  FXButton* ok = new FXButton(buttons, "OK", nullptr, &box, FXDialogBox::ID_ACCEPT,
                              BUTTON_INITIAL | BUTTON_DEFAULT | BUTTON_NORMAL | LAYOUT_FILL_X);
  new FXButton(buttons, "Cancel", nullptr, &box, FXDialogBox::ID_CANCEL,
               BUTTON_DEFAULT | BUTTON_NORMAL | LAYOUT_FILL_X);
  ok->setFocus();

  if (!box.execute(PLACEMENT_CURSOR)) return -1;
  return slots->getCurrentItem();
}
