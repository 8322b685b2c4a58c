#pragma once
// The mouse hovering over a window, as a small state machine over TickMs:
// the first move into the window starts a 400 ms one-shot timer; when it
// fires while the mouse has rested (moved no more than 2 pixels from where
// the wait began) the mouse hovers, until it leaves the window. A wider
// move restarts the wait. The window forwards its motion, leave and timer
// events and does what each step says.

#include "client/common/geometry.h"

#include <cstdint>
#include <optional>

namespace client {

class HoverTracker {
 public:
  static constexpr std::uint32_t kHoverMs = 400;
  static constexpr int kSlop = 2;

  struct Step {
    bool repaint = false;
    bool hide_hint = false;
    // (Re)start the one-shot timer with this many milliseconds.
    std::optional<std::uint32_t> start_timer;
    // The mouse came to rest here (window coordinates): show the hint.
    std::optional<Point> hover_at;
  };

  Step OnMotion(Point at);
  Step OnTimer();
  Step OnLeave();

  // The row is highlighted while this is set.
  bool Hovering() const { return m_hovering; }
  // The context menu keeps the row highlighted.
  void SetHovering(bool on) { m_hovering = on; }

 private:
  bool m_tracking = false;  // the mouse is inside; leaving is reported
  bool m_waiting = false;   // the hover timer runs
  bool m_hovering = false;
  Point m_anchor;  // where the wait began
  Point m_last;    // the last motion
  std::uint32_t m_since = 0;
};

}  // namespace client
