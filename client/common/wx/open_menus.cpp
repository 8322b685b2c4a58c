#include "client/common/wx/open_menus.h"

#include <algorithm>
#include <dlfcn.h>
#include <vector>

namespace client {
namespace {

std::vector<wxMenu*>& Shown() {
  static std::vector<wxMenu*> menus;
  return menus;
}

}  // namespace

bool OpenMenus::AnyOpen() { return !Shown().empty(); }

void OpenMenus::DismissInnermost() {
  if (Shown().empty()) return;
#ifdef __WXGTK__
  // GTK is already loaded under wx; its call is looked up at run time so
  // the build needs no GTK headers.
  using Popdown = void (*)(void* menu);
  static const auto popdown = reinterpret_cast<Popdown>(dlsym(RTLD_DEFAULT, "gtk_menu_popdown"));
  if (popdown && Shown().back()->m_menu) popdown(Shown().back()->m_menu);
#endif
}

OpenMenus::Scope::Scope(wxMenu& menu) : m_menu(menu) { Shown().push_back(&menu); }

OpenMenus::Scope::~Scope() {
  auto& menus = Shown();
  const auto it = std::find(menus.rbegin(), menus.rend(), &m_menu);
  if (it != menus.rend()) menus.erase(std::next(it).base());
}

}  // namespace client
