#include "client/common/list_edit.h"
#include "tests/client_common/layout_support.h"

#include <gtest/gtest.h>

using namespace client;

TEST(ListEdit, CellTextIsShortenedWithDots) {
  const client_test::FixedMeasurer m;  // "..." is 6 px
  EXPECT_EQ(FitCellText(L"abcd", 40, m), L"abcd");  // exactly fits
  EXPECT_EQ(FitCellText(L"abcde", 40, m), L"abc...");  // 30 + 6 fits, 40 + 6 not
  EXPECT_EQ(FitCellText(L"abcde", 36, m), L"abc...");
  EXPECT_EQ(FitCellText(L"abcde", 35, m), L"ab...");
  // Never less than one character.
  EXPECT_EQ(FitCellText(L"abcde", 3, m), L"a...");
  EXPECT_EQ(FitCellText(L"abcde", -5, m), L"a...");
  EXPECT_EQ(FitCellText(L"", -5, m), L"");
}

TEST(ListEdit, BeginEditPicksTheColumnUnderTheCursor) {
  // Columns 100, 60, 80 wide from x = -10 (scrolled); the row's label
  // spans column 0 less its first 4 px, rows 20..36.
  const std::vector<int> widths{100, 60, 80};
  const Rect label{-6, 20, 90, 36};
  EXPECT_EQ(EditColumnAt({0, 25}, label, -10, widths), 0);
  EXPECT_EQ(EditColumnAt({89, 25}, label, -10, widths), 0);
  EXPECT_EQ(EditColumnAt({90, 25}, label, -10, widths), 1);
  EXPECT_EQ(EditColumnAt({149, 25}, label, -10, widths), 1);
  EXPECT_EQ(EditColumnAt({150, 25}, label, -10, widths), 2);
  EXPECT_EQ(EditColumnAt({229, 25}, label, -10, widths), 2);
  // Right of the last column, or in column 0 outside its label: no edit.
  EXPECT_EQ(EditColumnAt({230, 25}, label, -10, widths), -1);
  EXPECT_EQ(EditColumnAt({-8, 25}, label, -10, widths), -1);
  EXPECT_EQ(EditColumnAt({120, 25}, label, -10, {}), -1);
}

TEST(ListEdit, EndingAnEditWritesTheCellOrRemovesTheRow) {
  ListEditModel list;
  list.InsertRow(0, L"first");
  list.InsertRow(1, L"second");
  list.InsertRow(9, L"third");  // clamped to the end
  ASSERT_EQ(list.RowCount(), 3);
  list.SetCell(1, 2, L"old");

  ASSERT_TRUE(list.BeginEdit(1, 2));
  EXPECT_EQ(list.EndEdit(L"new"), EndEditAction::WriteCell);
  EXPECT_EQ(list.Cell(1, 2), L"new");
  EXPECT_EQ(list.EditColumn(), -1);

  // Empty text outside column 0, or a cancelled edit: nothing changes.
  list.BeginEdit(1, 2);
  EXPECT_EQ(list.EndEdit(L""), EndEditAction::None);
  list.BeginEdit(1, 0);
  EXPECT_EQ(list.EndEdit(std::nullopt), EndEditAction::None);
  EXPECT_EQ(list.Cell(1, 2), L"new");
  EXPECT_EQ(list.Cell(1, 0), L"second");
  EXPECT_EQ(list.EndEdit(L"x"), EndEditAction::None);  // no edit under way

  // Empty text in column 0 removes the row.
  list.BeginEdit(1, 0);
  EXPECT_EQ(list.EndEdit(L""), EndEditAction::DeleteRow);
  ASSERT_EQ(list.RowCount(), 2);
  EXPECT_EQ(list.Cell(1, 0), L"third");
  EXPECT_EQ(list.Cell(1, 2), L"");

  EXPECT_FALSE(list.BeginEdit(2, 0));
  EXPECT_FALSE(list.BeginEdit(0, -1));
}

TEST(ListEdit, TheEditFollowsItsRowWhenOthersComeAndGo) {
  ListEditModel list;
  for (int i = 0; i < 3; ++i) list.InsertRow(i, std::wstring(1, wchar_t(L'a' + i)));
  list.BeginEdit(1, 1);
  list.InsertRow(0, L"new");
  EXPECT_EQ(list.EditRow(), 2);
  list.DeleteRow(0);
  EXPECT_EQ(list.EditRow(), 1);
  EXPECT_EQ(list.EndEdit(L"b1"), EndEditAction::WriteCell);
  EXPECT_EQ(list.Cell(1, 1), L"b1");
  EXPECT_EQ(list.Cell(1, 0), L"b");
  // Its own row gone: the edit ends with it.
  list.BeginEdit(2, 0);
  list.DeleteRow(2);
  EXPECT_FALSE(list.Editing());
  EXPECT_EQ(list.EndEdit(L""), EndEditAction::None);
  EXPECT_EQ(list.RowCount(), 2);
}
