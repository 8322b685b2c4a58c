#pragma once
// The main window's tray icon: shown while the window is minimised to the
// tray. A left click brings the window back; a right click offers
// "Options" and "Close".

#include <wx/taskbar.h>

#include <functional>
#include <string>

class QuillfernTrayIcon : public wxTaskBarIcon {
 public:
  struct Actions {
    std::function<void()> restore;  // left click
    std::function<void()> options;  // menu "Options"
    std::function<void()> close;    // menu "Close": the program ends
  };
  explicit QuillfernTrayIcon(Actions actions);

  // A tray exists on this desktop (a notification area is running).
  static bool TrayAvailable();

  // Shows the icon with the tip (cut to the tray's 127 characters).
  bool Show(const std::wstring& tip);
  // A new tip while the icon is shown.
  void SetTip(const std::wstring& tip);
  void HideIcon() { RemoveIcon(); }
  // The tip as last set (tests).
  const std::wstring& Tip() const { return m_tip; }

 protected:
  wxMenu* CreatePopupMenu() override;

 private:
  Actions m_actions;
  std::wstring m_tip;
};
