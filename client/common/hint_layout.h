#pragma once
// Where the hint pop-up opens and how its text breaks into lines.

#include "client/common/geometry.h"
#include "client/common/text_measurer.h"

#include <string>
#include <string_view>
#include <vector>

namespace client {

// The text broken into lines no wider than `width` where blanks allow:
// words go on a line while they fit, a word wider than `width` keeps a line
// of its own, and a line feed (with or without a carriage return before
// it) always ends a line. The blanks at a break are dropped.
std::vector<std::wstring> WrapWords(std::wstring_view text, int width, const TextMeasurer& measure);

// The widest line by the number of lines times the line height.
Size TextBlockSize(const std::vector<std::wstring>& lines, const TextMeasurer& measure);

// The text sits this far inside the window, which is this much bigger
// than the text each way.
inline constexpr int kHintTextInset = 2;
inline constexpr int kHintPadding = 6;

// The window rectangle for a text block of `text` under `anchor` (both in
// screen coordinates): 2 px right of and below the anchor's top-left; moved
// left to end at the screen's right edge when it would pass it; placed
// above the anchor with a 4 px gap when it would pass the bottom. It never
// starts left of or above the screen.
Rect PlaceHint(Rect anchor, Size text, Rect screen);

struct HintLayout {
  std::vector<std::wstring> lines;
  Rect window;  // screen coordinates
};

// The lines broken at the width of the anchor moved 2 px, and the window
// placed for them.
HintLayout LayOutHint(std::wstring_view text, Rect anchor, Rect screen, const TextMeasurer& measure);

}  // namespace client
