// The rows' layout, the scroll thumb and the progression charts, without a
// window.

#include "client/common/frame_model.h"
#include "client/app/progression_chart.h"
#include "client/app/rows_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using client::LayOutRows;
using client::Rect;
using client::ScrollCode;
using client::ThumbTrack;

// Tiles per line for `count` tiles in an area `width` wide.
std::vector<int> TilesPerLine(int width, int count) {
  const auto layout = LayOutRows(count, false, width, 10000, {24, 400}, 24);
  std::vector<int> lines;
  int y = -1;
  for (const Rect& r : layout.rows) {
    if (r.top != y) lines.push_back(0), y = r.top;
    ++lines.back();
  }
  return lines;
}

TEST(RowsLayout, TilesFillEachLineAndANarrowAreaStillTakesOnePerLine) {
  EXPECT_EQ(TilesPerLine(165, 3), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(TilesPerLine(1, 2), (std::vector<int>{1, 1}));
  EXPECT_EQ(TilesPerLine(335, 3), (std::vector<int>{1, 1, 1}));
  // 170 + 166 reaches the edge exactly: it still fits.
  EXPECT_EQ(TilesPerLine(336, 5), (std::vector<int>{2, 2, 1}));
  EXPECT_EQ(TilesPerLine(340, 4), (std::vector<int>{2, 2}));
  EXPECT_EQ(TilesPerLine(506, 4), (std::vector<int>{3, 1}));

  const auto layout = LayOutRows(3, false, 340, 10000, {24, 400}, 24);
  EXPECT_EQ(layout.lines, 2);
  EXPECT_EQ(layout.rows[0], Rect::FromSize(0, 0, 166, 100));
  EXPECT_EQ(layout.rows[1], Rect::FromSize(170, 0, 166, 100));
  EXPECT_EQ(layout.rows[2], Rect::FromSize(0, 104, 166, 100));
}

TEST(RowsLayout, TheThumbPicksThePartShown) {
  // 4 lines of 104 = 416 in 216 visible: 200 px of excess over a track
  // with 100 px of room (24 .. 144 - 20).
  const ThumbTrack track{24, 144};
  auto at = [&](int thumb) { return LayOutRows(4, false, 200, 216, track, thumb); };
  EXPECT_EQ(at(24).rows[0].top, 0);
  EXPECT_EQ(at(74).rows[0].top, -100);
  EXPECT_EQ(at(124).rows[0].top, -200);
  EXPECT_EQ(at(124).rows[3].top, -200 + 3 * 104);
  // Truncated: 200 * 33 / 100 = 66.
  EXPECT_EQ(at(57).offset, 66);
  // Beyond the track the thumb is held at its ends.
  EXPECT_EQ(at(500).thumb_top, 124);
  EXPECT_EQ(at(500).rows[0].top, -200);
  EXPECT_EQ(at(-50).thumb_top, 24);

  // Without excess the thumb goes back to the top.
  const auto fits = LayOutRows(2, false, 400, 216, track, 100);
  EXPECT_EQ(fits.thumb_top, 24);
  EXPECT_EQ(fits.rows[0].top, 0);
}

TEST(RowsLayout, ShortWindowsNeverDivideByZero) {
  // Tracks of 20, 19, 0 and negative length: the thumb cannot move, the
  // rows show from the top.
  for (int length : {20, 19, 1, 0, -30}) {
    const auto layout = LayOutRows(5, false, 200, length - 10, {24, 24 + length}, 60);
    ASSERT_EQ(layout.rows.size(), 5u) << length;
    EXPECT_EQ(layout.thumb_top, 24) << length;
    EXPECT_EQ(layout.rows[0].top, 0) << length;
    const auto strips = LayOutRows(5, true, 3, length - 10, {24, 24 + length}, 60);
    EXPECT_EQ(strips.rows[0], Rect::FromSize(2, 2, 0, 22)) << length;
  }
  // One pixel of room scrolls the whole excess.
  const auto one = LayOutRows(5, false, 200, 8, {24, 45}, 25);
  EXPECT_EQ(one.offset, 5 * 104 - 8);
}

TEST(RowsLayout, SimpleViewStripsAndAnEmptyList) {
  const auto strips = LayOutRows(3, true, 300, 1000, {24, 300}, 24);
  ASSERT_EQ(strips.rows.size(), 3u);
  EXPECT_EQ(strips.rows[0], Rect::FromSize(2, 2, 294, 22));
  EXPECT_EQ(strips.rows[2], Rect::FromSize(2, 50, 294, 22));
  EXPECT_EQ(strips.row_pitch, 24);
  // Scrolled: 10 strips = 240 in 40 visible, 200 over 100 px of room; the
  // first strip sits at the negative offset.
  const auto scrolled = LayOutRows(10, true, 300, 40, {24, 144}, 74);
  EXPECT_EQ(scrolled.rows[0].top, -100);

  const auto none = LayOutRows(0, false, 300, 100, {24, 144}, 80);
  EXPECT_TRUE(none.rows.empty());
  EXPECT_EQ(none.thumb_top, 24);
}

TEST(RowsLayout, ScrollStepsStayOnTheTrack) {
  const ThumbTrack track{24, 144};
  EXPECT_EQ(client::ScrollThumb(ScrollCode::LineDown, 24, 104, track), 34);
  EXPECT_EQ(client::ScrollThumb(ScrollCode::LineUp, 30, 104, track), 24);
  EXPECT_EQ(client::ScrollThumb(ScrollCode::PageDown, 30, 104, track), 124);
  EXPECT_EQ(client::ScrollThumb(ScrollCode::PageDown, 120, 24, track), 124);
  EXPECT_EQ(client::ScrollThumb(ScrollCode::LineDown, 120, 104, track), 124);
  EXPECT_EQ(client::ScrollThumb(ScrollCode::PageUp, 100, 104, track), 24);
  // A track shorter than the thumb holds it at the top.
  EXPECT_EQ(client::ScrollThumb(ScrollCode::PageDown, 24, 104, {24, 30}), 24);
}

}  // namespace

namespace {

// What the rows may take of the client area: nothing of the info box, the
// two text lines at the bottom or the progression charts.
TEST(RowsLayout, TheRowsLeaveTheInfoBoxTheTextLinesAndTheChartsFree) {
  const client::FrameLayout frame = client::FrameLayout::ForWindowSize(400, 200);  // the first window
  const int w = frame.client_width, h = frame.client_height;
  const Rect text_lines = {0, client::StatusLine(w, h).top, w, h};
  auto overlaps = [](const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
  };
  const Rect rows = client::RowsArea(w, h, false);
  EXPECT_FALSE(overlaps(rows, frame.info_box));
  EXPECT_FALSE(overlaps(rows, text_lines));
  // One line of tiles fits whole in the first window.
  EXPECT_GE(rows.Height(), client::kTileHeight);
  EXPECT_EQ(rows.Width(), w);

  // The charts keep below the info box and above the text lines; the rows
  // get what is left above them, nothing in the first window.
  const auto charts = client::PlaceProgression(w, h);
  EXPECT_GE(charts.top, frame.info_box.bottom);
  EXPECT_LT(charts.baseline, text_lines.top);
  EXPECT_TRUE(client::RowsArea(w, h, true).IsEmpty());
  const Rect taller = client::RowsArea(w, h + 150, true);
  EXPECT_EQ(taller.top, frame.info_box.bottom);
  EXPECT_LT(taller.bottom, client::PlaceProgression(w, h + 150).top);
  EXPECT_GE(taller.Height(), client::kTileHeight);
}

}  // namespace
