#include "scheme_editor/dialog_layout.h"

#include "scheme_editor/scheme_editor.h"
#include "scheme_editor/scheme_fields.h"

#include <algorithm>

namespace tintwright {
namespace {

constexpr int kMargin = 7;
constexpr int kColumnGap = 4;
constexpr int kRowGap = 3;
constexpr int kColumnWidth = 143;
constexpr int kFirstColumnWidth = 136;
constexpr int kGroupHeader = 10;   // from a group's top to its first row
constexpr int kGroupFooter = 3;    // below its last row
constexpr int kRowPitch = 14;
constexpr int kEditWidth = 23, kEditHeight = 13, kEditGap = 2;
constexpr int kInset = 5;  // inside a group box, left and right
constexpr int kRadioHeight = 11, kRadioPitch = 12;
constexpr int kButtonHeight = 16;

int RowsOf(std::wstring_view group) {
  return int(std::count_if(kSchemeRows.begin(), kSchemeRows.end(),
                           [&](const SchemeRow& r) { return r.group == group; }));
}

int GroupHeight(int rows) { return kGroupHeader + rows * kRowPitch + kGroupFooter; }

// A group box with a label and three edits per row for each of its rows.
int AddColorGroup(std::vector<LayoutControl>& out, std::wstring_view group, int x, int y, int width) {
  const int height = GroupHeight(RowsOf(group));
  out.push_back({ControlKind::Group, 0, group, {x, y, width, height}});
  const int edits_left = x + width - kInset - 3 * kEditWidth - 2 * kEditGap;
  int row_y = y + kGroupHeader;
  for (const SchemeRow& row : kSchemeRows) {
    if (row.group != group) continue;
    out.push_back({ControlKind::Label, 0, row.label, {x + kInset, row_y + 2, edits_left - 2 - x - kInset, 9}});
    const int ids[3] = {row.red_id, row.green_id, row.blue_id};
    for (int k = 0; k < 3; ++k)
      out.push_back({ControlKind::Edit, ids[k], {}, {edits_left + k * (kEditWidth + kEditGap), row_y, kEditWidth, kEditHeight}});
    row_y += kRowPitch;
  }
  return y + height;
}

}  // namespace

const LayoutControl* DialogLayout::Find(int id) const {
  for (const auto& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

DialogLayout BuildDialogLayout(int preview_right_dlu, int preview_bottom_dlu) {
  DialogLayout layout;
  auto& out = layout.controls;
  const int x1 = kMargin;
  const int w1 = std::max(kFirstColumnWidth, preview_right_dlu + kColumnGap - x1);
  const int x2 = x1 + w1 + kColumnGap;
  const int x3 = x2 + kColumnWidth + kColumnGap;
  layout.width = x3 + kColumnWidth + kMargin;

  // The chart entry's groups, two columns right of the preview.
  int y = kMargin;
  for (auto [left, right] : {std::pair{L"Upload", L"Download"}, {L"Progress", L"Time"}, {L"Titel", L"Frame"}}) {
    const int bottom_left = AddColorGroup(out, left, x2, y, kColumnWidth);
    const int bottom_right = AddColorGroup(out, right, x3, y, kColumnWidth);
    y = std::max(bottom_left, bottom_right) + kRowGap;
  }
  const int entry_bottom = y - kRowGap;

  // The status radios below the preview, their group ending with the
  // entry's groups; two columns of radios.
  const int radio_rows = 3;
  const int status_height = kGroupHeader + radio_rows * kRadioPitch + kGroupFooter;
  const int status_top = std::max(entry_bottom - status_height, preview_bottom_dlu + kRowGap);
  out.push_back({ControlKind::Group, 0, L"Torrent Status", {x1, status_top, w1, status_height}});
  const int radio_width = (w1 - 2 * kMargin) / 2;
  for (std::size_t i = 0; i < kStatusRadios.size(); ++i) {
    const int column = int(i) / radio_rows, row = int(i) % radio_rows;
    out.push_back({ControlKind::Radio, kStatusRadios[i].id, kStatusRadios[i].text,
                   {x1 + kMargin + column * radio_width, status_top + kGroupHeader + row * kRadioPitch, radio_width,
                    kRadioHeight},
                   i == 0});
  }

  // The main block's groups in one row below.
  const int main_top = std::max(entry_bottom, status_top + status_height) + 2 * kRowGap;
  int bottom = AddColorGroup(out, L"Main Texts", x1, main_top, w1);
  bottom = std::max(bottom, AddColorGroup(out, L"Main Frame", x2, main_top, kColumnWidth));
  bottom = std::max(bottom, AddColorGroup(out, L"Main buttons", x3, main_top, kColumnWidth));

  // Folder and buttons along the bottom.
  const int row_y = bottom + kRowGap;
  const int right = layout.width - kMargin;
  constexpr int kButtonWidth = 50, kBrowseWidth = 22, kLabelWidth = 50;
  const int quit_x = right - kButtonWidth;
  const int save_x = quit_x - kColumnGap - kButtonWidth;
  const int browse_x = save_x - 3 * kColumnGap - kBrowseWidth;
  out.push_back({ControlKind::Label, 0, L"Scheme folder", {x1, row_y + 4, kLabelWidth, 9}});
  out.push_back({ControlKind::Edit, kFolderEditId, {}, {x1 + kLabelWidth + 2, row_y + 1, browse_x - 2 - (x1 + kLabelWidth + 2), kEditHeight}});
  out.push_back({ControlKind::Button, kBrowseId, L">>", {browse_x, row_y, kBrowseWidth, kButtonHeight}});
  out.push_back({ControlKind::Button, kSaveId, L"Save", {save_x, row_y, kButtonWidth, kButtonHeight}});
  out.push_back({ControlKind::Button, kQuitId, L"Quit", {quit_x, row_y, kButtonWidth, kButtonHeight}});
  layout.height = row_y + kButtonHeight + kMargin;
  return layout;
}

}  // namespace tintwright
