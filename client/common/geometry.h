#pragma once
// Integer points, sizes and rectangles in pixels, as the windows lay themselves
// out: a rectangle includes its left and top edges and excludes its right
// and bottom edges.

namespace client {

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int cx = 0, cy = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;

  static constexpr Rect FromSize(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  // left <= x < right and top <= y < bottom.
  bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  // Strictly inside: left < x < right and top < y < bottom.
  bool ContainsStrictly(Point p) const { return p.x > left && p.x < right && p.y > top && p.y < bottom; }
  Rect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  // Moved in by `d` on every side (out for negative `d`).
  Rect Inset(int d) const { return {left + d, top + d, right - d, bottom - d}; }
  bool operator==(const Rect&) const = default;
};

}  // namespace client
