#include "client/common/wx/CListEditCtrl.h"

#include "client/common/wx/wx_conversions.h"

#include <wx/settings.h>

namespace {

// The list draws a cell's text in its width less this.
constexpr int kCellTextMargin = 8;

}  // namespace

CListEditCtrl::CListEditCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style)
    : wxListCtrl(parent, id, pos, size, style | wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL),
      m_editTimer(this) {
  Bind(wxEVT_TIMER, &CListEditCtrl::OnEditTimer, this, m_editTimer.GetId());
  wxWindow* items = ItemsWindow();
  items->Bind(wxEVT_LEFT_DOWN, &CListEditCtrl::OnItemsLeftDown, this);
  items->Bind(wxEVT_LEFT_UP, &CListEditCtrl::OnItemsLeftUp, this);
  items->Bind(wxEVT_LEFT_DCLICK, &CListEditCtrl::OnItemsDoubleClick, this);
}

CListEditCtrl::~CListEditCtrl() { m_editTimer.Stop(); }

wxWindow* CListEditCtrl::ItemsWindow() const {
  // The generic list keeps it in a public member of a type it does not
  // publish; the child at that address is it.
  for (wxWindow* child : GetChildren())
    if (static_cast<const void*>(child) == static_cast<const void*>(m_mainWin)) return child;
  return const_cast<CListEditCtrl*>(this);
}

wxPoint CListEditCtrl::ItemsOffset() const {
  wxWindow* items = ItemsWindow();
  return items == this ? wxPoint() : items->GetPosition();
}

wxRect CListEditCtrl::ToItems(wxRect list_rect) const {
  list_rect.Offset(-ItemsOffset());
  return list_rect;
}

long CListEditCtrl::InsertRow(long index, const wxString& text) {
  const long row = m_model.InsertRow(int(index), text.ToStdWstring());
  RowsChanged(row, 1);
  return row;
}

bool CListEditCtrl::SetCellText(long row, long column, const wxString& text) {
  if (!m_model.SetCell(int(row), int(column), text.ToStdWstring())) return false;
  RefreshItem(row);
  return true;
}

wxString CListEditCtrl::GetCellText(long row, long column) const {
  return wxString(m_model.Cell(int(row), int(column)));
}

bool CListEditCtrl::DeleteRow(long row) {
  if (m_model.EditRow() == row) EndEdit(false);
  if (!m_model.DeleteRow(int(row))) return false;
  RowsChanged(row, -1);
  return true;
}

void CListEditCtrl::DeleteAllRows() {
  EndEdit(false);
  m_model.DeleteAllRows();
  SetItemCount(0);
  Refresh();
}

void CListEditCtrl::RowsChanged(long row, int delta) {
  long selected = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  if (selected >= 0) SetItemState(selected, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  if (selected == row && delta < 0)
    selected = -1;
  else if (selected >= row)
    selected += delta;
  SetItemCount(m_model.RowCount());
  if (selected >= 0) SetItemState(selected, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                                  wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  Refresh();
}

wxString CListEditCtrl::OnGetItemText(long item, long column) const {
  if (!m_measure || m_measuredFont != GetFont()) {
    m_measuredFont = GetFont();
    m_measure = std::make_unique<client::WxTextMeasurer>(m_measuredFont);
  }
  return wxString(client::FitCellText(m_model.Cell(int(item), int(column)),
                                      GetColumnWidth(column) - kCellTextMargin, *m_measure));
}

bool CListEditCtrl::BeginEditAt(const wxPoint& point) {
  EndEdit(true);
  const wxPoint at = point - ItemsOffset();
  int flags = 0;
  const long row = HitTest(at, flags);
  if (row < 0 || row >= GetRowCount()) return false;

  wxRect label, first, cell;
  if (!GetSubItemRect(row, 0, label, wxLIST_RECT_LABEL) || !GetSubItemRect(row, 0, first)) return false;
  std::vector<int> widths;
  for (int c = 0; c < GetColumnCount(); ++c) widths.push_back(GetColumnWidth(c));
  // The row is the one hit; of the label only its columns count.
  label = ToItems(label);
  label.y = at.y;
  label.height = 1;
  const int column = client::EditColumnAt({at.x, at.y}, client::ToRect(label), ToItems(first).x, widths);
  if (column < 0 || !GetSubItemRect(row, column, cell)) return false;
  if (!m_model.BeginEdit(int(row), column)) return false;

  cell = ToItems(cell);
  m_editCell = cell.GetTopLeft();
  const wxRect box(cell.x, cell.y - 1, cell.width, cell.height + 2);
  auto* edit = new CLVEdit(ItemsWindow(), box, GetCellText(row, column),
                           [this](std::optional<std::wstring> text) { Finish(std::move(text)); });
  m_edit = edit;
  edit->SetFocus();
  edit->SelectAll();
  return true;
}

void CListEditCtrl::EndEdit(bool commit) {
  if (CLVEdit* edit = m_edit.get()) {
    if (commit)
      Finish(edit->GetValue().ToStdWstring());
    else
      Finish(std::nullopt);
  }
}

void CListEditCtrl::Finish(std::optional<std::wstring> text) {
  CLVEdit* edit = m_edit.get();
  m_edit = nullptr;
  const long row = m_model.EditRow();
  const int column = m_model.EditColumn();
  const client::EndEditAction action = m_model.EndEdit(text);
  switch (action) {
    case client::EndEditAction::WriteCell:
      SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
      RefreshItem(row);
      break;
    case client::EndEditAction::DeleteRow:
      RowsChanged(row, -1);
      break;
    case client::EndEditAction::None:
      break;
  }
  if (edit) {
    // Ended by a key in the box: the list takes the focus back. Ended by
    // the focus going elsewhere: it stays there.
    const bool had_focus = edit->HasFocus();
    // The box may be ending from one of its own handlers: it goes later.
    edit->Hide();
    CallAfter([gone = wxWeakRef<CLVEdit>(edit)] {
      if (gone) gone->Destroy();
    });
    if (had_focus) SetFocus();
  }
  if (on_edit_ended && column >= 0) on_edit_ended(row, column, action);
}

void CListEditCtrl::OnItemsLeftDown(wxMouseEvent& event) {
  event.Skip();
  m_editTimer.Stop();
  int flags = 0;
  const long row = HitTest(event.GetPosition(), flags);
  const bool plain = !event.ControlDown() && !event.ShiftDown() && !event.AltDown();
  m_clickRow = (plain && row >= 0 && GetItemState(row, wxLIST_STATE_SELECTED) != 0) ? row : -1;
}

void CListEditCtrl::OnItemsLeftUp(wxMouseEvent& event) {
  event.Skip();
  int flags = 0;
  if (m_clickRow < 0 || HitTest(event.GetPosition(), flags) != m_clickRow) return;
  // A double click is not an edit: wait until one could have come.
  m_clickPoint = event.GetPosition() + ItemsOffset();
  const int wait = wxSystemSettings::GetMetric(wxSYS_DCLICK_MSEC);
  m_editTimer.StartOnce(wait > 0 ? wait : 250);
}

void CListEditCtrl::OnItemsDoubleClick(wxMouseEvent& event) {
  event.Skip();
  m_editTimer.Stop();
  m_clickRow = -1;
}

void CListEditCtrl::OnEditTimer(wxTimerEvent&) {
  m_clickRow = -1;
  BeginEditAt(m_clickPoint);
}
