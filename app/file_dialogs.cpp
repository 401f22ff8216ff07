// The file choosers and the error box of the settings and log files. They are modal: FOX's
// modal loop still runs the links' timers and inputs, so the links keep working meanwhile.
#include "app/file_dialogs.h"

namespace {
constexpr const char* boxTitle = "Quarn";
// FOX's default of 500 x 300 cuts off names and folders; kept inside the screen.
constexpr FXint chooserWidth = 780;
constexpr FXint chooserHeight = 520;

std::string textOf(const FXString& text) { return std::string(text.text(), static_cast<size_t>(text.length())); }

// Opens the chooser in the folder, with the name (if any) filled in, and runs it.
FXString runChooser(FXFileDialog& dialog, const char* patterns, const char* name, std::string& folder) {
  const FXString start = folder.empty() ? FXSystem::getCurrentDirectory() : FXString(folder.c_str());
  dialog.setPatternList(patterns);
  dialog.setCurrentPattern(0);
  dialog.setDirectory(start);
  // Without a name FOX would take the folder's own name as the file name.
  if (name != nullptr) dialog.setFilename(FXPath::absolute(start, name));
  const FXint screenWidth = dialog.getRoot()->getWidth();
  const FXint screenHeight = dialog.getRoot()->getHeight();
  dialog.resize(FXMIN(chooserWidth, screenWidth - 40), FXMIN(chooserHeight, screenHeight - 80));
  if (!dialog.execute(PLACEMENT_OWNER)) return FXString::null;
  const FXString path = dialog.getFilename();
  if (!path.empty()) folder = textOf(FXPath::directory(path));
  return path;
}

bool endsWith(const FXString& text, const char* end) {
  const FXint n = FXint(strlen(end));
  return text.length() >= n && comparecase(text.right(n), end) == 0;
}
}  // namespace

std::string askSavePath(FXWindow* owner, const SaveChoice& choice, std::string& folder) {
  FXFileDialog dialog(owner, choice.title);
  dialog.setSelectMode(SELECTFILE_ANY);
  FXString path = runChooser(dialog, choice.patterns, choice.suggestedName, folder);
  if (path.empty()) return std::string();
  if (choice.extension != nullptr && dialog.getCurrentPattern() == 0 && !endsWith(path, choice.extension))
    path += choice.extension;
  // FOX's chooser does not ask before a file is replaced.
  if (FXStat::exists(path) &&
      FXMessageBox::question(owner, MBOX_YES_NO, boxTitle, "%s already exists.\nReplace it?", path.text()) !=
          MBOX_CLICKED_YES)
    return std::string();
  return textOf(path);
}

std::string askOpenPath(FXWindow* owner, const char* title, const char* patterns, std::string& folder) {
  FXFileDialog dialog(owner, title);
  dialog.setSelectMode(SELECTFILE_EXISTING);
  return textOf(runChooser(dialog, patterns, nullptr, folder));
}

void showFileError(FXWindow* owner, const std::string& text) {
  FXMessageBox::error(owner, MBOX_OK, boxTitle, "%s", text.c_str());
}
