#pragma once
// Moving and resizing a window without a system frame: the window manager
// does it when one runs; without one (a bare X server) the functions
// return false and the caller does it by hand (client::DraggedWindowRect).

#include "client/common/frame_layout.h"

#include <wx/toplevel.h>

// True when a window manager runs that moves and resizes windows for their
// programs.
bool WindowManagerMovesWindows();

// Lets the window manager resize `window` by the borders it draws itself
// (once the window is shown: wx asks again at each showing).
void LetWindowManagerResize(wxTopLevelWindow* window);

// `screen` is the pointer's position when the button went down.
bool BeginWindowManagerMove(wxTopLevelWindow* window, int button, const wxPoint& screen);
bool BeginWindowManagerResize(wxTopLevelWindow* window, client::FrameHit edge, int button, const wxPoint& screen);
