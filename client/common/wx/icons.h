#pragma once
// The programs' icons by resource number (client/common/icon_resources.h),
// drawn from their SVG at any size.

#include <wx/bmpbndl.h>
#include <wx/iconbndl.h>

// The icon as a bitmap bundle of default size `size`; an invalid bundle
// for a number that names no icon.
wxBitmapBundle LoadIconResource(int resource, const wxSize& size = wxSize(32, 32));

// The icon at the sizes a window offers its window manager and task bar
// (16 to 128 pixels); empty for a number that names no icon.
wxIconBundle LoadIconSet(int resource);
