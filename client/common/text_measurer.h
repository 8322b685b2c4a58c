#pragma once
// How a font measures text, for the logic objects that lay text out without
// knowing the toolkit that draws it.

#include <string_view>

namespace client {

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // Height of one line of text in pixels.
  virtual int LineHeight() const = 0;
  // How many leading characters of `text` fit in `width` pixels.
  virtual int FittingCount(std::wstring_view text, int width) const = 0;
  // Width of `text` in pixels.
  virtual int TextWidth(std::wstring_view text) const = 0;
};

}  // namespace client
