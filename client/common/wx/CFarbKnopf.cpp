#include "client/common/wx/CFarbKnopf.h"

#include "client/common/wx/CMemDC.h"
#include "client/common/wx/wx_conversions.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

#include <algorithm>
#include <cstdlib>

CFarbKnopf::CFarbKnopf(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                       const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE) {
  SetLabel(label);
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  MakeBrushes();
  Bind(wxEVT_PAINT, &CFarbKnopf::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &CFarbKnopf::OnLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &CFarbKnopf::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &CFarbKnopf::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CFarbKnopf::OnCaptureLost, this);
  Bind(wxEVT_SYS_COLOUR_CHANGED, &CFarbKnopf::OnSysColourChanged, this);
  SetInitialSize(size);
}

void CFarbKnopf::SetColors(client::ColorRef button, client::ColorRef text) {
  m_color = button;
  m_textColor = text;
  MakeBrushes();
  Refresh();
}

void CFarbKnopf::SetStyle(int style, bool pointed) {
  m_style = style;
  m_pointed = pointed;
  Refresh();
}

wxSize CFarbKnopf::DoGetBestClientSize() const {
  const wxSize text = GetTextExtent(GetLabelText());
  return wxSize(std::max(text.x + 16, 24), std::max(text.y + 10, 24));
}

void CFarbKnopf::MakeBrushes() {
  m_pens = client::MakeColorButtonPens(m_color, m_textColor,
                                       client::FromWxColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  m_brushes.clear();
  for (client::ColorRef c :
       {m_pens.fill, m_pens.blend1, m_pens.blend2, m_pens.highlight, m_pens.shadow, m_pens.black, m_pens.text}) {
    if (std::none_of(m_brushes.begin(), m_brushes.end(), [c](const auto& b) { return b.first == c; }))
      m_brushes.emplace_back(c, wxBrush(client::ToWxColour(c)));
  }
}

const wxBrush& CFarbKnopf::BrushFor(client::ColorRef color) const {
  for (const auto& [c, brush] : m_brushes)
    if (c == color) return brush;
  return *wxBLACK_BRUSH;
}

void CFarbKnopf::OnPaint(wxPaintEvent&) {
  wxPaintDC target(this);
  target.SetBackground(wxBrush(GetParent() ? GetParent()->GetBackgroundColour() : GetBackgroundColour()));
  CMemDC dc(&target, true);
  const wxSize size = GetClientSize();
  const client::ColorButtonPicture picture = client::PaintColorButton(
      {size.x, size.y}, m_pens, m_style, m_pointed, m_pressed, GetLabel().ToStdWstring());

  dc.SetPen(*wxTRANSPARENT_PEN);
  auto strip = [&](int x, int y, int w, int h, client::ColorRef color) {
    dc.SetBrush(BrushFor(color));
    dc.DrawRectangle(x, y, w, h);
  };
  for (const auto& [r, color] : picture.outlines) {
    strip(r.left, r.top, r.Width(), 1, color);
    strip(r.left, r.bottom - 1, r.Width(), 1, color);
    strip(r.left, r.top, 1, r.Height(), color);
    strip(r.right - 1, r.top, 1, r.Height(), color);
  }
  dc.SetBrush(BrushFor(picture.fill_color));
  if (picture.fill_rect) dc.DrawRectangle(client::ToWxRect(*picture.fill_rect));
  if (!picture.fill_polygon.empty()) {
    std::vector<wxPoint> points;
    for (const auto& p : picture.fill_polygon) points.emplace_back(p.x, p.y);
    dc.DrawPolygon(int(points.size()), points.data());
  }
  for (const auto& line : picture.lines) {
    const int x0 = std::min(line.from.x, line.to.x), y0 = std::min(line.from.y, line.to.y);
    if (line.from.y == line.to.y) {
      strip(x0, y0, std::abs(line.to.x - line.from.x), 1, line.color);
    } else if (line.from.x == line.to.x) {
      strip(x0, y0, 1, std::abs(line.to.y - line.from.y), line.color);
    } else {
      dc.SetPen(wxPen(client::ToWxColour(line.color)));
      dc.DrawLine(line.from.x, line.from.y, line.to.x, line.to.y);
      dc.SetPen(*wxTRANSPARENT_PEN);
    }
  }
  if (picture.caption) {
    dc.SetFont(GetFont());
    dc.SetTextForeground(client::ToWxColour(picture.text_color));
    dc.DrawLabel(GetLabel(), client::ToWxRect(*picture.caption), wxALIGN_CENTER);
  }
}

void CFarbKnopf::OnLeftDown(wxMouseEvent& event) {
  m_pressed = true;
  if (!HasCapture()) CaptureMouse();
  Refresh();
  event.Skip();
}

void CFarbKnopf::OnLeftUp(wxMouseEvent& event) {
  const bool was_pressed = m_pressed;
  m_pressed = false;
  if (HasCapture()) ReleaseMouse();
  Refresh();
  event.Skip();
  if (was_pressed && GetClientRect().Contains(event.GetPosition())) {
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
  }
}

void CFarbKnopf::OnCaptureLost(wxMouseCaptureLostEvent&) {
  m_pressed = false;
  Refresh();
}

void CFarbKnopf::OnSysColourChanged(wxSysColourChangedEvent& event) {
  MakeBrushes();
  Refresh();
  event.Skip();
}
