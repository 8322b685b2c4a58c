#include "client/common/wx/modal_dialogs.h"

#include "client/common/wx/open_menus.h"

#include <wx/dialog.h>

#include <algorithm>
#include <dlfcn.h>

namespace {

// The toolkit's own message boxes run their own loop (not wx's): they end
// with a response, as a click on their Cancel would. GTK is already loaded
// under wx; its call is looked up at run time so the build needs no GTK
// headers.
bool RespondCancel(wxDialog* dialog) {
#ifdef __WXGTK__
  using Response = void (*)(void* dialog, int response_id);
  static const auto respond = reinterpret_cast<Response>(dlsym(RTLD_DEFAULT, "gtk_dialog_response"));
  constexpr int kGtkResponseCancel = -6;
  if (!respond || !dialog->GetHandle()) return false;
  respond(dialog->GetHandle(), kGtkResponseCancel);
  return true;
#else
  (void)dialog;
  return false;
#endif
}

}  // namespace

ModalDialogs& ModalDialogs::Instance() {
  static ModalDialogs dialogs;
  return dialogs;
}

ModalDialogs::ModalDialogs() { Register(); }

ModalDialogs::~ModalDialogs() { Unregister(); }

int ModalDialogs::Enter(wxDialog* dialog) {
  if (m_refuse) return wxID_CANCEL;
  m_open.push_back({dialog, false});
  return wxID_NONE;
}

void ModalDialogs::Exit(wxDialog* dialog) {
  const auto it = std::find_if(m_open.rbegin(), m_open.rend(), [&](const Shown& s) { return s.dialog == dialog; });
  if (it != m_open.rend()) m_open.erase(std::next(it).base());
}

bool ModalDialogs::AnyOpen() const { return !m_open.empty() || client::OpenMenus::AnyOpen(); }

void ModalDialogs::EndInnermost() {
  if (client::OpenMenus::AnyOpen()) {
    client::OpenMenus::DismissInnermost();
    return;
  }
  if (m_open.empty() || m_open.back().ended) return;
  Shown& top = m_open.back();
  if (top.dialog->IsModal()) {
    top.dialog->EndModal(wxID_CANCEL);
    top.ended = true;
  } else {
    top.ended = RespondCancel(top.dialog);
  }
}
