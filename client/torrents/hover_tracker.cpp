#include "client/torrents/hover_tracker.h"

#include "client/common/tick.h"
#include "platform/clock.h"

#include <cstdlib>

namespace client {

HoverTracker::Step HoverTracker::OnMotion(Point at) {
  Step step;
  m_last = at;
  if (!m_tracking) {
    m_tracking = true;
    m_hovering = false;
    step.repaint = true;
  } else if (!m_waiting || (std::abs(at.x - m_anchor.x) <= kSlop && std::abs(at.y - m_anchor.y) <= kSlop)) {
    // Hovering lasts until the mouse leaves; a small move keeps the wait.
    return step;
  }
  m_waiting = true;
  m_anchor = at;
  m_since = TickMs();
  step.start_timer = kHoverMs;
  return step;
}

HoverTracker::Step HoverTracker::OnTimer() {
  Step step;
  if (!m_waiting) return step;
  const std::uint32_t waited = platform::elapsed_ms(TickMs(), m_since);
  if (waited < kHoverMs) {
    // A timer from before the wait was restarted.
    step.start_timer = kHoverMs - waited;
    return step;
  }
  m_waiting = false;
  m_hovering = true;
  step.repaint = true;
  step.hover_at = m_last;
  return step;
}

HoverTracker::Step HoverTracker::OnLeave() {
  m_tracking = m_waiting = m_hovering = false;
  Step step;
  step.repaint = true;
  step.hide_hint = true;
  return step;
}

}  // namespace client
