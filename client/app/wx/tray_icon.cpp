#include "client/app/wx/tray_icon.h"

#include "client/common/icon_resources.h"
#include "client/common/wx/icons.h"
#include "client/app/main_menu.h"
#include "client/app/main_timer.h"

#include <wx/menu.h>

QuillfernTrayIcon::QuillfernTrayIcon(Actions actions) : m_actions(std::move(actions)) {
  Bind(wxEVT_TASKBAR_LEFT_DOWN, [this](wxTaskBarIconEvent&) {
    if (m_actions.restore) m_actions.restore();
  });
  Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
    if (event.GetId() == client::tray_menu::kOptions && m_actions.options) m_actions.options();
    if (event.GetId() == client::tray_menu::kClose && m_actions.close) m_actions.close();
  });
}

bool QuillfernTrayIcon::TrayAvailable() { return wxTaskBarIcon::IsAvailable(); }

bool QuillfernTrayIcon::Show(const std::wstring& tip) {
  m_tip = client::TrayTipText(tip);
  return SetIcon(LoadIconResource(client::kTrayIcon), m_tip);
}

void QuillfernTrayIcon::SetTip(const std::wstring& tip) {
  if (!IsIconInstalled()) return;
  Show(tip);
}

wxMenu* QuillfernTrayIcon::CreatePopupMenu() {
  auto* menu = new wxMenu;
  for (const auto& item : client::TrayMenuItems()) menu->Append(item.id, wxString::FromUTF8(item.text));
  return menu;
}
