#include "client/common/wx/CMemDC.h"

#include <algorithm>
#include <cmath>

namespace {
wxRect AreaOf(wxDC* target, const wxRect* rect) {
  if (rect) return *rect;
  wxRect box;
  target->GetClippingBox(box);
  if (box.IsEmpty()) box = wxRect(target->DeviceToLogical(0, 0), target->DeviceToLogicalRel(target->GetSize()));
  return box;
}
}  // namespace

CMemDC::CMemDC(wxDC* target, bool fill, const wxRect* rect) : m_target(target), m_area(AreaOf(target, rect)) {
  double sx = 1, sy = 1;
  target->GetUserScale(&sx, &sy);
  const int width = std::max(1, int(std::ceil(m_area.width * sx)));
  const int height = std::max(1, int(std::ceil(m_area.height * sy)));
  m_bitmap.CreateWithDIPSize(wxSize(width, height), target->GetContentScaleFactor());
  SelectObject(m_bitmap);
  SetUserScale(sx, sy);
  SetLogicalOrigin(m_area.x, m_area.y);
  if (fill) {
    SetBackground(target->GetBackground());
    Clear();
  }
}

CMemDC::~CMemDC() {
  if (!m_area.IsEmpty())
    m_target->Blit(m_area.x, m_area.y, m_area.width, m_area.height, this, m_area.x, m_area.y);
  SelectObject(wxNullBitmap);
}
