#pragma once
// The peers dialog's list: our own owner-drawn nine-column list, a header
// over a scrolled rows window, both drawn with a DC. The rows, their texts,
// colours and order come from client::PeersModel; the list draws them,
// sorts on a header click, lets the header's dividers be dragged, keeps the
// selection and reports a right click on a row.

#include "client/dialogs/peers_model.h"

#include <wx/font.h>
#include <wx/scrolwin.h>
#include <wx/window.h>

#include <array>
#include <cstddef>
#include <functional>

class CPeerListenAnsicht : public wxWindow {
 public:
  CPeerListenAnsicht(wxWindow* parent, wxWindowID id, client::PeersModel& model);

  void SetColumnWidths(const std::array<int, client::kPeerColumnCount>& widths);
  const std::array<int, client::kPeerColumnCount>& ColumnWidths() const { return m_geometry.widths; }
  // After the model's rows changed: the scroll range and a repaint.
  void RowsChanged();

  wxWindow* HeaderWindow() const { return m_header; }
  wxWindow* RowsWindow() const { return m_rows; }
  // Where a row lies in the rows window (scrolling applied).
  wxRect RowRect(std::size_t row) const;
  // Where a header button lies in the header window.
  wxRect HeaderRect(int column) const;

  // A right click on a row (already selected), with the screen point.
  std::function<void(std::size_t row, wxPoint screen)> on_row_menu;

 private:
  void OnSize(wxSizeEvent& event);
  void PaintHeader(wxPaintEvent&);
  void PaintRows(wxPaintEvent&);
  void HeaderMouse(wxMouseEvent& event);
  void RowsMouse(wxMouseEvent& event);
  void RowsKey(wxKeyEvent& event);
  // The horizontal scroll offset of the rows, in pixels.
  int ScrollX() const;
  int ScrollY() const;
  // The model row under a point of the rows window, -1 when none.
  int RowAtPoint(wxPoint at) const;
  void UpdateScrollRange();

  client::PeersModel& m_model;
  client::PeerListGeometry m_geometry;
  wxWindow* m_header = nullptr;
  wxScrolled<wxWindow>* m_rows = nullptr;
  wxFont m_font, m_boldFont;
  // A divider being dragged: its column, where the drag started and the
  // width then.
  int m_dragColumn = -1;
  int m_dragStartX = 0;
  int m_dragStartWidth = 0;
};
