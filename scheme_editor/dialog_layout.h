#pragma once
// The editor dialog's controls and where they sit, in dialog units (the
// window converts them to pixels with the font's dialog units). The frame
// preview alone is placed in pixels.

#include <string_view>
#include <vector>

namespace tintwright {

struct DluRect {
  int x = 0, y = 0, width = 0, height = 0;
  int Right() const { return x + width; }
  int Bottom() const { return y + height; }
};

enum class ControlKind { Group, Label, Edit, Radio, Button };

struct LayoutControl {
  ControlKind kind;
  int id;  // 0: a control nobody addresses (group boxes, labels)
  std::wstring_view text;
  DluRect rect;
  bool first_radio = false;  // starts the radio group
};

inline constexpr int kSaveId = 1001;
inline constexpr int kFolderEditId = 1057;
inline constexpr int kBrowseId = 1058;
inline constexpr int kQuitId = 1;  // the dialog's OK button

// The frame preview, in pixels of the dialog's client area: high enough
// for the info box, the chart below it and the two text lines below that.
inline constexpr int kPreviewLeft = 15, kPreviewTop = 15, kPreviewRight = 247, kPreviewBottom = 214;

struct DialogLayout {
  int width = 0, height = 0;  // client size in dialog units
  std::vector<LayoutControl> controls;  // in tab order

  const LayoutControl* Find(int id) const;
};

// The layout for a preview whose right and bottom edges lie at these dialog
// units (the left column grows when the preview would not fit in it).
DialogLayout BuildDialogLayout(int preview_right_dlu, int preview_bottom_dlu);

}  // namespace tintwright
