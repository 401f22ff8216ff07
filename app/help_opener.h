// Opening the local help page in the user's browser without waiting for it.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

constexpr int helpViewerSlots = 16;
constexpr const char* helpPagePath = "help/index.html";  // below the working directory

// Viewers started and not yet reaped. Each Help call first collects the ones that have
// ended (waitpid with WNOHANG), so no zombie outlives the next call; a viewer started
// while every slot is taken is not tracked. Where the system gives one, each viewer also has a
// descriptor that becomes readable when it ends (a pidfd; -1 where there is none), so the
// window collects it then and learns whether a program opened the page.
struct HelpViewers {
  pid_t pids[helpViewerSlots] = {};
  int ends[helpViewerSlots] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  int lastEnd = -1;  // the descriptor of the viewer started last, -1 when none to watch
};

// getcwd + "/" + helpPagePath into dest; an unreadable working directory gives the
// bare relative path. Returns the length written (truncated to capacity - 1).
size_t helpPageLocation(char* dest, size_t capacity);

// Reaps ended viewers, then starts "xdg-open <path>" through PATH (no shell). A missing
// page or a viewer that cannot start gives a trace line on stdout, and the same text in
// failure when it is given. Returns 1 when started.
int openHelpPage(const char* path, HelpViewers& viewers, std::string* failure = nullptr);

// Collects the viewers whose end descriptor is readable (never waits): closes the descriptor
// and reaps the viewer. Returns how many of them ended without opening the page (non-zero exit,
// or killed); xdg-open exits non-zero when no program could open it.
int collectEndedHelpViewers(HelpViewers& viewers);

// The status line's text for a page that no program could open.
std::string helpNotOpenedText(const char* path);

// Collects viewers that have ended; returns how many are still running.
int reapHelpViewers(HelpViewers& viewers);
