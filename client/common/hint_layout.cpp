#include "client/common/hint_layout.h"

#include <algorithm>

namespace client {

namespace {

constexpr int kAnchorShift = 2;
constexpr int kGapAbove = 4;

void WrapParagraph(std::wstring_view text, int width, const TextMeasurer& measure,
                   std::vector<std::wstring>& out) {
  std::wstring line;
  bool line_has_word = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t word_start = std::min(text.find_first_not_of(L' ', pos), text.size());
    if (word_start == text.size()) break;  // blanks at the end show nothing
    const std::size_t word_end = std::min(text.find(L' ', word_start), text.size());
    const std::wstring_view blanks = text.substr(pos, word_start - pos);
    const std::wstring_view word = text.substr(word_start, word_end - word_start);
    std::wstring longer = line;
    longer.append(blanks).append(word);
    if (line_has_word && measure.TextWidth(longer) > width) {
      out.push_back(std::move(line));
      line.assign(word);
    } else {
      line = std::move(longer);
    }
    line_has_word = true;
    pos = word_end;
  }
  out.push_back(std::move(line));
}

}  // namespace

std::vector<std::wstring> WrapWords(std::wstring_view text, int width, const TextMeasurer& measure) {
  std::vector<std::wstring> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t feed = text.find(L'\n', start);
    std::wstring_view paragraph = text.substr(start, feed == std::wstring_view::npos ? text.npos : feed - start);
    if (!paragraph.empty() && paragraph.back() == L'\r') paragraph.remove_suffix(1);
    WrapParagraph(paragraph, width, measure, lines);
    if (feed == std::wstring_view::npos) break;
    start = feed + 1;
  }
  return lines;
}

Size TextBlockSize(const std::vector<std::wstring>& lines, const TextMeasurer& measure) {
  Size size;
  for (const auto& line : lines) size.cx = std::max(size.cx, measure.TextWidth(line));
  size.cy = int(lines.size()) * measure.LineHeight();
  return size;
}

Rect PlaceHint(Rect anchor, Size text, Rect screen) {
  const Rect shifted = anchor.Offset(kAnchorShift, kAnchorShift);
  Rect window = Rect::FromSize(shifted.left, shifted.top, text.cx + kHintPadding, text.cy + kHintPadding);
  if (window.right > screen.right) window = window.Offset(screen.right - window.right, 0);
  if (window.bottom > screen.bottom) window = window.Offset(0, anchor.top - kGapAbove - window.bottom);
  // A hint too wide or too tall for its place shows its beginning.
  if (window.left < screen.left) window = window.Offset(screen.left - window.left, 0);
  if (window.top < screen.top) window = window.Offset(0, screen.top - window.top);
  return window;
}

HintLayout LayOutHint(std::wstring_view text, Rect anchor, Rect screen, const TextMeasurer& measure) {
  HintLayout layout;
  layout.lines = WrapWords(text, anchor.Width(), measure);
  layout.window = PlaceHint(anchor, TextBlockSize(layout.lines, measure), screen);
  return layout;
}

}  // namespace client
