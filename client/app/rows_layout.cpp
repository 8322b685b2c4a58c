#include "client/app/rows_layout.h"

#include "client/common/frame_model.h"
#include "client/app/progression_chart.h"

#include <algorithm>
#include <cstdint>

namespace client {

int ThumbTrack::Clamp(int thumb_top) const { return std::clamp(thumb_top, top, top + Span()); }

Rect RowsArea(int width, int height, bool show_diagram) {
  const int top = kInfoBoxMargin + kInfoBoxHeight;
  int bottom = height - 2 * kTextLineHeight;
  if (show_diagram) bottom = PlaceProgression(width, height).top - kProgressionGap;
  return {0, top, std::max(0, width), std::max(top, bottom)};
}

RowsLayout LayOutRows(std::size_t count, bool simple, int width, int visible_height, const ThumbTrack& track,
                      int thumb_top) {
  RowsLayout layout;
  layout.thumb_top = track.Clamp(thumb_top);
  layout.row_pitch = simple ? kStripPitch : kTilePitchY;
  if (count == 0) {
    layout.thumb_top = track.top;
    return layout;
  }

  // Tiles: a new line when the next one would pass the right edge, but
  // never before the line has one.
  std::vector<Point> places;
  places.reserve(count);
  if (simple) {
    for (std::size_t i = 0; i < count; ++i) places.push_back({kStripLeft, static_cast<int>(i) * kStripPitch});
    layout.lines = static_cast<int>(count);
  } else {
    int x = 0, line = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (x > 0 && x + kTileWidth > width) {
        x = 0;
        ++line;
      }
      places.push_back({x, line * kTilePitchY});
      x += kTilePitchX;
    }
    layout.lines = line + 1;
  }

  const std::int64_t excess =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(layout.lines) * layout.row_pitch - visible_height);
  int first = simple ? kStripTop : 0;
  if (excess == 0 || track.Span() == 0) {
    layout.thumb_top = track.top;
  } else {
    layout.offset = static_cast<int>(excess * (layout.thumb_top - track.top) / track.Span());
    first = -layout.offset;
  }

  const int strip_width = std::max(0, width - kStripWidthLess);
  for (const Point& p : places) {
    if (simple) layout.rows.push_back(Rect::FromSize(p.x, first + p.y, strip_width, kStripHeight));
    else layout.rows.push_back(Rect::FromSize(p.x, first + p.y, kTileWidth, kTileHeight));
  }
  return layout;
}

int ScrollThumb(ScrollCode code, int thumb_top, int row_pitch, const ThumbTrack& track) {
  switch (code) {
    case ScrollCode::LineUp: return track.Clamp(thumb_top - kThumbLineStep);
    case ScrollCode::LineDown: return track.Clamp(thumb_top + kThumbLineStep);
    case ScrollCode::PageUp: return track.Clamp(thumb_top - row_pitch);
    case ScrollCode::PageDown: return track.Clamp(thumb_top + row_pitch);
  }
  return track.Clamp(thumb_top);
}

}  // namespace client
