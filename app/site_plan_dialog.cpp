// The site plan dialog: three file names and the action, typed or kept from the last run.
#include "app/site_plan_dialog.h"

namespace {

constexpr FXint dialogPadding = 10;
constexpr FXint dialogSpacing = 4;
constexpr FXint pathColumns = 40;

FXTextField* pathRow(FXComposite* matrix, const char* label, const std::string& value) {
  new FXLabel(matrix, label);
  FXTextField* field = new FXTextField(matrix, pathColumns, nullptr, 0, TEXTFIELD_NORMAL);
  field->setText(value.c_str());
  return field;
}

}  // namespace

std::optional<SitePlanRequest> runSitePlanDialog(FXWindow* owner, const SitePlanRequest& last) {
  FXDialogBox dialog(owner, "Site plan", DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0, dialogPadding, dialogPadding,
                     dialogPadding, dialogPadding, dialogSpacing, dialogSpacing);
  FXVerticalFrame* frame = new FXVerticalFrame(&dialog, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXMatrix* matrix = new FXMatrix(frame, 2, MATRIX_BY_COLUMNS | LAYOUT_FILL_X);
  FXTextField* plan = pathRow(matrix, "Plan (CSV or JSON)", last.plan);
  FXTextField* settingsTemplate = pathRow(matrix, "Template settings file", last.settingsTemplate);
  FXTextField* report = pathRow(matrix, "Report file", last.report);
  new FXLabel(matrix, "Action");
  FXListBox* action = new FXListBox(matrix, nullptr, 0, LISTBOX_NORMAL | FRAME_SUNKEN | FRAME_THICK);
  for (const char* name : siteDialogActions) action->appendItem(name);
  action->setNumVisible(siteDialogActionCount);
  action->setCurrentItem(last.action >= 0 && last.action < siteDialogActionCount ? last.action : 0);
  FXHorizontalFrame* buttons = new FXHorizontalFrame(frame, LAYOUT_FILL_X);
  new FXButton(buttons, "Run", nullptr, &dialog, FXDialogBox::ID_ACCEPT,
               BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X);
  new FXButton(buttons, "Cancel", nullptr, &dialog, FXDialogBox::ID_CANCEL, BUTTON_NORMAL | LAYOUT_CENTER_X);
  if (!dialog.execute(PLACEMENT_OWNER)) return std::nullopt;
  SitePlanRequest request;
  request.plan = plan->getText().text();
  request.settingsTemplate = settingsTemplate->getText().text();
  request.report = report->getText().text();
  request.action = action->getCurrentItem();
  return request;
}
