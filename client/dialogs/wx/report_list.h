#pragma once
// The lists of the make-torrent dialog: a report list with grid lines and
// whole-row selection whose rows are texts kept here (a virtual list). It
// tells a double click (on a row, or below the rows) and a right click (row
// and column) to its owner, and edits the first column of a row in place
// when asked, telling the text the edit ended with.

#include "client/dialogs/make_torrent_model.h"

#include <wx/listctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class ReportList : public wxListCtrl {
 public:
  using Row = std::vector<std::wstring>;

  ReportList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
             const std::vector<client::ListColumn>& columns, const std::vector<int>& widths);

  void SetRows(std::vector<Row> rows);
  long GetRowCount() const { return static_cast<long>(m_rows.size()); }
  const Row& GetRow(long row) const { return m_rows.at(static_cast<std::size_t>(row)); }
  std::vector<int> ColumnWidths() const;
  // Selects the row alone and scrolls it into view.
  void SelectRow(long row);
  // Opens the edit box on the first column of `row`.
  bool EditRow(long row);

  // The row double-clicked, -1 below the rows.
  std::function<void(long row)> on_double_click;
  // The row and column right-clicked, and where on the screen.
  std::function<void(long row, int column, wxPoint screen)> on_right_click;
  // An edit of `row` ended with the text, none when it was cancelled.
  std::function<void(long row, std::optional<std::wstring> text)> on_end_edit;

  // The window the rows are drawn in (below the header).
  wxWindow* ItemsWindow() const;

 protected:
  wxString OnGetItemText(long item, long column) const override;

 private:
  void OnDoubleClick(wxMouseEvent& event);
  void OnRightClick(wxListEvent& event);
  void OnEndEdit(wxListEvent& event);

  std::vector<Row> m_rows;
};
