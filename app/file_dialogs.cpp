// The file choosers and the error box of the settings and log files. They are modal: FOX's
// modal loop still runs the links' timers and inputs, so the links keep working meanwhile.
#include "app/file_dialogs.h"

namespace {
constexpr const char* boxTitle = "Quarn";

std::string textOf(const FXString& text) { return std::string(text.text(), static_cast<size_t>(text.length())); }
}  // namespace

std::string askSavePath(FXWindow* owner, const char* title, const char* patterns) {
  const FXString path = FXFileDialog::getSaveFilename(owner, title, FXString::null, patterns);
  if (path.empty()) return std::string();
  // FOX's chooser does not ask before a file is replaced.
  if (FXStat::exists(path) &&
      FXMessageBox::question(owner, MBOX_YES_NO, boxTitle, "%s already exists.\nReplace it?", path.text()) !=
          MBOX_CLICKED_YES)
    return std::string();
  return textOf(path);
}

std::string askOpenPath(FXWindow* owner, const char* title, const char* patterns) {
  return textOf(FXFileDialog::getOpenFilename(owner, title, FXString::null, patterns));
}

void showFileError(FXWindow* owner, const std::string& text) {
  FXMessageBox::error(owner, MBOX_OK, boxTitle, "%s", text.c_str());
}
