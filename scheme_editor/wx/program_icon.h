#pragma once
// The program's icon (resource 128 of the editor).

#include <wx/iconbndl.h>

namespace tintwright {

wxIconBundle ProgramIcon();

}  // namespace tintwright
