#include "client/common/hint_layout.h"
#include "tests/client_common/layout_support.h"

#include <gtest/gtest.h>

using namespace client;
using Lines = std::vector<std::wstring>;

TEST(HintLayout, WrapsAtBlanksAndLineFeeds) {
  const client_test::FixedMeasurer m;
  // "abc def" is 64 px wide, "abc def ghi" 98.
  EXPECT_EQ(WrapWords(L"abc def ghi", 64, m), (Lines{L"abc def", L"ghi"}));
  EXPECT_EQ(WrapWords(L"abc def ghi", 63, m), (Lines{L"abc", L"def", L"ghi"}));
  EXPECT_EQ(WrapWords(L"abc def ghi", 200, m), (Lines{L"abc def ghi"}));
  // A word wider than the line keeps a line of its own, unbroken.
  EXPECT_EQ(WrapWords(L"a verylongword b", 50, m), (Lines{L"a", L"verylongword", L"b"}));
  // Blanks at a break vanish; line feeds always break, empty lines stay.
  EXPECT_EQ(WrapWords(L"abc   def", 40, m), (Lines{L"abc", L"def"}));
  EXPECT_EQ(WrapWords(L"one\r\n\ntwo three ", 200, m), (Lines{L"one", L"", L"two three"}));
  EXPECT_TRUE(WrapWords(L"", 100, m).empty());
  EXPECT_EQ(WrapWords(L"ab cd", 0, m), (Lines{L"ab", L"cd"}));

  EXPECT_EQ(TextBlockSize({L"abc def", L"ghi"}, m), (Size{64, 32}));
}

TEST(HintLayout, OpensBelowTheRectangleAndStaysOnTheScreen) {
  const Rect screen{0, 0, 1280, 1024};
  // 2 px right and down, the text plus 6 px each way.
  EXPECT_EQ(PlaceHint({100, 100, 300, 120}, {50, 16}, screen), (Rect{102, 102, 158, 124}));

  // Near the bottom-right corner: moved left to end at the right edge, and
  // put above the rectangle with 4 px between them.
  const Rect corner{1200, 1000, 1280, 1020};
  EXPECT_EQ(PlaceHint(corner, {150, 32}, screen), (Rect{1124, 958, 1280, 996}));
  // Just fitting at the bottom: still below.
  EXPECT_EQ(PlaceHint({0, 980, 40, 990}, {10, 36}, screen), (Rect{2, 982, 18, 1024}));

  // Wider than the screen or too tall for the room above: the beginning shows.
  EXPECT_EQ(PlaceHint({0, 1000, 40, 1010}, {1400, 1100}, screen).left, 0);
  EXPECT_EQ(PlaceHint({0, 1000, 40, 1010}, {1400, 1100}, screen).top, 0);
  // A screen not at the origin (a second monitor).
  EXPECT_EQ(PlaceHint({2400, 10, 2500, 30}, {500, 16}, {1280, 0, 2560, 1024}), (Rect{2054, 12, 2560, 34}));
}

TEST(HintLayout, LinesBreakAtTheRectangleWidth) {
  const client_test::FixedMeasurer m;
  const auto layout = LayOutHint(L"abc def ghi", {1215, 1000, 1279, 1010}, {0, 0, 1280, 1024}, m);
  EXPECT_EQ(layout.lines, (Lines{L"abc def", L"ghi"}));
  // 64 + 6 wide, 32 + 6 high; pushed left and above.
  EXPECT_EQ(layout.window, (Rect{1210, 958, 1280, 996}));
}
