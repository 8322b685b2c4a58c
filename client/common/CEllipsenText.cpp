#include "client/common/CEllipsenText.h"

#include <algorithm>
#include <cmath>

namespace {

// Half the width of an ellipse with half axes a and b at distance `down`
// from its top. The cosine is kept within [-1, 1]: a line edge may lie a
// little outside the ellipse (integer half axes of odd sizes), and acos
// would give NaN there.
double HalfChord(int a, int b, int down) {
  if (b <= 0) return 0;
  double c = double(b - down) / b;
  c = std::clamp(c, -1.0, 1.0);
  return a * std::sin(std::acos(c));
}

std::wstring_view Trimmed(std::wstring_view s) {
  constexpr std::wstring_view kBlanks = L" \t\r\n";
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::wstring_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// Where a line holding the `fit` leading characters of a longer text ends:
// after the last occurrence of the first break character (in order of the
// list) that occurs in them, when that lies beyond half of them; else after
// all of them.
std::size_t CutPosition(std::wstring_view fitting) {
  for (wchar_t c : CEllipsenText::kBreakCharacters) {
    const auto at = fitting.rfind(c);
    if (at == std::wstring_view::npos) continue;
    return at > fitting.size() / 2 ? at + 1 : fitting.size();
  }
  return fitting.size();
}

}  // namespace

void CEllipsenText::Layout(int x, int y, int width, int height,
                           std::shared_ptr<const client::TextMeasurer> font) {
  m_font = std::move(font);
  m_lines.clear();
  const int line_height = m_font ? m_font->LineHeight() : 0;
  if (line_height > 0 && height > 0) {
    const int count = height / line_height;
    const int a = width / 2, b = height / 2;
    int down = (height - count * line_height) / 2;
    for (int i = 0; i < count; ++i, down += line_height) {
      // The narrower edge: the top in the upper half, the bottom below it.
      const double half = HalfChord(a, b, down < b ? down : down + line_height);
      Line line;
      line.rect = {static_cast<int>(x + a - half), y + down, static_cast<int>(x + a + half), y + down + line_height};
      line.shadow = {line.rect.left + kShadowOffset, line.rect.top + kShadowOffset,
                     line.rect.right + kShadowOffset, line.rect.bottom + kShadowOffset};
      m_lines.push_back(std::move(line));
    }
  }
  SetText(std::move(m_text));
}

void CEllipsenText::SetText(std::wstring text) {
  m_text = std::move(text);
  Spread spread = Distribute(0);
  if (m_text.empty() || spread.left_over) return;
  // Move a short text down towards the middle while that gains lines and
  // keeps it in the upper half of the lines.
  int start = 0;
  for (;;) {
    const int k = spread.empty_below == 1 ? 1 : spread.empty_below / 2;
    if (k <= start || k > LineCount() / 2) break;
    const Spread lower = Distribute(k);
    if (lower.left_over) {
      // The lower lines are narrower: keep the text whole where it was.
      Distribute(start);
      break;
    }
    start = k;
    spread = lower;
  }
}

CEllipsenText::Spread CEllipsenText::Distribute(int first_line) {
  for (Line& line : m_lines) line.text.clear();
  Spread spread;
  if (m_text.empty()) return spread;
  std::wstring_view rest = m_text;
  int line_index = first_line;
  for (; line_index < LineCount() && !rest.empty(); ++line_index) {
    Line& line = m_lines[line_index];
    const int width = line.rect.Width();
    if (width < 1) continue;
    const int fits = std::clamp(m_font->FittingCount(rest, width), 0, static_cast<int>(rest.size()));
    if (static_cast<std::size_t>(fits) == rest.size()) {
      line.text = rest;
      rest = {};
    } else {
      const std::size_t cut = CutPosition(rest.substr(0, fits));
      line.text = Trimmed(rest.substr(0, cut));
      rest = Trimmed(rest.substr(cut));
    }
  }
  spread.left_over = !rest.empty();
  spread.empty_below = LineCount() - line_index;
  return spread;
}
