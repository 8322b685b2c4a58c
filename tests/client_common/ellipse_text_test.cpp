#include "client/common/CEllipsenText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// A font whose every character is `char_width` px wide, or one that fits
// exactly `fixed` characters on any line when `fixed` is set.
class GridFont : public client::TextMeasurer {
 public:
  GridFont(int line_height, int char_width, int fixed = 0)
      : m_lineHeight(line_height), m_charWidth(char_width), m_fixed(fixed) {}
  int LineHeight() const override { return m_lineHeight; }
  int FittingCount(std::wstring_view text, int width) const override {
    const int n = m_fixed ? m_fixed : width / m_charWidth;
    return std::min<int>(n, text.size());
  }
  int TextWidth(std::wstring_view text) const override { return int(text.size()) * m_charWidth; }

 private:
  int m_lineHeight, m_charWidth, m_fixed;
};

std::vector<std::wstring> Texts(const CEllipsenText& e) {
  std::vector<std::wstring> out;
  for (const auto& line : e.Lines()) out.push_back(line.text);
  return out;
}

// The non-empty lines, in order, and whether they follow each other.
std::vector<std::wstring> Shown(const CEllipsenText& e, bool* adjacent = nullptr) {
  std::vector<std::wstring> out;
  int first = -1, last = -1;
  for (int i = 0; i < e.LineCount(); ++i) {
    if (e.Lines()[i].text.empty()) continue;
    if (first < 0) first = i;
    last = i;
    out.push_back(e.Lines()[i].text);
  }
  if (adjacent) *adjacent = last - first + 1 == int(out.size());
  return out;
}

// Four lines, all wider than a pixel, five characters to each.
CEllipsenText FourLinesOfFive() {
  CEllipsenText e;
  e.Layout(0, 0, 200, 45, std::make_shared<GridFont>(10, 1, 5));
  return e;
}

}  // namespace

TEST(EllipseText, LinesFollowTheEllipseAndStayInsideIt) {
  CEllipsenText e;
  e.Layout(10, 20, 110, 48, std::make_shared<GridFont>(15, 7));
  // 48 / 15 = 3 lines, the spare 3 px halved above them.
  ASSERT_EQ(e.LineCount(), 3);
  EXPECT_EQ(e.Lines()[0].rect.top, 21);
  EXPECT_EQ(e.Lines()[2].rect.bottom, 66);
  // The middle line is the widest; the outer two are alike (top / bottom edge).
  EXPECT_GT(e.Lines()[1].rect.Width(), e.Lines()[0].rect.Width());
  EXPECT_NEAR(e.Lines()[0].rect.Width(), e.Lines()[2].rect.Width(), 12);
  for (const auto& line : e.Lines()) {
    EXPECT_NEAR(line.rect.left + line.rect.right, 2 * (10 + 55), 1);  // centred
    EXPECT_EQ(line.shadow.left, line.rect.left + 1);
    EXPECT_EQ(line.shadow.bottom, line.rect.bottom + 1);
  }
  // No room for a line: none; a negative height counts as none.
  e.Layout(0, 0, 100, 14, std::make_shared<GridFont>(15, 7));
  EXPECT_EQ(e.LineCount(), 0);
  e.Layout(0, 0, 100, -30, std::make_shared<GridFont>(15, 7));
  EXPECT_EQ(e.LineCount(), 0);
}

TEST(EllipseText, OddHeightsGiveNoNaNChords) {
  // A line edge can lie just outside an ellipse of odd height (33 px, half
  // axis 16, last line bottom at 33); its chord is 0, not NaN.
  for (int line_height : {1, 3, 7, 11, 15})
    for (int height = 1; height <= 81; ++height)
      for (int width : {0, 1, 9, 110}) {
        CEllipsenText e;
        e.Layout(5, 5, width, height, std::make_shared<GridFont>(line_height, 1));
        for (const auto& line : e.Lines()) {
          EXPECT_LE(line.rect.left, line.rect.right) << height;
          EXPECT_GE(line.rect.left, 4) << height;
          EXPECT_LE(line.rect.right, 5 + width) << height;
        }
      }
}

TEST(EllipseText, BreaksAfterABlankBeyondHalfTheFittingPart) {
  CEllipsenText e = FourLinesOfFive();
  e.SetText(L"abc def");
  bool adjacent = false;
  EXPECT_EQ(Shown(e, &adjacent), (std::vector<std::wstring>{L"abc", L"def"}));
  EXPECT_TRUE(adjacent);

  // The only break character in the first half: cut at the fitting count.
  e.SetText(L"a bcdefgh");
  EXPECT_EQ(Shown(e), (std::vector<std::wstring>{L"a bcd", L"efgh"}));

  // The list order decides: a blank in the first half wins over a later
  // '.', so the line is cut at the fitting count.
  e.Layout(0, 0, 200, 45, std::make_shared<GridFont>(10, 1, 8));
  e.SetText(L"a bcd.efgh");
  EXPECT_EQ(Shown(e), (std::vector<std::wstring>{L"a bcd.ef", L"gh"}));
  // Without a blank the last '.' is used.
  e.SetText(L"ab.cd.efgh");
  EXPECT_EQ(Shown(e), (std::vector<std::wstring>{L"ab.cd.", L"efgh"}));
  // Blanks around the cut are trimmed.
  e.SetText(L"abcdef    gh");
  EXPECT_EQ(Shown(e), (std::vector<std::wstring>{L"abcdef", L"gh"}));
}

TEST(EllipseText, AShortTextMovesTowardsTheMiddle) {
  CEllipsenText e;
  e.Layout(0, 0, 300, 85, std::make_shared<GridFont>(10, 1, 5));  // 8 lines
  ASSERT_EQ(e.LineCount(), 8);
  e.SetText(L"abc");
  // 7 lines left empty below: moved down by 3.
  EXPECT_EQ(Texts(e)[3], L"abc");
  e.SetText(L"abcde fghij");
  // 6 empty below: down 3, within the upper half of the lines.
  EXPECT_EQ(Texts(e)[3], L"abcde");
  EXPECT_EQ(Texts(e)[4], L"fghij");
  e.SetText(L"");
  EXPECT_EQ(Shown(e), std::vector<std::wstring>{});
}

TEST(EllipseText, ALowerStartThatWouldLoseTextKeepsTheTextWhole) {
  // Five lines holding 5, 12, 14, 12 and 5 characters of 8 px.
  CEllipsenText e;
  e.Layout(0, 0, 120, 55, std::make_shared<GridFont>(10, 8));
  std::vector<int> fits;
  for (const auto& line : e.Lines()) fits.push_back(line.rect.Width() / 8);
  ASSERT_EQ(fits, (std::vector<int>{5, 12, 14, 12, 5}));
  // The text fills lines 0..3; one line down its words break worse and the
  // last line could not take the rest, so it stays where it is.
  const std::wstring a(5, L'a'), b(12, L'b'), c(14, L'c'), d(12, L'd');
  e.SetText(a + L" " + b + L" " + c + L" " + d);
  EXPECT_EQ(Texts(e), (std::vector<std::wstring>{a, b, c, d, L""}));
}

TEST(EllipseText, TextBeforeLayoutAndOverflow) {
  CEllipsenText e;
  e.SetText(L"kept until there are lines");
  EXPECT_EQ(e.LineCount(), 0);
  e.Layout(0, 0, 200, 45, std::make_shared<GridFont>(10, 1, 5));
  EXPECT_EQ(Shown(e).front(), L"kept");
  // More text than lines: the rest is dropped, nothing is appended.
  e.SetText(L"aaaaabbbbbcccccdddddeeeee");
  EXPECT_EQ(Texts(e), (std::vector<std::wstring>{L"aaaaa", L"bbbbb", L"ccccc", L"ddddd"}));
}
