#include "client/dialogs/wx/report_list.h"

ReportList::ReportList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                       const std::vector<client::ListColumn>& columns, const std::vector<int>& widths)
    : wxListCtrl(parent, id, pos, size,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN) {
  for (std::size_t c = 0; c < columns.size(); ++c)
    AppendColumn(wxString(columns[c].title), columns[c].right_aligned ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT,
                 c < widths.size() ? widths[c] : client::kDefaultColumnWidth);
  ItemsWindow()->Bind(wxEVT_LEFT_DCLICK, &ReportList::OnDoubleClick, this);
  Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &ReportList::OnRightClick, this);
  Bind(wxEVT_LIST_END_LABEL_EDIT, &ReportList::OnEndEdit, this);
}

wxWindow* ReportList::ItemsWindow() const {
  // The generic list keeps it in a member of a type it does not publish;
  // the child at that address is it.
  for (wxWindow* child : GetChildren())
    if (static_cast<const void*>(child) == static_cast<const void*>(m_mainWin)) return child;
  return const_cast<ReportList*>(this);
}

void ReportList::SetRows(std::vector<Row> rows) {
  m_rows = std::move(rows);
  const long selected = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  if (selected >= GetRowCount()) SetItemState(selected, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  SetItemCount(GetRowCount());
  Refresh();
}

std::vector<int> ReportList::ColumnWidths() const {
  std::vector<int> widths;
  for (int c = 0; c < GetColumnCount(); ++c) widths.push_back(GetColumnWidth(c));
  return widths;
}

void ReportList::SelectRow(long row) {
  if (row < 0 || row >= GetRowCount()) return;
  for (long r = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); r >= 0;
       r = GetNextItem(r, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    SetItemState(r, 0, wxLIST_STATE_SELECTED);
  SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  EnsureVisible(row);
}

bool ReportList::EditRow(long row) {
  if (row < 0 || row >= GetRowCount()) return false;
  SelectRow(row);
  return EditLabel(row) != nullptr;
}

wxString ReportList::OnGetItemText(long item, long column) const {
  if (item < 0 || item >= GetRowCount()) return {};
  const Row& row = m_rows[static_cast<std::size_t>(item)];
  return column >= 0 && static_cast<std::size_t>(column) < row.size() ? wxString(row[static_cast<std::size_t>(column)])
                                                                      : wxString();
}

void ReportList::OnDoubleClick(wxMouseEvent& event) {
  event.Skip();
  int flags = 0;
  const long hit = HitTest(event.GetPosition(), flags);
  const long row = hit >= 0 && hit < GetRowCount() ? hit : -1;
  // After the list has handled the click itself, so the edit box that may
  // open keeps the focus.
  if (on_double_click) CallAfter([this, row] { on_double_click(row); });
}

void ReportList::OnRightClick(wxListEvent& event) {
  const long row = event.GetIndex();
  if (row < 0 || row >= GetRowCount() || !on_right_click) return;
  // The point is in the rows' window; the cell rectangles in the list's.
  const wxPoint at = event.GetPoint();
  const int x = at.x + (ItemsWindow() == this ? 0 : ItemsWindow()->GetPosition().x);
  int column = -1;
  for (int c = 0; c < GetColumnCount() && column < 0; ++c) {
    wxRect cell;
    if (GetSubItemRect(row, c, cell) && x >= cell.x && x < cell.x + cell.width) column = c;
  }
  const wxPoint screen = ItemsWindow()->ClientToScreen(at);
  CallAfter([this, row, column, screen] { on_right_click(row, column, screen); });
}

void ReportList::OnEndEdit(wxListEvent& event) {
  // The rows are the owner's: it decides what the text does.
  event.Veto();
  const long row = event.GetIndex();
  std::optional<std::wstring> text;
  if (!event.IsEditCancelled()) text = event.GetLabel().ToStdWstring();
  if (on_end_edit) CallAfter([this, row, text] { on_end_edit(row, text); });
}
