#pragma once
// The mouse on the main window's self-drawn frame, without the window: the
// close and minimise buttons act when the button is released over the
// button it was pressed on, the scroll thumb follows a drag along its
// track, the caption moves the window and the borders resize it. The hit
// test is HitTestFrame; the window feeds the events in and carries out what
// comes back.

#include "client/common/frame_layout.h"
#include "client/common/frame_model.h"

#include <cstdint>
#include <optional>

namespace client {

// The rows follow a dragged thumb at most this often.
inline constexpr std::uint32_t kThumbLayoutMs = 50;

struct FrameMouseResult {
  bool begin_move = false;    // the window follows the mouse (caption)
  bool begin_resize = false;  // one edge or corner follows it: `edge`
  FrameHit edge = FrameHit::Client;
  bool close = false;     // the close button was clicked: the program ends
  bool minimise = false;  // the minimise button was clicked
  bool redraw = false;    // the frame (thumb, buttons) changed
  bool relayout = false;  // the thumb moved: the rows follow
};

class FrameMouse {
 public:
  // Point `p` relative to the window's top-left corner.
  FrameMouseResult LeftDown(FrameHit hit, Point p, FrameModel& model);
  // A right button press on the thumb starts a drag as well.
  FrameMouseResult RightDown(FrameHit hit, Point p, FrameModel& model);
  FrameMouseResult LeftUp(FrameHit hit, FrameModel& model);
  // `now` in milliseconds (TickMs).
  FrameMouseResult Motion(FrameHit hit, Point p, FrameModel& model, std::uint32_t now);
  // The mouse left the window: nothing is hot any more.
  FrameMouseResult Leave(FrameModel& model);

  bool DraggingThumb() const { return m_dragFrom.has_value(); }
  bool ClosePressed() const { return m_closePressed; }
  bool MinimisePressed() const { return m_minimisePressed; }

 private:
  // The hot flags follow the point; true when one changed.
  static bool SetHot(FrameHit hit, bool dragging, FrameModel& model);

  bool m_closePressed = false;
  bool m_minimisePressed = false;
  std::optional<Point> m_dragFrom;
  std::uint32_t m_lastLayout = 0;
};

// A window move or resize done by hand (where the window manager does not
// do it): the window rectangle `start` (screen coordinates) after the
// mouse moved by `delta` since the press on `hit` (Caption moves, the
// borders and corners resize). The window never gets smaller than the
// frame around the smallest client area.
Rect DraggedWindowRect(FrameHit hit, const Rect& start, Point delta);

}  // namespace client
