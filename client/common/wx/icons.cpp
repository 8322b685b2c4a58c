#include "client/common/wx/icons.h"

#include "client/common/icon_resources.h"

wxBitmapBundle LoadIconResource(int resource, const wxSize& size) {
  const std::string_view svg = client::IconSvg(resource);
  if (svg.empty()) return {};
  // The view ends in a zero byte, as the SVG parser wants; the text is
  // copied, never changed.
  return wxBitmapBundle::FromSVG(svg.data(), size);
}

wxIconBundle LoadIconSet(int resource) {
  wxIconBundle icons;
  const wxBitmapBundle bundle = LoadIconResource(resource);
  if (!bundle.IsOk()) return icons;
  for (int size : {16, 24, 32, 48, 64, 128}) icons.AddIcon(bundle.GetIcon(wxSize(size, size)));
  return icons;
}
