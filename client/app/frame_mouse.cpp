#include "client/app/frame_mouse.h"

#include "platform/clock.h"

#include <algorithm>

namespace client {

bool FrameMouse::SetHot(FrameHit hit, bool dragging, FrameModel& model) {
  const bool close = hit == FrameHit::Close;
  const bool minimise = hit == FrameHit::MinButton;
  const bool thumb = hit == FrameHit::VScroll;
  const bool changed = model.close_hot != close || model.minimise_hot != minimise || model.thumb_hot != thumb ||
                       model.thumb_pressed != dragging;
  model.close_hot = close;
  model.minimise_hot = minimise;
  model.thumb_hot = thumb;
  model.thumb_pressed = dragging;
  return changed;
}

FrameMouseResult FrameMouse::LeftDown(FrameHit hit, Point p, FrameModel& model) {
  FrameMouseResult r;
  m_closePressed = m_minimisePressed = false;
  switch (hit) {
    case FrameHit::VScroll:
      m_dragFrom = p;
      r.redraw = true;
      break;
    case FrameHit::Close:
      m_closePressed = true;
      r.redraw = true;
      break;
    case FrameHit::MinButton:
      m_minimisePressed = true;
      r.redraw = true;
      break;
    case FrameHit::Caption:
      r.begin_move = true;
      break;
    case FrameHit::Client:
      break;
    default:
      r.begin_resize = true;
      r.edge = hit;
      break;
  }
  r.redraw = SetHot(hit, DraggingThumb(), model) || r.redraw;
  return r;
}

FrameMouseResult FrameMouse::RightDown(FrameHit hit, Point p, FrameModel& model) {
  FrameMouseResult r;
  if (hit != FrameHit::VScroll) return r;
  m_dragFrom = p;
  r.redraw = SetHot(hit, true, model) || true;
  return r;
}

FrameMouseResult FrameMouse::LeftUp(FrameHit hit, FrameModel& model) {
  FrameMouseResult r;
  if (m_dragFrom) {
    m_dragFrom.reset();
    r.redraw = true;
    // The rows end where the thumb ended.
    r.relayout = true;
  }
  if (hit == FrameHit::Close && m_closePressed) r.close = true;
  else if (hit == FrameHit::MinButton && m_minimisePressed) r.minimise = true;
  if (m_closePressed || m_minimisePressed) r.redraw = true;
  m_closePressed = m_minimisePressed = false;
  r.redraw = SetHot(hit, false, model) || r.redraw;
  return r;
}

FrameMouseResult FrameMouse::Motion(FrameHit hit, Point p, FrameModel& model, std::uint32_t now) {
  FrameMouseResult r;
  if (m_dragFrom) {
    const int top = model.layout.ClampThumbTop(model.thumb_top + (p.y - m_dragFrom->y));
    m_dragFrom = p;
    if (top != model.thumb_top) {
      model.thumb_top = top;
      r.redraw = true;
      if (platform::elapsed_ms(now, m_lastLayout) >= kThumbLayoutMs) {
        m_lastLayout = now;
        r.relayout = true;
      }
    }
  }
  if (m_closePressed && hit != FrameHit::Close) {
    m_closePressed = false;
    r.redraw = true;
  }
  if (m_minimisePressed && hit != FrameHit::MinButton) {
    m_minimisePressed = false;
    r.redraw = true;
  }
  r.redraw = SetHot(hit, DraggingThumb(), model) || r.redraw;
  return r;
}

FrameMouseResult FrameMouse::Leave(FrameModel& model) {
  FrameMouseResult r;
  r.redraw = SetHot(FrameHit::Client, DraggingThumb(), model);
  return r;
}

Rect DraggedWindowRect(FrameHit hit, const Rect& start, Point d) {
  constexpr int min_width = kMinClientSize + kFrameLeft + kFrameRight;
  constexpr int min_height = kMinClientSize + kFrameTop + kFrameBottom;
  if (hit == FrameHit::Caption) return start.Offset(d.x, d.y);
  Rect r = start;
  const bool left = hit == FrameHit::Left || hit == FrameHit::TopLeft || hit == FrameHit::BottomLeft;
  const bool right = hit == FrameHit::Right || hit == FrameHit::TopRight || hit == FrameHit::BottomRight;
  const bool top = hit == FrameHit::Top || hit == FrameHit::TopLeft || hit == FrameHit::TopRight;
  const bool bottom = hit == FrameHit::Bottom || hit == FrameHit::BottomLeft || hit == FrameHit::BottomRight;
  if (left) r.left = std::min(start.left + d.x, start.right - min_width);
  if (right) r.right = std::max(start.right + d.x, start.left + min_width);
  if (top) r.top = std::min(start.top + d.y, start.bottom - min_height);
  if (bottom) r.bottom = std::max(start.bottom + d.y, start.top + min_height);
  return r;
}

}  // namespace client
