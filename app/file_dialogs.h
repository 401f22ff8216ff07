// The file choosers and the error box of the settings and log files.
#pragma once
#include <fx.h>

#include <string>

constexpr const char* settingsFilePatterns = "Settings (*.json)\nAll Files (*)";
constexpr const char* logFilePatterns = "Text (*.txt)\nAll Files (*)";
constexpr const char* suggestedSettingsName = "quarn-settings.json";
constexpr const char* suggestedLogName = "quarn-log.txt";

// What a save chooser offers: its title, patterns (the first is the default), the name it
// suggests, and the extension added to a name typed without it while the first pattern is
// chosen (nullptr: none).
struct SaveChoice {
  const char* title;
  const char* patterns;
  const char* suggestedName;
  const char* extension;
};

// The choosers open in folder (the one last used in the run; the working folder when empty)
// and set it to the folder of the file chosen.

// The path to write to; empty when the user cancels or keeps an existing file.
std::string askSavePath(FXWindow* owner, const SaveChoice& choice, std::string& folder);

// The path of a file to read; empty when the user cancels.
std::string askOpenPath(FXWindow* owner, const char* title, const char* patterns, std::string& folder);

// The error box titled "Quarn" with the text as given.
void showFileError(FXWindow* owner, const std::string& text);
