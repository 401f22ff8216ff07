// The file choosers and the error box of the settings and log files.
#pragma once
#include <fx.h>

#include <string>

constexpr const char* settingsFilePatterns = "Settings (*.json)\nAll Files (*)";
constexpr const char* logFilePatterns = "Text (*.txt)\nAll Files (*)";

// The path to write to; empty when the user cancels or keeps an existing file.
std::string askSavePath(FXWindow* owner, const char* title, const char* patterns);

// The path of a file to read; empty when the user cancels.
std::string askOpenPath(FXWindow* owner, const char* title, const char* patterns);

// The error box titled "Quarn" with the text as given.
void showFileError(FXWindow* owner, const std::string& text);
