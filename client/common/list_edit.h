#pragma once
// The report list with in-place editing of any cell, without a toolkit:
// its rows of cell texts, which column a begun edit takes, what ending an
// edit does, and how a text too wide for its cell is shortened.

#include "client/common/geometry.h"
#include "client/common/text_measurer.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// The text unchanged when it fits `width`; else shortened one character
// at a time until its width plus that of "..." fits (or one character is
// left), with "..." appended.
std::wstring FitCellText(std::wstring_view text, int width, const TextMeasurer& measure);

// The column an edit begun with the cursor at `point` takes: 0 inside the
// row's label rectangle; else the column from 1 on under point.x, the
// columns lying side by side from `columns_left` with `widths`; -1 (no
// edit) when no column is under it.
int EditColumnAt(Point point, Rect label, int columns_left, const std::vector<int>& widths);

enum class EndEditAction { None, WriteCell, DeleteRow };

// Ending an edit with `text` (none when it was cancelled): a non-empty text
// is written to the cell; an empty text in column 0 removes the row;
// anything else changes nothing.
EndEditAction EndEditRule(int column, const std::optional<std::wstring>& text);

class ListEditModel {
 public:
  int RowCount() const { return int(m_rows.size()); }
  // Inserts a row (its first cell `text`) at `index`, clamped to the rows
  // there are; the index it got.
  int InsertRow(int index, std::wstring text);
  bool DeleteRow(int row);
  void DeleteAllRows();
  bool SetCell(int row, int column, std::wstring text);
  // The cell's text; empty for a cell never set or outside the rows.
  const std::wstring& Cell(int row, int column) const;

  // Starts editing a cell of an existing row; false (and nothing changes)
  // otherwise.
  bool BeginEdit(int row, int column);
  bool Editing() const { return m_edit_column >= 0; }
  int EditRow() const { return m_edit_row; }
  int EditColumn() const { return m_edit_column; }  // -1 when none
  // Ends the edit under way by EndEditRule and applies it; None when no
  // edit was under way.
  EndEditAction EndEdit(const std::optional<std::wstring>& text);

 private:
  std::vector<std::vector<std::wstring>> m_rows;
  int m_edit_row = -1;
  int m_edit_column = -1;
};

}  // namespace client
