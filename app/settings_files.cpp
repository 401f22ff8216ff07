// QuarnWindow's file commands: settings files (the same as quarn-cli's) and the saved log.
// Loading only fills the fields; nothing goes to the converter until the user sends it.
#include <string>

#include "app/file_dialogs.h"
#include "app/quarn_window.h"
#include "settings/view_settings.h"
#include "text/printable_text.h"

// A path may hold any bytes; the log and the status line get them escaped, as device text is.
void QuarnWindow::reportFile(bool ok, const std::string& doneText, const std::string& failed, const std::string& errorText) {
  const std::string done = printableText(doneText);
  const std::string error = printableText(errorText);
  if (ok) {
    logOwnLine(*this, done + "\n", logStylePlain);
    showStatus(done);
    return;
  }
  logOwnLine(*this, failed + ": " + error + "\n", logStylePlain);
  showStatus(failed + ": " + error);
  showFileError(this, failed + ":\n" + error);
}

long QuarnWindow::onCmdSaveSettings(FXObject*, FXSelector, void*) {
  const std::string path = askSavePath(this, {"Save settings", settingsFilePatterns, suggestedSettingsName, ".json"}, fileFolder);
  if (path.empty()) return 1;
  std::string error;
  const bool ok = saveSettingsFile(path, *this, link_.records().options, error);
  reportFile(ok, "Settings saved to " + path, "Settings not saved", error);
  return 1;
}

long QuarnWindow::onCmdLoadSettings(FXObject*, FXSelector, void*) {
  const std::string path = askOpenPath(this, "Load settings", settingsFilePatterns, fileFolder);
  if (path.empty()) return 1;
  std::string error;
  const bool ok = loadSettingsFile(path, *this, link_.records().options, error);
  reportFile(ok, "Settings loaded from " + path + "; nothing sent", "Settings not loaded", error);
  return 1;
}

long QuarnWindow::onCmdSaveLog(FXObject*, FXSelector, void*) {
  const std::string path = askSavePath(this, {"Save log", logFilePatterns, suggestedLogName, nullptr}, fileFolder);
  if (path.empty()) return 1;
  const FXString text = logView->getText();
  std::string error;
  const bool ok = writePrivateTextFile(path, std::string(text.text(), static_cast<size_t>(text.length())), error);
  reportFile(ok, "Log saved to " + path, "Log not saved", error);
  return 1;
}
