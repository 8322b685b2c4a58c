#include "client/wx/window_drag.h"

#include <dlfcn.h>

namespace {

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

}  // namespace

bool BeginWindowManagerMove(wxTopLevelWindow* window, int button, const wxPoint& screen) {
#ifdef __WXGTK__
  static const MoveDrag move = Lookup<MoveDrag>("gtk_window_begin_move_drag");
  if (!move || !window->GetHandle()) return false;
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
  if (!resize || gdk_edge < 0 || !window->GetHandle()) return false;
  resize(window->GetHandle(), gdk_edge, button, screen.x, screen.y, 0);
  return true;
#else
  (void)window, (void)edge, (void)button, (void)screen;
  return false;
#endif
}
