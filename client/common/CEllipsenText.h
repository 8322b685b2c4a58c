#pragma once
// A text wrapped into an elliptic area. The area is cut into as many lines
// of the font's height as fit; each line is as wide as the ellipse at the
// line's edge farther from the middle, so the text stays inside the
// ellipse. The text is broken into the lines preferably after a blank or a
// punctuation character, and a short text is moved down towards the middle.
// Drawing is the owner's: each line's text centred in its rectangle.

#include "client/common/geometry.h"
#include "client/common/text_measurer.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CEllipsenText {
 public:
  struct Line {
    client::Rect rect;
    client::Rect shadow;  // rect moved right and down by the shadow offset
    std::wstring text;
  };

  // Where a line may be broken, in order of preference.
  static constexpr std::wstring_view kBreakCharacters = L" \\.()[]{}-+!_";
  static constexpr int kShadowOffset = 1;

  CEllipsenText() = default;
  virtual ~CEllipsenText() = default;

  // Cuts the area into lines measured with `font` (kept for later texts) and
  // distributes the text over them again.
  void Layout(int x, int y, int width, int height, std::shared_ptr<const client::TextMeasurer> font);
  // Stores the text and distributes it over the lines.
  void SetText(std::wstring text);

  const std::wstring& Text() const { return m_text; }
  const std::vector<Line>& Lines() const { return m_lines; }
  int LineCount() const { return static_cast<int>(m_lines.size()); }

 private:
  struct Spread {
    bool left_over = false;  // text remained when the lines ran out
    int empty_below = 0;     // lines left empty after the text ended
  };
  Spread Distribute(int first_line);

  std::wstring m_text;
  std::vector<Line> m_lines;
  std::shared_ptr<const client::TextMeasurer> m_font;
};
