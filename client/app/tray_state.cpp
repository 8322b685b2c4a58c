#include "client/app/tray_state.h"

namespace client {

MinimiseAction TrayState::Minimise(bool tray_available) {
  if (!tray_available) return MinimiseAction::Iconise;
  m_minimisedToTray = true;
  return MinimiseAction::HideToTray;
}

bool TrayState::Restore() {
  if (!m_minimisedToTray) return false;
  m_minimisedToTray = false;
  return m_iconPresent;
}

}  // namespace client
