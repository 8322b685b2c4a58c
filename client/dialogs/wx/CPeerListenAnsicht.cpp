#include "client/dialogs/wx/CPeerListenAnsicht.h"

#include "client/common/wx/wx_conversions.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>
#include <wx/settings.h>

#include <algorithm>

namespace {

// Room between a cell's edges and its text.
constexpr int kCellPadding = 4;
// How near a divider the pointer must be to drag it.
constexpr int kDividerSlack = 3;

wxFont ListFont(wxFontWeight weight) {
  wxFont font(wxFontInfo(wxSize(0, 14)).Family(wxFONTFAMILY_SWISS).FaceName("Arial"));
  if (!font.IsOk()) font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetWeight(weight);
  return font;
}

}  // namespace

CPeerListenAnsicht::CPeerListenAnsicht(wxWindow* parent, wxWindowID id, client::PeersModel& model)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_SUNKEN),
      m_model(model),
      m_font(ListFont(wxFONTWEIGHT_NORMAL)),
      m_boldFont(ListFont(wxFONTWEIGHT_BOLD)) {
  m_geometry.widths = client::kDefaultPeerColumnWidths;
  m_geometry.header_height = std::max(FromDIP(20), wxRendererNative::Get().GetHeaderButtonHeight(this));
  {
    wxClientDC dc(this);
    dc.SetFont(m_boldFont);
    m_geometry.row_height = dc.GetCharHeight() + FromDIP(4);
  }

  m_header = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
  m_header->SetBackgroundStyle(wxBG_STYLE_PAINT);
  m_rows = new wxScrolled<wxWindow>(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                    wxBORDER_NONE | wxHSCROLL | wxVSCROLL | wxWANTS_CHARS);
  // The whole rows window is painted (buffered): no erase, no flicker.
  m_rows->SetBackgroundStyle(wxBG_STYLE_PAINT);
  m_rows->SetScrollRate(1, m_geometry.row_height);
  m_rows->DisableKeyboardScrolling();

  Bind(wxEVT_SIZE, &CPeerListenAnsicht::OnSize, this);
  m_header->Bind(wxEVT_PAINT, &CPeerListenAnsicht::PaintHeader, this);
  m_rows->Bind(wxEVT_PAINT, &CPeerListenAnsicht::PaintRows, this);
  for (auto type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_MOTION, wxEVT_LEAVE_WINDOW})
    m_header->Bind(type, &CPeerListenAnsicht::HeaderMouse, this);
  m_header->Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { m_dragColumn = -1; });
  for (auto type : {wxEVT_LEFT_DOWN, wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP})
    m_rows->Bind(type, &CPeerListenAnsicht::RowsMouse, this);
  m_rows->Bind(wxEVT_KEY_DOWN, &CPeerListenAnsicht::RowsKey, this);
  // The header follows the rows across.
  m_rows->Bind(wxEVT_SCROLLWIN_THUMBTRACK, [this](wxScrollWinEvent& e) {
    e.Skip();
    m_header->CallAfter([this] { m_header->Refresh(); });
  });
  for (auto type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP, wxEVT_SCROLLWIN_LINEDOWN,
                    wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN, wxEVT_SCROLLWIN_THUMBRELEASE})
    m_rows->Bind(type, [this](wxScrollWinEvent& e) {
      e.Skip();
      m_header->CallAfter([this] { m_header->Refresh(); });
    });
  // The selection's colours change with the focus.
  m_rows->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    e.Skip();
    m_rows->Refresh();
  });
  m_rows->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    e.Skip();
    m_rows->Refresh();
  });
  UpdateScrollRange();
}

void CPeerListenAnsicht::SetColumnWidths(const std::array<int, client::kPeerColumnCount>& widths) {
  for (std::size_t c = 0; c < widths.size(); ++c) m_geometry.widths[c] = std::max(client::kMinPeerColumnWidth, widths[c]);
  UpdateScrollRange();
  m_header->Refresh();
  m_rows->Refresh();
}

void CPeerListenAnsicht::RowsChanged() {
  UpdateScrollRange();
  m_rows->Refresh();
  m_header->Refresh();
}

void CPeerListenAnsicht::UpdateScrollRange() {
  m_rows->SetVirtualSize(m_geometry.TotalWidth(), int(m_model.Rows().size()) * m_geometry.row_height);
}

void CPeerListenAnsicht::OnSize(wxSizeEvent& event) {
  event.Skip();
  const wxSize size = GetClientSize();
  m_header->SetSize(0, 0, size.x, m_geometry.header_height);
  m_rows->SetSize(0, m_geometry.header_height, size.x, std::max(0, size.y - m_geometry.header_height));
  m_header->Refresh();
}

int CPeerListenAnsicht::ScrollX() const {
  int ppu_x = 0, ppu_y = 0;
  m_rows->GetScrollPixelsPerUnit(&ppu_x, &ppu_y);
  return m_rows->GetViewStart().x * ppu_x;
}

int CPeerListenAnsicht::ScrollY() const {
  int ppu_x = 0, ppu_y = 0;
  m_rows->GetScrollPixelsPerUnit(&ppu_x, &ppu_y);
  return m_rows->GetViewStart().y * ppu_y;
}

wxRect CPeerListenAnsicht::RowRect(std::size_t row) const {
  return wxRect(-ScrollX(), int(row) * m_geometry.row_height - ScrollY(), m_geometry.TotalWidth(),
                m_geometry.row_height);
}

wxRect CPeerListenAnsicht::HeaderRect(int column) const {
  wxRect r = client::ToWxRect(m_geometry.CellRect(0, column));
  r.x -= ScrollX();
  r.y = 0;
  r.height = m_geometry.header_height;
  return r;
}

int CPeerListenAnsicht::RowAtPoint(wxPoint at) const {
  if (at.x + ScrollX() >= m_geometry.TotalWidth()) return -1;
  return m_geometry.RowAt(at.y + ScrollY(), m_model.Rows().size());
}

void CPeerListenAnsicht::PaintHeader(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(m_header);
  const wxSize size = m_header->GetClientSize();
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.Clear();
  dc.SetFont(m_header->GetFont());
  wxRendererNative& renderer = wxRendererNative::Get();
  for (int c = 0; c < client::kPeerColumnCount; ++c) {
    const wxRect r = HeaderRect(c);
    wxHeaderButtonParams params;
    params.m_labelText = wxString(std::wstring(client::kPeerColumns[std::size_t(c)].header));
    switch (client::kPeerColumns[std::size_t(c)].align) {
      case client::CellAlign::Left: params.m_labelAlignment = wxALIGN_LEFT; break;
      case client::CellAlign::Right: params.m_labelAlignment = wxALIGN_RIGHT; break;
      case client::CellAlign::Center: params.m_labelAlignment = wxALIGN_CENTER; break;
    }
    wxHeaderSortIconType arrow = wxHDR_SORT_ICON_NONE;
    if (c == m_model.SortColumn()) arrow = m_model.SortDirection() > 0 ? wxHDR_SORT_ICON_UP : wxHDR_SORT_ICON_DOWN;
    renderer.DrawHeaderButton(m_header, dc, r, 0, arrow, &params);
  }
  // Right of the last column: an empty header.
  const int right = m_geometry.TotalWidth() - ScrollX();
  if (right < size.x) renderer.DrawHeaderButton(m_header, dc, wxRect(right, 0, size.x - right, size.y));
}

void CPeerListenAnsicht::PaintRows(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(m_rows);
  const wxSize size = m_rows->GetClientSize();
  const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
  const wxPen highlight(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT));
  const wxPen shadow(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW));
  dc.SetBackground(wxBrush(window));
  dc.Clear();

  const auto& rows = m_model.Rows();
  const int scroll_x = ScrollX(), scroll_y = ScrollY();
  const int h = m_geometry.row_height;
  const std::size_t first = std::size_t(std::max(0, scroll_y / h));
  const std::size_t last = std::min(rows.size(), std::size_t((scroll_y + size.y) / h + 1));
  const std::optional<std::size_t> selected = m_model.Selected();
  const bool focused = wxWindow::FindFocus() == m_rows;
  dc.SetPen(*wxTRANSPARENT_PEN);
  for (std::size_t i = first; i < last; ++i) {
    const client::PeerRowColors colors = m_model.Colors(i, selected == i, focused);
    const wxRect row = RowRect(i);
    dc.SetBrush(wxBrush(client::ToWxColour(colors.background)));
    dc.DrawRectangle(row);
    dc.SetFont(rows[i].bold ? m_boldFont : m_font);
    for (int c = 0; c < client::kPeerColumnCount; ++c) {
      wxRect cell = client::ToWxRect(m_geometry.CellRect(i, c));
      cell.Offset(-scroll_x, -scroll_y);
      if (cell.GetRight() < 0 || cell.x >= size.x) continue;
      const std::wstring text = m_model.CellText(i, c);
      if (text.empty()) continue;
      const wxRect inner = cell.Deflate(kCellPadding, 0);
      if (inner.width <= 0) continue;
      int align = wxALIGN_CENTER_VERTICAL;
      switch (client::kPeerColumns[std::size_t(c)].align) {
        case client::CellAlign::Left: align |= wxALIGN_LEFT; break;
        case client::CellAlign::Right: align |= wxALIGN_RIGHT; break;
        case client::CellAlign::Center: align |= wxALIGN_CENTER_HORIZONTAL; break;
      }
      dc.SetTextForeground(client::ToWxColour(colors.text[std::size_t(c)]));
      wxDCClipper clip(dc, inner);
      dc.DrawLabel(wxString(text), inner, align);
    }
  }
  // The grid: a line pair at each column's right edge, down the rows.
  const int bottom = std::min(size.y, int(rows.size()) * h - scroll_y);
  if (bottom > 0) {
    int x = -scroll_x;
    for (int c = 0; c < client::kPeerColumnCount; ++c) {
      x += m_geometry.widths[std::size_t(c)];
      dc.SetPen(shadow);
      dc.DrawLine(x - 1, 0, x - 1, bottom);
      dc.SetPen(highlight);
      dc.DrawLine(x, 0, x, bottom);
    }
  }
}

void CPeerListenAnsicht::HeaderMouse(wxMouseEvent& event) {
  const int x = event.GetX() + ScrollX();
  if (event.GetEventType() == wxEVT_LEAVE_WINDOW) {
    if (m_dragColumn < 0) m_header->SetCursor(wxNullCursor);
    return;
  }
  if (event.GetEventType() == wxEVT_MOTION) {
    if (m_dragColumn >= 0 && event.LeftIsDown()) {
      m_geometry.widths[std::size_t(m_dragColumn)] =
          std::max(client::kMinPeerColumnWidth, m_dragStartWidth + event.GetX() - m_dragStartX);
      UpdateScrollRange();
      m_header->Refresh();
      m_rows->Refresh();
    } else {
      const bool on_divider = m_geometry.DividerAt(x, kDividerSlack) >= 0;
      m_header->SetCursor(on_divider ? wxCursor(wxCURSOR_SIZEWE) : wxNullCursor);
    }
    return;
  }
  if (event.GetEventType() == wxEVT_LEFT_DOWN) {
    m_dragColumn = m_geometry.DividerAt(x, kDividerSlack);
    if (m_dragColumn >= 0) {
      m_dragStartX = event.GetX();
      m_dragStartWidth = m_geometry.widths[std::size_t(m_dragColumn)];
      m_header->CaptureMouse();
    }
    return;
  }
  // Left button up: the end of a drag, or a click on a column.
  if (m_dragColumn >= 0) {
    m_dragColumn = -1;
    if (m_header->HasCapture()) m_header->ReleaseMouse();
    return;
  }
  const int column = m_geometry.ColumnAt(x);
  if (column < 0) return;
  m_model.ClickColumn(column);
  m_header->Refresh();
  m_rows->Refresh();
}

void CPeerListenAnsicht::RowsMouse(wxMouseEvent& event) {
  m_rows->SetFocus();
  const int row = RowAtPoint(event.GetPosition());
  if (event.GetEventType() == wxEVT_RIGHT_UP) {
    if (row >= 0 && on_row_menu) on_row_menu(std::size_t(row), m_rows->ClientToScreen(event.GetPosition()));
    return;
  }
  m_model.Select(row >= 0 ? std::optional<std::size_t>(std::size_t(row)) : std::nullopt);
  m_rows->Refresh();
}

void CPeerListenAnsicht::RowsKey(wxKeyEvent& event) {
  const std::size_t count = m_model.Rows().size();
  const std::optional<std::size_t> at = m_model.Selected();
  std::optional<std::size_t> to;
  switch (event.GetKeyCode()) {
    case WXK_UP: to = at && *at > 0 ? *at - 1 : 0; break;
    case WXK_DOWN: to = at ? std::min(*at + 1, count - 1) : 0; break;
    case WXK_HOME: to = 0; break;
    case WXK_END: to = count - 1; break;
    default: event.Skip(); return;
  }
  if (count == 0) return;
  m_model.Select(to);
  // Keep the selected row in view.
  int ppu_x = 0, ppu_y = 0;
  m_rows->GetScrollPixelsPerUnit(&ppu_x, &ppu_y);
  const wxRect r = RowRect(*to);
  if (r.y < 0) m_rows->Scroll(-1, int(*to));
  else if (r.GetBottom() >= m_rows->GetClientSize().y && ppu_y > 0)
    m_rows->Scroll(-1, int(*to) - m_rows->GetClientSize().y / ppu_y + 1);
  m_rows->Refresh();
}
