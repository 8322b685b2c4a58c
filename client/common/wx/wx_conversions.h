#pragma once
// Between the window logic's plain types and wx's.

#include "client/common/color_scheme.h"
#include "client/common/geometry.h"

#include <wx/colour.h>
#include <wx/gdicmn.h>

namespace client {

inline Rect ToRect(const wxRect& r) { return Rect::FromSize(r.x, r.y, r.width, r.height); }
inline wxRect ToWxRect(const Rect& r) { return wxRect(r.left, r.top, r.Width(), r.Height()); }
inline wxPoint ToWxPoint(Point p) { return wxPoint(p.x, p.y); }

inline wxColour ToWxColour(ColorRef c) {
  const Rgb rgb = FromColorRef(c);
  return wxColour(rgb.r, rgb.g, rgb.b);
}
inline ColorRef FromWxColour(const wxColour& c) { return ToColorRef(c.Red(), c.Green(), c.Blue()); }

}  // namespace client
