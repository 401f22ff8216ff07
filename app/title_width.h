// Widths of dialogs whose title must fit on the window manager's title bar.
#pragma once
#include <fx.h>

// Room a title bar takes beside the title: up to three buttons and the window menu icon.
constexpr FXint titleBarButtonRoom = 120;
constexpr FXint titleBarMargin = 24;

// The given width, or more when the title would not fit: the title's width in the
// application's normal font, plus the buttons' room and a margin. The window manager draws
// the title in a font of its own; FOX's normal font is taken as a fair estimate of it.
FXint widthForTitle(FXApp* app, const FXString& title, FXint givenWidth);
