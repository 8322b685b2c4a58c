#include "tests/gui_support/fake_tray.h"

#include <X11/Xlib.h>

#include <string>

namespace gui_test {

FakeTrayOwner::FakeTrayOwner() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return;
  m_display = display;
  const int screen = DefaultScreen(display);
  const Window owner = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 1, 1, 0, 0, 0);
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
  const Atom selection = XInternAtom(display, name.c_str(), False);
  XSetSelectionOwner(display, selection, owner, CurrentTime);
  XSync(display, False);
  m_owned = XGetSelectionOwner(display, selection) == owner;
}

FakeTrayOwner::~FakeTrayOwner() {
  // Closing the connection gives the selection up.
  if (m_display) XCloseDisplay(static_cast<Display*>(m_display));
}

}  // namespace gui_test
