#pragma once
// Moving and resizing a window without a system frame: the window manager
// does it (GTK on X11 asks it, or emulates it where there is none) when
// that is available; false tells the caller to do it by hand
// (client::DraggedWindowRect).

#include "client/common/frame_layout.h"

#include <wx/toplevel.h>

// `screen` is the pointer's position when the button went down.
bool BeginWindowManagerMove(wxTopLevelWindow* window, int button, const wxPoint& screen);
bool BeginWindowManagerResize(wxTopLevelWindow* window, client::FrameHit edge, int button, const wxPoint& screen);
