#include "client/common/wx/CMemDC.h"

namespace {
wxRect AreaOf(wxDC* target, const wxRect* rect) {
  if (rect) return *rect;
  return wxRect(wxPoint(0, 0), target->GetSize());
}
}  // namespace

CMemDC::CMemDC(wxDC* target, bool fill, const wxRect* rect)
    : wxBufferedDC(target, AreaOf(target, rect).GetSize()) {
  const wxRect area = AreaOf(target, rect);
  SetDeviceOrigin(-area.x, -area.y);
  if (fill) {
    SetBackground(target->GetBackground());
    Clear();
  }
}
