#pragma once
// A report list whose every cell can be edited in place: a click on the
// selected row opens an edit box (CLVEdit) over the cell under the cursor;
// Enter or a click elsewhere writes a non-empty text into the cell, an
// empty text in the first column removes the row, Escape changes nothing.
// Texts too wide for their column end in "...". The rows live in the
// control (a virtual list): fill it with InsertRow and SetCellText and read
// them with GetCellText (GetItemText gives the text as shown, shortened).

#include "client/common/list_edit.h"
#include "client/common/wx/CLVEdit.h"
#include "client/common/wx/wx_text_measurer.h"

#include <wx/listctrl.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class CListEditCtrl : public wxListCtrl {
 public:
  // wxLC_REPORT, wxLC_VIRTUAL and wxLC_SINGLE_SEL are always added to `style`.
  CListEditCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize, long style = 0);
  ~CListEditCtrl() override;

  // Rows, by index.
  long InsertRow(long index, const wxString& text);
  bool SetCellText(long row, long column, const wxString& text);
  wxString GetCellText(long row, long column) const;
  bool DeleteRow(long row);
  void DeleteAllRows();
  long GetRowCount() const { return m_model.RowCount(); }

  // Opens the edit box on the cell of the row at `point` (in the list's
  // client coordinates) that the point picks; false when it picks none.
  bool BeginEditAt(const wxPoint& point);
  // Ends an edit under way as Enter (`commit`) or Escape would.
  void EndEdit(bool commit);
  int GetEditColumn() const { return m_model.EditColumn(); }  // -1 when none
  CLVEdit* GetEditBox() const { return m_edit.get(); }

  // The window the rows are drawn in (below the header): its mouse events
  // are the rows' own, in its coordinates.
  wxWindow* ItemsWindow() const;

  // Told after an edit of (row, column) ended and did what `action` says
  // (a removed row is gone already).
  std::function<void(long row, int column, client::EndEditAction action)> on_edit_ended;

 protected:
  wxString OnGetItemText(long item, long column) const override;

 private:
  // Conversions between the rows' window's coordinates and the list's.
  wxPoint ItemsOffset() const;
  wxRect ToItems(wxRect list_rect) const;
  void Finish(std::optional<std::wstring> text);
  // Sets the virtual row count after a row went in or out at `row` (by
  // `delta` 1 or -1), keeping the selection on the same row.
  void RowsChanged(long row, int delta);

  void OnItemsLeftDown(wxMouseEvent& event);
  void OnItemsLeftUp(wxMouseEvent& event);
  void OnItemsDoubleClick(wxMouseEvent& event);
  void OnEditTimer(wxTimerEvent& event);

  client::ListEditModel m_model;
  // Measures cell texts in the list's font.
  mutable wxFont m_measuredFont;
  mutable std::unique_ptr<client::WxTextMeasurer> m_measure;
  wxWeakRef<CLVEdit> m_edit;
  wxPoint m_editCell;  // left and top of the cell being edited
  wxTimer m_editTimer;
  wxPoint m_clickPoint;
  long m_clickRow = -1;  // the row clicked while it was already selected
};
