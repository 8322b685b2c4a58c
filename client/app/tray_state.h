#pragma once
// Minimising the main window to the tray, without the window. While the
// window is minimised it is represented by a tray icon; without a tray (a
// desktop without a notification area, a bare X server) the window is
// only iconised and never hidden, since nothing could bring it back.

namespace client {

enum class MinimiseAction {
  HideToTray,  // add the tray icon (unless present) and hide the window
  Iconise,     // no tray: iconise only
};

class TrayState {
 public:
  // The user minimised the window.
  MinimiseAction Minimise(bool tray_available);
  // The window came back (tray click, or any other size change): true when
  // the tray icon is to be removed.
  bool Restore();
  // The tray icon was added or removed.
  void SetIconPresent(bool present) { m_iconPresent = present; }

  bool IconPresent() const { return m_iconPresent; }
  bool MinimisedToTray() const { return m_minimisedToTray; }

 private:
  bool m_iconPresent = false;
  bool m_minimisedToTray = false;
};

}  // namespace client
