#include "client/common/color_button.h"
#include "tests/client_common/layout_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace client;

TEST(ColorButton, PensBlendWithTheFaceAndStepWithinTheChannelRange) {
  // Default button colour: red 0xC0, green and blue 0x40; a face of 240 grey.
  const auto pens = MakeColorButtonPens(kDefaultButtonColor, kDefaultButtonTextColor, ToColorRef(240, 240, 240));
  EXPECT_EQ(pens.fill, kDefaultButtonColor);
  // 0.3333 * 192 + 0.6666 * 240 = 223.97 -> 223; 0.3333 * 64 + 0.6666 * 240 = 181.3.
  EXPECT_EQ(pens.blend1, ToColorRef(223, 181, 181));
  // 0.6666 * 192 + 0.3333 * 240 = 207.98; 0.6666 * 64 + 0.3333 * 240 = 122.6.
  EXPECT_EQ(pens.blend2, ToColorRef(207, 122, 122));
  EXPECT_EQ(pens.highlight, ToColorRef(255, 154, 154));  // 192 + 90 capped
  EXPECT_EQ(pens.shadow, ToColorRef(142, 14, 14));
  EXPECT_EQ(pens.text, ToColorRef(255, 255, 255));

  // The two shares add up to 0.9999: white on white stays just below white.
  const auto white = MakeColorButtonPens(ToColorRef(255, 255, 255), 0, ToColorRef(255, 255, 255));
  EXPECT_EQ(white.blend1, ToColorRef(254, 254, 254));
  EXPECT_EQ(white.blend2, ToColorRef(254, 254, 254));
  EXPECT_EQ(white.highlight, ToColorRef(255, 255, 255));

  const auto dark = MakeColorButtonPens(ToColorRef(20, 49, 50), 0, 0);
  EXPECT_EQ(dark.shadow, ToColorRef(0, 0, 0));  // floored at 0
  EXPECT_EQ(dark.highlight, ToColorRef(110, 139, 140));
}

TEST(ColorButton, AutomaticTextColourFollowsTheTopBitOfEachChannel) {
  EXPECT_EQ(ButtonTextColor(kDefaultButtonColor, kAutomaticTextColor), 0u);  // red 0xC0: black
  EXPECT_EQ(ButtonTextColor(ToColorRef(0x7F, 0x7F, 0x7F), kAutomaticTextColor), ToColorRef(255, 255, 255));
  EXPECT_EQ(ButtonTextColor(ToColorRef(0, 0, 0x80), 0x01000000), 0u);  // anything above 0xFFFFFF
  EXPECT_EQ(ButtonTextColor(ToColorRef(0, 0, 0x80), 0x00FFFFFF), 0x00FFFFFFu);
  EXPECT_EQ(ButtonTextColor(ToColorRef(0, 0, 0x80), 0x123456), 0x123456u);
}

TEST(ColorButton, PressedBevelTurnsOverAndTheContentsMove) {
  const auto pens = MakeColorButtonPens(kDefaultButtonColor, kAutomaticTextColor, ToColorRef(240, 240, 240));
  const auto up = PaintColorButton({60, 24}, pens, 1, true, false, L"Go");
  const auto down = PaintColorButton({60, 24}, pens, 1, true, true, L"Go");

  ASSERT_EQ(up.outlines.size(), 3u);
  EXPECT_EQ(up.outlines[0], std::make_pair(Rect{0, 0, 60, 24}, pens.blend1));
  EXPECT_EQ(up.outlines[2], std::make_pair(Rect{2, 2, 58, 22}, pens.fill));
  EXPECT_EQ(up.fill_rect, (Rect{3, 3, 57, 21}));
  EXPECT_EQ(up.fill_color, kDefaultButtonColor);

  // The top edge of the bevel: highlight raised, black pressed; the bottom
  // edge the other way round.
  auto at = [](const ColorButtonPicture& p, Point from, Point to) {
    auto it = std::find_if(p.lines.begin(), p.lines.end(),
                           [&](const ColorButtonLine& l) { return l.from == from && l.to == to; });
    return it == p.lines.end() ? 0xFFFFFFFFu : it->color;
  };
  EXPECT_EQ(at(up, {3, 3}, {56, 3}), pens.highlight);
  EXPECT_EQ(at(up, {3, 20}, {57, 20}), pens.black);
  EXPECT_EQ(at(down, {3, 3}, {57, 3}), pens.black);
  EXPECT_EQ(at(down, {4, 20}, {57, 20}), pens.highlight);

  EXPECT_EQ(up.caption, (Rect{4, 4, 56, 20}));
  EXPECT_EQ(down.caption, (Rect{5, 5, 57, 21}));
  EXPECT_EQ(up.text_color, 0u);
}

TEST(ColorButton, PlusAndMinusAreStrokesAndOtherStylesShowOnlyTheCaption) {
  const auto pens = MakeColorButtonPens(ToColorRef(0, 0, 0x40), kAutomaticTextColor, 0);
  const auto plain = PaintColorButton({24, 24}, pens, 1, true, false, L"");
  const auto plus = PaintColorButton({24, 24}, pens, 1, true, false, L"+");
  const auto minus = PaintColorButton({24, 24}, pens, 1, true, false, L"-");
  EXPECT_FALSE(plus.caption);
  EXPECT_FALSE(plain.caption);
  // Two strokes across for "-", two more down for "+", in the text colour.
  ASSERT_EQ(minus.lines.size(), plain.lines.size() + 2);
  ASSERT_EQ(plus.lines.size(), plain.lines.size() + 4);
  for (std::size_t i = plain.lines.size(); i < plus.lines.size(); ++i)
    EXPECT_EQ(plus.lines[i].color, ToColorRef(255, 255, 255));
  // Centred: the caption box is 4..20, so the strokes cross at 11/12.
  EXPECT_EQ(minus.lines[plain.lines.size()].from, (Point{8, 11}));
  EXPECT_EQ(minus.lines[plain.lines.size()].to, (Point{16, 11}));

  const auto pointed = PaintColorButton({60, 20}, pens, 2, true, false, L"Go");
  ASSERT_EQ(pointed.fill_polygon.size(), 5u);
  EXPECT_EQ(pointed.fill_polygon[2], (Point{59, 9}));  // the point, in the middle of the right edge
  EXPECT_FALSE(pointed.fill_rect);

  for (const auto& caption_only : {PaintColorButton({60, 20}, pens, 2, false, false, L"Go"),
                                   PaintColorButton({60, 20}, pens, 0, true, false, L"Go")}) {
    EXPECT_TRUE(caption_only.outlines.empty());
    EXPECT_TRUE(caption_only.lines.empty());
    EXPECT_FALSE(caption_only.fill_rect);
    EXPECT_TRUE(caption_only.fill_polygon.empty());
    EXPECT_EQ(caption_only.caption, (Rect{0, 0, 60, 20}));
  }
}
