#include "client/common/list_edit.h"

#include <algorithm>

namespace client {

std::wstring FitCellText(std::wstring_view text, int width, const TextMeasurer& measure) {
  if (text.empty() || measure.TextWidth(text) <= width) return std::wstring(text);
  const int dots = measure.TextWidth(L"...");
  std::size_t keep = text.size();
  while (keep > 1) {
    --keep;
    if (measure.TextWidth(text.substr(0, keep)) + dots <= width) break;
  }
  return std::wstring(text.substr(0, keep)) + L"...";
}

int EditColumnAt(Point point, Rect label, int columns_left, const std::vector<int>& widths) {
  if (label.Contains(point)) return 0;
  if (widths.empty()) return -1;
  int left = columns_left + widths[0];
  for (std::size_t column = 1; column < widths.size(); ++column) {
    const int right = left + widths[column];
    if (point.x >= left && point.x < right) return int(column);
    left = right;
  }
  return -1;
}

EndEditAction EndEditRule(int column, const std::optional<std::wstring>& text) {
  if (!text || column < 0) return EndEditAction::None;
  if (!text->empty()) return EndEditAction::WriteCell;
  return column == 0 ? EndEditAction::DeleteRow : EndEditAction::None;
}

int ListEditModel::InsertRow(int index, std::wstring text) {
  index = std::clamp(index, 0, RowCount());
  std::vector<std::wstring> row;
  row.push_back(std::move(text));
  m_rows.insert(m_rows.begin() + index, std::move(row));
  if (Editing() && m_edit_row >= index) ++m_edit_row;
  return index;
}

bool ListEditModel::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) return false;
  m_rows.erase(m_rows.begin() + row);
  if (Editing()) {
    if (m_edit_row == row)
      m_edit_row = m_edit_column = -1;
    else if (m_edit_row > row)
      --m_edit_row;
  }
  return true;
}

void ListEditModel::DeleteAllRows() {
  m_rows.clear();
  m_edit_row = m_edit_column = -1;
}

bool ListEditModel::SetCell(int row, int column, std::wstring text) {
  if (row < 0 || row >= RowCount() || column < 0) return false;
  auto& cells = m_rows[row];
  if (std::size_t(column) >= cells.size()) cells.resize(column + 1);
  cells[column] = std::move(text);
  return true;
}

const std::wstring& ListEditModel::Cell(int row, int column) const {
  static const std::wstring kEmpty;
  if (row < 0 || row >= RowCount() || column < 0) return kEmpty;
  const auto& cells = m_rows[row];
  return std::size_t(column) < cells.size() ? cells[column] : kEmpty;
}

bool ListEditModel::BeginEdit(int row, int column) {
  if (row < 0 || row >= RowCount() || column < 0) return false;
  m_edit_row = row;
  m_edit_column = column;
  return true;
}

EndEditAction ListEditModel::EndEdit(const std::optional<std::wstring>& text) {
  if (!Editing()) return EndEditAction::None;
  const int row = m_edit_row, column = m_edit_column;
  m_edit_row = m_edit_column = -1;
  const EndEditAction action = EndEditRule(column, text);
  if (action == EndEditAction::WriteCell) SetCell(row, column, *text);
  if (action == EndEditAction::DeleteRow) DeleteRow(row);
  return action;
}

}  // namespace client
