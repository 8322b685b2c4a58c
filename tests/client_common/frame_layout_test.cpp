#include "client/common/frame_layout.h"
#include "client/common/frame_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace client;

TEST(FrameLayout, FrameAroundTheClientArea) {
  // A 400 x 200 window: 372 x 167 client area.
  const auto l = FrameLayout::ForWindowSize(400, 200);
  EXPECT_EQ(l.client_width, 372);
  EXPECT_EQ(l.client_height, 167);
  EXPECT_EQ(l.client, (Rect{9, 24, 381, 191}));
  EXPECT_EQ(l.scroll_track, (Rect{381, 24, 391, 191}));
  EXPECT_EQ(l.close_button, (Rect{373, 8, 389, 24}));
  EXPECT_EQ(l.minimise_button, (Rect{357, 8, 373, 24}));
  EXPECT_EQ(l.caption, (Rect{16, 8, 357, 24}));
  // 140 x 28, 8 px in from the client area's top-right corner.
  EXPECT_EQ(l.info_box, (Rect{224, 8, 364, 36}));
  EXPECT_EQ(FrameLayout::ForClientSize(372, 167).window, (Rect{0, 0, 400, 200}));

  // Too small a window keeps an 8 x 8 client area.
  const auto tiny = FrameLayout::ForWindowSize(20, 30);
  EXPECT_EQ(tiny.client, (Rect{9, 24, 17, 32}));
  EXPECT_EQ(tiny.window, (Rect{0, 0, 20, 30}));
}

TEST(FrameLayout, ThumbStaysOnItsTrack) {
  const auto l = FrameLayout::ForWindowSize(400, 200);  // track 24..191
  EXPECT_EQ(l.ClampThumbTop(-50), 24);
  EXPECT_EQ(l.ClampThumbTop(100), 100);
  EXPECT_EQ(l.ClampThumbTop(10000), 171);
  EXPECT_EQ(l.ThumbAt(10000), (Rect{381, 171, 391, 191}));

  FrameModel model;
  model.thumb_top = 500;
  model.ResizeWindow(400, 200);
  EXPECT_EQ(model.thumb_top, 171);
  EXPECT_EQ(model.Width(), 372);
}

TEST(FrameLayout, HitTests) {
  const auto l = FrameLayout::ForWindowSize(400, 200);
  const int thumb = 100;  // thumb 381..391 x 100..120
  auto hit = [&](int x, int y, bool drag = false) { return HitTestFrame(l, thumb, {x, y}, drag); };
  EXPECT_EQ(hit(386, 110), FrameHit::VScroll);
  EXPECT_EQ(hit(381, 110), FrameHit::Client) << "edges of the thumb are not inside";
  EXPECT_EQ(hit(200, 100, true), FrameHit::VScroll) << "a drag holds the thumb";
  EXPECT_EQ(hit(381, 16), FrameHit::Close);
  EXPECT_EQ(hit(365, 16), FrameHit::MinButton);
  EXPECT_EQ(hit(373, 16), FrameHit::Caption) << "the line between the buttons";
  EXPECT_EQ(hit(3, 3), FrameHit::TopLeft);
  EXPECT_EQ(hit(3, 100), FrameHit::Left);
  EXPECT_EQ(hit(3, 195), FrameHit::BottomLeft);
  EXPECT_EQ(hit(396, 3), FrameHit::TopRight);
  EXPECT_EQ(hit(396, 100), FrameHit::Right);
  EXPECT_EQ(hit(396, 199), FrameHit::BottomRight);
  EXPECT_EQ(hit(200, 7), FrameHit::Top);
  EXPECT_EQ(hit(200, 8), FrameHit::Caption);
  EXPECT_EQ(hit(200, 193), FrameHit::Bottom);
  EXPECT_EQ(hit(200, 192), FrameHit::Client);
  EXPECT_EQ(hit(200, 23), FrameHit::Caption);
  EXPECT_EQ(hit(200, 24), FrameHit::Client);
  EXPECT_EQ(hit(8, 100), FrameHit::Client);
  EXPECT_EQ(hit(392, 100), FrameHit::Client);
  EXPECT_EQ(hit(393, 100), FrameHit::Right);
}

TEST(FrameLayout, BevelOutlinesAndStrokes) {
  const Rect window{0, 0, 400, 200};
  const auto outer = BevelOutline(window, 0);
  EXPECT_EQ(outer.corners[0], (Arc{{0, 0, 24, 24}, 90, 180}));
  EXPECT_EQ(outer.corners[2], (Arc{{376, 176, 400, 200}, 270, 360}));
  EXPECT_EQ(outer.edges[0], (Segment{{12, 0}, {388, 0}}));
  const auto inner = BevelOutline(window, 7);
  EXPECT_EQ(inner.corners[1], (Arc{{369, 7, 393, 31}, 0, 90}));
  EXPECT_EQ(inner.edges[1], (Segment{{393, 19}, {393, 181}}));
  EXPECT_EQ(inner.edges[3], (Segment{{7, 181}, {7, 19}}));

  const Rect close{373, 8, 389, 24};
  EXPECT_EQ(CloseGlyph(close)[0], (Segment{{378, 13}, {383, 18}}));
  EXPECT_EQ(CloseGlyph(close)[1], (Segment{{378, 18}, {383, 13}}));
  EXPECT_EQ(MinimiseGlyph(close), (Segment{{378, 18}, {383, 18}}));
  const auto edges = InnerEdgeLines(window);
  EXPECT_EQ(edges[1], (std::vector<Point>{{13, 192}, {387, 192}, {392, 187}, {392, 13}}));
}

TEST(FrameLayout, RoundedShapeCoversTheWindowButTheCorners) {
  const int w = 100, h = 60;
  const auto rects = RoundedRegionRects(w, h);
  auto inside = [&](int x, int y) {
    for (const auto& r : rects)
      if (r.Contains({x, y})) return true;
    return false;
  };
  EXPECT_FALSE(inside(0, 0));
  EXPECT_FALSE(inside(99, 59));
  EXPECT_FALSE(inside(2, 2));
  EXPECT_TRUE(inside(4, 4));
  EXPECT_TRUE(inside(0, 12));
  EXPECT_TRUE(inside(12, 0));
  EXPECT_TRUE(inside(99, 30));
  EXPECT_TRUE(inside(50, 59));
  // Symmetric left to right and top to bottom.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(inside(x, y), inside(w - 1 - x, y)) << x << "," << y;
      ASSERT_EQ(inside(x, y), inside(x, h - 1 - y)) << x << "," << y;
    }
  // A window smaller than two corners is still one piece without holes.
  const auto small = RoundedRegionRects(10, 6);
  ASSERT_FALSE(small.empty());
  EXPECT_TRUE(RoundedRegionRects(0, 5).empty());
}

TEST(FrameTexts, StatusLineSplitsAtPeeInWideWindows) {
  const std::wstring status = L"Down 12 kB/s Up 3 kB/s Peers 4 (DHT 80)";
  const Rect line = StatusLine(425, 100);
  EXPECT_EQ(line, (Rect{8, 70, 425, 85}));
  EXPECT_EQ(NoticeLine(425, 100), (Rect{8, 85, 425, 100}));

  const auto wide = StatusLinePlacements(status, line, 425);
  ASSERT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide[0], (TextPlacement{L"Down 12 kB/s Up 3 kB/s ", {8, 70, 219, 85}, TextAlign::Right}));
  EXPECT_EQ(wide[1], (TextPlacement{L"Peers 4 (DHT 80)", {8, 70, 385, 85}, TextAlign::Right}));

  const auto narrow = StatusLinePlacements(status, StatusLine(424, 100), 424);
  ASSERT_EQ(narrow.size(), 1u);
  EXPECT_EQ(narrow[0], (TextPlacement{status, {8, 70, 424, 85}, TextAlign::Left}));

  const auto without = StatusLinePlacements(L"Velmorathine", line, 600);
  ASSERT_EQ(without.size(), 1u);
  EXPECT_EQ(without[0].align, TextAlign::Left);

  // Only the first "Pee" splits; a leading one leaves the left part empty.
  const auto twice = StatusLinePlacements(L"Peers 2 Peeks", line, 500);
  EXPECT_EQ(twice[0].text, L"");
  EXPECT_EQ(twice[1].text, L"Peers 2 Peeks");
  // The line holds one line of text.
  EXPECT_EQ(StatusLinePlacements(L"a\r\nb", line, 100)[0].text, L"a  b");
}

TEST(FrameTexts, InitialTextsAndLines) {
  FrameModel model;
  EXPECT_EQ(model.status_line, L"Velmorathine");
  EXPECT_EQ(model.title, L"Quillfern");
  EXPECT_FALSE(model.notice_text.empty());
  EXPECT_EQ(model.info_text, L"Version 1, 3, 0, 55\r\nquillfern.example.org");
  EXPECT_EQ(model.Width(), 200);
  EXPECT_EQ(model.Height(), 100);
  EXPECT_EQ(SplitLines(model.info_text),
            (std::vector<std::wstring>{L"Version 1, 3, 0, 55", L"quillfern.example.org"}));
  EXPECT_EQ(SplitLines(L"a\nb\r\n"), (std::vector<std::wstring>{L"a", L"b", L""}));

  model.mouse_over_info = true;
  model.SetActive(false);
  EXPECT_FALSE(model.mouse_over_info);

  // The notice box stays within the bottom line's lower edge.
  EXPECT_EQ(NoticeBox({8, 85, 60, 100}, NoticeLine(200, 100)), (Rect{5, 83, 63, 100}));
  EXPECT_EQ(NoticeBox({8, 85, 60, 98}, NoticeLine(200, 100)), (Rect{5, 84, 63, 99}));
}

TEST(FrameTexts, WindowPositionIsKeptOnlyWhenOnScreen) {
  const auto file = std::filesystem::temp_directory_path() / ("qf_frame_pos_" + std::to_string(::getpid()) + ".ini");
  std::filesystem::remove(file);
  platform::profile profile(file);
  EXPECT_TRUE(SaveWindowPosition(profile, {0, 0, 300, 200}));
  EXPECT_TRUE(SaveWindowPosition(profile, {10, 20, 310, 220}));
  EXPECT_FALSE(SaveWindowPosition(profile, {-4, 20, 296, 220}));
  EXPECT_FALSE(SaveWindowPosition(profile, {10, -1, 310, 199}));
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Left", -99), 10);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Top", -99), 20);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Right", -99), 310);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Bottom", -99), 220);
  std::filesystem::remove(file);
}
