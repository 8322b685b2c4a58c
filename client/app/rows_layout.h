#pragma once
// Where the torrents' rows lie in the main window's client area and how the
// scroll thumb moves them. Tile view: each row is a 166 x 100 chart, placed
// left to right 170 px apart and in lines 104 px apart. Simple view: each
// row is a strip 22 px high across the area, one every 24 px. When the
// rows need more height than is visible, the thumb's place on its track
// picks the part shown.

#include "client/common/frame_layout.h"
#include "client/common/geometry.h"

#include <cstddef>
#include <vector>

namespace client {

inline constexpr int kTileWidth = 166;
inline constexpr int kTileHeight = 100;
inline constexpr int kTilePitchX = 170;
inline constexpr int kTilePitchY = 104;
inline constexpr int kStripLeft = 2;
inline constexpr int kStripTop = 2;
inline constexpr int kStripHeight = 22;
inline constexpr int kStripPitch = 24;
// The strips are this much narrower than the area.
inline constexpr int kStripWidthLess = 6;
// A line step of the thumb.
inline constexpr int kThumbLineStep = 10;

// The thumb's track (window coordinates): the thumb's top moves from `top`
// to `bottom` less the thumb's height.
struct ThumbTrack {
  int top = 0;
  int bottom = 0;

  // The room the thumb has; 0 on a track no longer than the thumb.
  int Span() const { return bottom - top - kThumbHeight > 0 ? bottom - top - kThumbHeight : 0; }
  int Clamp(int thumb_top) const;
};

struct RowsLayout {
  std::vector<Rect> rows;  // in list order, client coordinates
  int thumb_top = 0;       // the thumb as the layout used it
  int row_pitch = kTilePitchY;  // a page step of the thumb
  int lines = 0;                // lines of tiles, or strips
  int offset = 0;               // how far the rows are scrolled up
};

// The part of a client area of `width` x `height` the rows take (client
// coordinates): below the info box in the top-right corner and above the
// status and notice lines at the bottom, or above the progression charts
// while they are shown, so that no row covers them. Its height is 0 where
// nothing is left.
Rect RowsArea(int width, int height, bool show_diagram);

// Lays out `count` rows in an area `width` wide of which `visible_height`
// is seen. A width below one tile still puts one tile on each line; a
// track too short for the thumb to move shows the rows from the top.
RowsLayout LayOutRows(std::size_t count, bool simple, int width, int visible_height, const ThumbTrack& track,
                      int thumb_top);

// The scroll steps, numbered as the window system numbers them.
enum class ScrollCode { LineUp = 0, LineDown = 1, PageUp = 2, PageDown = 3 };
// The thumb after a step: a line is 10 px, a page the row pitch.
int ScrollThumb(ScrollCode code, int thumb_top, int row_pitch, const ThumbTrack& track);

}  // namespace client
