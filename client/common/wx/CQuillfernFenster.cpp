#include "client/common/wx/CQuillfernFenster.h"

#include <wx/region.h>

CQuillfernFenster::CQuillfernFenster(platform::profile profile) : QuillfernFrameBase(std::move(profile)) {}

CQuillfernFenster::~CQuillfernFenster() {
  if (!GetHandle()) return;
  const wxRect r = GetRect();
  client::SaveWindowPosition(Profile(), {r.x, r.y, r.x + r.width, r.y + r.height});
}

bool CQuillfernFenster::Create(wxWindow* parent, const wxString& title, const wxPoint& pos, const wxSize& size) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  // Resizable: without it the toolkit pins the window's smallest and
  // largest size to its first size. The frame draws its own borders.
  const long style = wxBORDER_NONE | wxFRAME_SHAPED | wxCLIP_CHILDREN | wxFULL_REPAINT_ON_RESIZE | wxSYSTEM_MENU |
                     wxMINIMIZE_BOX | wxCLOSE_BOX | wxRESIZE_BORDER;
  if (!wxFrame::Create(parent, wxID_ANY, title, pos, size, style)) return false;
  // Never smaller than the frame around the smallest client area.
  SetMinSize(wxSize(client::kMinClientSize + client::kFrameLeft + client::kFrameRight,
                    client::kMinClientSize + client::kFrameTop + client::kFrameBottom));
  Model().title = title.ToStdWstring();
  Bind(wxEVT_ACTIVATE, [this](wxActivateEvent& event) {
    SetActive(event.GetActive());
    event.Skip();
  });
  InitFrame();
  return true;
}

void CQuillfernFenster::OnFrameResized() {
  const wxSize size = GetSize();
  wxRegion shape;
  for (const auto& r : client::RoundedRegionRects(size.x, size.y)) shape.Union(r.left, r.top, r.Width(), r.Height());
  SetShape(shape);
}
