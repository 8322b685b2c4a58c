#include "scheme_editor/wx/program_icon.h"

#include <wx/bmpbndl.h>

namespace tintwright {
namespace {

// A plain placeholder until the program's own icon is drawn: a colour
// wheel of four quarters inside a dark ring.
constexpr char kIconSvg[] = R"(<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
<path d="M16 16 L16 3 A13 13 0 0 1 29 16 Z" fill="#ff9733"/>
<path d="M16 16 L29 16 A13 13 0 0 1 16 29 Z" fill="#3232ff"/>
<path d="M16 16 L16 29 A13 13 0 0 1 3 16 Z" fill="#64ff64"/>
<path d="M16 16 L3 16 A13 13 0 0 1 16 3 Z" fill="#ff6464"/>
<circle cx="16" cy="16" r="13" fill="none" stroke="#333369" stroke-width="3"/>
</svg>)";

}  // namespace

wxIconBundle ProgramIcon() {
  const wxBitmapBundle bundle = wxBitmapBundle::FromSVG(kIconSvg, wxSize(32, 32));
  wxIconBundle icons;
  for (int side : {16, 32, 48}) icons.AddIcon(bundle.GetIcon(wxSize(side, side)));
  return icons;
}

}  // namespace tintwright
