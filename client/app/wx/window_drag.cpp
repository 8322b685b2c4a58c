#include "client/app/wx/window_drag.h"

#include <wx/utils.h>

#include <dlfcn.h>

#ifdef __WXGTK__
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace {

#ifdef __WXGTK__
// GTK is the toolkit under wx here, already loaded: its two calls are
// looked up at run time, so the build needs no GTK headers.
using MoveDrag = void (*)(void* window, int button, int root_x, int root_y, unsigned timestamp);
using ResizeDrag = void (*)(void* window, int edge, int button, int root_x, int root_y, unsigned timestamp);

template <class F>
F Lookup(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

// GdkWindowEdge.
int GdkEdge(client::FrameHit edge) {
  switch (edge) {
    case client::FrameHit::TopLeft: return 0;
    case client::FrameHit::Top: return 1;
    case client::FrameHit::TopRight: return 2;
    case client::FrameHit::Left: return 3;
    case client::FrameHit::Right: return 4;
    case client::FrameHit::BottomLeft: return 5;
    case client::FrameHit::Bottom: return 6;
    case client::FrameHit::BottomRight: return 7;
    default: return -1;
  }
}

// The window named by `property` of `window` (a WINDOW property), or 0.
Window WindowProperty(Display* display, Window window, Atom property) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window found = 0;
  if (XGetWindowProperty(display, window, property, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
          Success &&
      data && type == XA_WINDOW && format == 32 && count == 1)
    found = *reinterpret_cast<Window*>(data);
  if (data) XFree(data);
  return found;
}

// True when `atom` is among the root window's _NET_SUPPORTED atoms.
bool Supported(Display* display, Atom atom) {
  const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(display, DefaultRootWindow(display), supported, 0, 4096, False, XA_ATOM, &type, &format,
                         &count, &after, &data) == Success &&
      data && type == XA_ATOM && format == 32) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < count && !found; ++i) found = atoms[i] == atom;
  }
  if (data) XFree(data);
  return found;
}
#endif

}  // namespace

bool WindowManagerMovesWindows() {
#ifdef __WXGTK__
  const wxDisplayInfo info = wxGetDisplayInfo();
  if (info.type == wxDisplayWayland) return true;  // the compositor does it
  if (info.type != wxDisplayX11 || !info.dpy) return false;
  // A window manager after the desktop's rules names its check window on
  // the root window and on that window itself (a stale name from one that
  // ended does not count), and lists _NET_WM_MOVERESIZE as supported.
  auto* display = static_cast<Display*>(info.dpy);
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  const Window wm = WindowProperty(display, DefaultRootWindow(display), check);
  if (!wm || WindowProperty(display, wm, check) != wm) return false;
  return Supported(display, XInternAtom(display, "_NET_WM_MOVERESIZE", False));
#else
  return false;
#endif
}

void LetWindowManagerResize(wxTopLevelWindow* window) {
#ifdef __WXGTK__
  // wx asks the window manager for no resizing on a window without a
  // border, and a window manager then refuses to resize it by the borders
  // the window draws itself.
  using WindowOf = void* (*)(void* widget);
  using SetFunctions = void (*)(void* gdk_window, int functions);
  static const WindowOf window_of = Lookup<WindowOf>("gtk_widget_get_window");
  static const SetFunctions set_functions = Lookup<SetFunctions>("gdk_window_set_functions");
  if (!window_of || !set_functions || !window->GetHandle()) return;
  // GdkWMFunction: resize, move, minimise, close.
  constexpr int kResize = 1 << 1, kMove = 1 << 2, kMinimize = 1 << 3, kClose = 1 << 5;
  if (void* gdk_window = window_of(window->GetHandle())) set_functions(gdk_window, kResize | kMove | kMinimize | kClose);
#else
  (void)window;
#endif
}

bool BeginWindowManagerMove(wxTopLevelWindow* window, int button, const wxPoint& screen) {
#ifdef __WXGTK__
  static const MoveDrag move = Lookup<MoveDrag>("gtk_window_begin_move_drag");
  if (!move || !window->GetHandle() || !WindowManagerMovesWindows()) return false;
  move(window->GetHandle(), button, screen.x, screen.y, 0);
  return true;
#else
  (void)window, (void)button, (void)screen;
  return false;
#endif
}

bool BeginWindowManagerResize(wxTopLevelWindow* window, client::FrameHit edge, int button, const wxPoint& screen) {
#ifdef __WXGTK__
  static const ResizeDrag resize = Lookup<ResizeDrag>("gtk_window_begin_resize_drag");
  const int gdk_edge = GdkEdge(edge);
  if (!resize || gdk_edge < 0 || !window->GetHandle() || !WindowManagerMovesWindows()) return false;
  resize(window->GetHandle(), gdk_edge, button, screen.x, screen.y, 0);
  return true;
#else
  (void)window, (void)edge, (void)button, (void)screen;
  return false;
#endif
}
