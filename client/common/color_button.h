#pragma once
// The colour button's look without a toolkit: the pens made from the
// button colour, the automatic text colour, and the picture of the button
// as outlines, a fill, lines and a caption box, which the window draws in
// that order.

#include "client/common/color_scheme.h"
#include "client/common/geometry.h"

#include <optional>
#include <string_view>
#include <vector>

namespace client {

// Any text colour above 0x00FFFFFF means: black or white, whichever shows
// on the button colour.
inline constexpr ColorRef kAutomaticTextColor = 0xFFFFFFFF;
inline constexpr ColorRef kDefaultButtonColor = 0x004040C0;
inline constexpr ColorRef kDefaultButtonTextColor = 0x00FFFFFF;

// The text colour to draw with: `text` itself, or for an automatic one
// black when any channel of the button colour has its top bit set, else
// white.
ColorRef ButtonTextColor(ColorRef button, ColorRef text);

struct ColorButtonPens {
  ColorRef fill = 0;       // the button colour, also the colour pen
  ColorRef blend1 = 0;     // a third of the colour, two thirds of the face
  ColorRef blend2 = 0;     // two thirds of the colour, a third of the face
  ColorRef highlight = 0;  // each channel + 90, at most 255
  ColorRef shadow = 0;     // each channel - 50, at least 0
  ColorRef black = 0;
  ColorRef text = 0;
};

// `face` is the desktop's button face colour.
ColorButtonPens MakeColorButtonPens(ColorRef button, ColorRef text, ColorRef face);

struct ColorButtonLine {
  Point from, to;  // `to` itself is not drawn
  ColorRef color = 0;
};

struct ColorButtonPicture {
  std::vector<std::pair<Rect, ColorRef>> outlines;  // 1 px rectangle outlines, outermost first
  std::optional<Rect> fill_rect;
  std::vector<Point> fill_polygon;  // the pointed outline of style 2
  ColorRef fill_color = 0;
  std::vector<ColorButtonLine> lines;  // bevel, then a "+" or "-" caption
  std::optional<Rect> caption;    // a text caption, centred in this box
  ColorRef text_color = 0;
};

// Style 1 is the bevelled button; style 2 with `pointed` the pointed
// outline; any other combination shows the caption alone. Pressed, the
// bevel turns over and the contents move 1 px right and down.
ColorButtonPicture PaintColorButton(Size size, const ColorButtonPens& pens, int style, bool pointed,
                                    bool pressed, std::wstring_view caption);

}  // namespace client
