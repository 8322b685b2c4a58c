#pragma once
// Geometry of the self-drawn frame: where the client area, the caption, the
// round close and minimise buttons, the slim scroll track with its thumb and
// the info box lie for a given size; the outlines the painter draws; and the
// hit tests the main window uses to move, resize and scroll. All
// coordinates are in pixels relative to the window's top-left corner unless
// a name says otherwise.

#include "client/common/geometry.h"

#include <array>
#include <vector>

namespace client {

// The frame around the client area.
inline constexpr int kFrameLeft = 9;
inline constexpr int kFrameTop = 24;
inline constexpr int kFrameRight = 19;
inline constexpr int kFrameBottom = 9;
// The client area never gets narrower or lower than this.
inline constexpr int kMinClientSize = 8;
// The window's corners are quarter circles of this box size.
inline constexpr int kCornerSize = 24;
// Outlines of the bevel, outermost first.
inline constexpr int kBevelCount = 8;
inline constexpr int kThumbHeight = 20;
// Width of the strips along the window's edges that resize it.
inline constexpr int kResizeBorder = 8;
// The info box in the client area's top-right corner.
inline constexpr int kInfoBoxWidth = 140;
inline constexpr int kInfoBoxHeight = 28;
inline constexpr int kInfoBoxMargin = 8;
// Client size of a frame before its first resize.
inline constexpr int kInitialClientWidth = 200;
inline constexpr int kInitialClientHeight = 100;

struct FrameLayout {
  int client_width = 0;   // W
  int client_height = 0;  // H
  Rect window;            // the whole window, at the origin
  Rect client;            // the client area within the window
  Rect scroll_track;
  Rect close_button;
  Rect minimise_button;
  Rect caption;  // where the title is drawn
  Rect info_box;  // in client coordinates

  // The layout for a client area of W x H (each at least 8); the window is
  // the client area with the frame around it.
  static FrameLayout ForClientSize(int width, int height);
  // The layout for a window of w x h: the client area is the window moved
  // in by the frame, at least 8 x 8.
  static FrameLayout ForWindowSize(int width, int height);

  // A thumb top clamped to the track: at least its top, at most its
  // bottom less the thumb's height.
  int ClampThumbTop(int top) const;
  // The thumb with its top at `top` (clamped), as wide as the track.
  Rect ThumbAt(int top) const;
};

// What a point of the window is, in the numbering the window system uses
// for non-client hit tests.
enum class FrameHit {
  Client = 1,
  Caption = 2,
  VScroll = 7,
  MinButton = 8,
  Left = 10,
  Right = 11,
  Top = 12,
  TopLeft = 13,
  TopRight = 14,
  Bottom = 15,
  BottomLeft = 16,
  BottomRight = 17,
  Close = 20,
};

// Hit test of a point relative to the window's top-left corner (all
// comparisons strict): the thumb (or any point while the thumb is being
// dragged), the close and minimise buttons, the 8-pixel resize borders and
// corners, the caption strip (the top 24 pixels), else the client area.
FrameHit HitTestFrame(const FrameLayout& layout, int thumb_top, Point p, bool dragging_thumb);

// An arc of the ellipse inscribed in `box`, counter-clockwise from
// `start_degrees` to `end_degrees` (0 = three o'clock).
struct Arc {
  Rect box;
  int start_degrees = 0;
  int end_degrees = 0;
  bool operator==(const Arc&) const = default;
};

struct Segment {
  Point from, to;
  bool operator==(const Segment&) const = default;
};

// One rounded outline of the bevel: four quarter arcs in corner boxes of
// 24 x 24 and the four straight edges between them, each from 12 pixels
// after one corner to 12 pixels before the next. Arcs run top-left,
// top-right, bottom-right, bottom-left; edges top, right, bottom, left.
struct RoundedOutline {
  std::array<Arc, 4> corners;
  std::array<Segment, 4> edges;
};

// Outline `index` (0 outermost .. 7 innermost): the window moved in by
// `index` on every side.
RoundedOutline BevelOutline(const Rect& window, int index);

// The inner edge of the frame, drawn with the innermost pen: polylines
// along the client area and the short strokes that fill the caption's
// left end.
std::vector<std::vector<Point>> InnerEdgeLines(const Rect& window);

// The strokes on the buttons: a cross on the close button, a bar at the
// bottom of the minimise button.
std::array<Segment, 2> CloseGlyph(const Rect& button);
Segment MinimiseGlyph(const Rect& button);

// The line drawn down the middle of the scroll track.
Segment TrackLine(const Rect& track);

// The window's shape: a rectangle with quarter-circle corners of
// `corner` x `corner`, as rectangles whose union is the shape (one per row
// of each rounded end, one for the straight middle).
std::vector<Rect> RoundedRegionRects(int width, int height, int corner = kCornerSize);

}  // namespace client
