#pragma once
// Printing of pixel geometry, and a font for layout tests: every character 10 px wide but '.' (2 px) and
// ' ' (4 px); lines 16 px high.

#include "client/common/geometry.h"
#include "client/common/text_measurer.h"

#include <ostream>

namespace client {
inline void PrintTo(const Rect& r, std::ostream* os) {
  *os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
inline void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
inline void PrintTo(const Size& s, std::ostream* os) { *os << s.cx << "x" << s.cy; }
}  // namespace client

namespace client_test {

class FixedMeasurer : public client::TextMeasurer {
 public:
  static int CharWidth(wchar_t c) { return c == L'.' ? 2 : c == L' ' ? 4 : 10; }
  int TextWidth(std::wstring_view text) const override {
    int w = 0;
    for (wchar_t c : text) w += CharWidth(c);
    return w;
  }
  int FittingCount(std::wstring_view text, int width) const override {
    int n = 0;
    for (wchar_t c : text) {
      width -= CharWidth(c);
      if (width < 0) break;
      ++n;
    }
    return n;
  }
  int LineHeight() const override { return 16; }
};

}  // namespace client_test
