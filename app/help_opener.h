// Opening the local help page in the user's browser without waiting for it.
#pragma once
#include <sys/types.h>

constexpr int helpViewerSlots = 16;
constexpr const char* helpPagePath = "help/index.html";  // below the working directory

// Viewers started and not yet reaped. Each Help call first collects the ones that have
// ended (waitpid with WNOHANG), so no zombie outlives the next call; a viewer started
// while every slot is taken is not tracked.
struct HelpViewers {
  pid_t pids[helpViewerSlots] = {};
};

// getcwd + "/" + helpPagePath into dest; an unreadable working directory gives the
// bare relative path. Returns the length written (truncated to capacity - 1).
size_t helpPageLocation(char* dest, size_t capacity);

// Reaps ended viewers, then starts "xdg-open <path>" through PATH (no shell). A missing
// page or a viewer that cannot start gives a trace line on stdout. Returns 1 when started.
int openHelpPage(const char* path, HelpViewers& viewers);

// Collects viewers that have ended; returns how many are still running.
int reapHelpViewers(HelpViewers& viewers);
