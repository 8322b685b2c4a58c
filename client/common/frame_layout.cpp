#include "client/common/frame_layout.h"

#include <algorithm>
#include <cmath>

namespace client {

namespace {
constexpr int kCaptionLeft = 16;
constexpr int kButtonSize = 16;
constexpr int kButtonTop = 8;
}  // namespace

FrameLayout FrameLayout::ForClientSize(int width, int height) {
  const int w = std::max(width, kMinClientSize);
  const int h = std::max(height, kMinClientSize);
  FrameLayout l;
  l.client_width = w;
  l.client_height = h;
  l.window = {0, 0, w + kFrameLeft + kFrameRight, h + kFrameTop + kFrameBottom};
  l.client = {kFrameLeft, kFrameTop, kFrameLeft + w, kFrameTop + h};
  l.scroll_track = {w + kFrameLeft, kFrameTop, w + kFrameRight, h + kFrameTop};
  l.close_button = {w + 1, kButtonTop, w + 1 + kButtonSize, kButtonTop + kButtonSize};
  l.minimise_button = l.close_button.Offset(-kButtonSize, 0);
  l.caption = {kCaptionLeft, kButtonTop, l.minimise_button.left, kFrameTop};
  l.info_box = {w - kInfoBoxMargin - kInfoBoxWidth, kInfoBoxMargin, w - kInfoBoxMargin,
                kInfoBoxMargin + kInfoBoxHeight};
  return l;
}

FrameLayout FrameLayout::ForWindowSize(int width, int height) {
  FrameLayout l = ForClientSize(width - kFrameLeft - kFrameRight, height - kFrameTop - kFrameBottom);
  // A window too small for the minimum client area keeps its own size.
  l.window = {0, 0, width, height};
  return l;
}

int FrameLayout::ClampThumbTop(int top) const {
  // The lower bound wins on a track shorter than the thumb.
  return std::max(scroll_track.top, std::min(top, scroll_track.bottom - kThumbHeight));
}

Rect FrameLayout::ThumbAt(int top) const {
  const int t = ClampThumbTop(top);
  return {scroll_track.left, t, scroll_track.right, t + kThumbHeight};
}

FrameHit HitTestFrame(const FrameLayout& layout, int thumb_top, Point p, bool dragging_thumb) {
  if (dragging_thumb || layout.ThumbAt(thumb_top).ContainsStrictly(p)) return FrameHit::VScroll;
  if (layout.close_button.ContainsStrictly(p)) return FrameHit::Close;
  if (layout.minimise_button.ContainsStrictly(p)) return FrameHit::MinButton;
  const Rect& w = layout.window;
  const bool near_top = p.y < w.top + kResizeBorder;
  const bool near_bottom = p.y > w.bottom - kResizeBorder;
  if (p.x < w.left + kResizeBorder)
    return near_top ? FrameHit::TopLeft : near_bottom ? FrameHit::BottomLeft : FrameHit::Left;
  if (p.x > w.right - kResizeBorder)
    return near_top ? FrameHit::TopRight : near_bottom ? FrameHit::BottomRight : FrameHit::Right;
  if (near_top) return FrameHit::Top;
  if (near_bottom) return FrameHit::Bottom;
  if (p.y < w.top + kFrameTop) return FrameHit::Caption;
  return FrameHit::Client;
}

RoundedOutline BevelOutline(const Rect& window, int index) {
  const Rect r = window.Inset(index);
  constexpr int c = kCornerSize, half = kCornerSize / 2;
  RoundedOutline o;
  o.corners = {Arc{{r.left, r.top, r.left + c, r.top + c}, 90, 180},
               Arc{{r.right - c, r.top, r.right, r.top + c}, 0, 90},
               Arc{{r.right - c, r.bottom - c, r.right, r.bottom}, 270, 360},
               Arc{{r.left, r.bottom - c, r.left + c, r.bottom}, 180, 270}};
  o.edges = {Segment{{r.left + half, r.top}, {r.right - half, r.top}},
             Segment{{r.right, r.top + half}, {r.right, r.bottom - half}},
             Segment{{r.right - half, r.bottom}, {r.left + half, r.bottom}},
             Segment{{r.left, r.bottom - half}, {r.left, r.top + half}}};
  return o;
}

std::vector<std::vector<Point>> InnerEdgeLines(const Rect& window) {
  const int w = window.Width(), h = window.Height();
  return {
      {{8, 13}, {8, h - 13}},
      {{13, h - 8}, {w - 13, h - 8}, {w - 8, h - 13}, {w - 8, 13}},
      {{w - 13, 8}, {13, 8}},
      // Strokes down to the client area's top that fill the caption's
      // left end and the corner right of the close button.
      {{16, 8}, {16, 23}},
      {{14, 8}, {14, 23}},
      {{12, 11}, {12, 23}},
      {{10, 12}, {10, 23}},
      {{w - 10, 10}, {w - 10, 23}},
  };
}

std::array<Segment, 2> CloseGlyph(const Rect& b) {
  return {Segment{{b.left + 5, b.top + 5}, {b.right - 6, b.bottom - 6}},
          Segment{{b.left + 5, b.bottom - 6}, {b.right - 6, b.top + 5}}};
}

Segment MinimiseGlyph(const Rect& b) { return {{b.left + 5, b.bottom - 6}, {b.right - 6, b.bottom - 6}}; }

Segment TrackLine(const Rect& track) { return {{track.left + 5, track.top}, {track.left + 5, track.bottom}}; }

std::vector<Rect> RoundedRegionRects(int width, int height, int corner) {
  std::vector<Rect> rects;
  if (width <= 0 || height <= 0) return rects;
  // The radius shrinks to fit a window smaller than two corners.
  const int radius = std::max(0, std::min({corner / 2, width / 2, height / 2}));
  for (int row = 0; row < radius; ++row) {
    // A pixel belongs to the shape when its centre lies inside the circle.
    const double dy = radius - (row + 0.5);
    const double dx = std::sqrt(std::max(0.0, double(radius) * radius - dy * dy));
    const int inset = std::max(0, int(std::ceil(radius - dx - 0.5)));
    if (inset * 2 >= width) continue;
    rects.push_back({inset, row, width - inset, row + 1});
    rects.push_back({inset, height - 1 - row, width - inset, height - row});
  }
  if (height - 2 * radius > 0) rects.push_back({0, radius, width, height - radius});
  return rects;
}

}  // namespace client
