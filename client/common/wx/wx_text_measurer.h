#pragma once
// TextMeasurer for a wx font, measured on a small memory bitmap so it works
// before any window exists.

#include "client/common/text_measurer.h"

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/font.h>

#include <memory>

namespace client {

class WxTextMeasurer : public TextMeasurer {
 public:
  explicit WxTextMeasurer(const wxFont& font);

  int LineHeight() const override;
  int FittingCount(std::wstring_view text, int width) const override;
  int TextWidth(std::wstring_view text) const override;

 private:
  wxBitmap m_bitmap;
  std::unique_ptr<wxMemoryDC> m_dc;
};

}  // namespace client
