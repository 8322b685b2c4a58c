#pragma once
// The popup menus being shown (innermost last). A menu runs a nested loop
// of its own, inside the handler of the window it belongs to: a close of
// the program takes the menus down first, so that no window goes while its
// menu's loop still runs.

#include <wx/menu.h>

namespace client {

class OpenMenus {
 public:
  static bool AnyOpen();
  // Takes the innermost menu down as a click beside it would: nothing is
  // chosen.
  static void DismissInnermost();

  // Marks `menu` as shown for the scope's life.
  class Scope {
   public:
    explicit Scope(wxMenu& menu);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    wxMenu& m_menu;
  };
};

}  // namespace client
