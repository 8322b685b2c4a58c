#include "client/common/wx/wx_text_measurer.h"

#include <algorithm>

namespace client {

WxTextMeasurer::WxTextMeasurer(const wxFont& font) : m_bitmap(1, 1), m_dc(std::make_unique<wxMemoryDC>(m_bitmap)) {
  m_dc->SetFont(font);
}

int WxTextMeasurer::LineHeight() const { return m_dc->GetCharHeight(); }

int WxTextMeasurer::FittingCount(std::wstring_view text, int width) const {
  if (text.empty() || width <= 0) return 0;
  const wxString s(text.data(), text.size());
  wxArrayInt extents;
  if (!m_dc->GetPartialTextExtents(s, extents)) return 0;
  // extents[i] is the width of the first i + 1 characters.
  const auto fits = std::upper_bound(extents.begin(), extents.end(), width);
  return static_cast<int>(fits - extents.begin());
}

int WxTextMeasurer::TextWidth(std::wstring_view text) const {
  return m_dc->GetTextExtent(wxString(text.data(), text.size())).GetWidth();
}

}  // namespace client
