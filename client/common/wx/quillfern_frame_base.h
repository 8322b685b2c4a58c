#pragma once
// The self-drawn frame on a wx window: the window itself draws the frame
// (bevel, caption, buttons, scroll track) and a child window covering the
// client area draws the notice, status line and info text. `Base` is
// wxFrame for the top-level frame (CQuillfernFenster) or wxWindow for a
// frame living inside another window (CQuillfernFensterChild, the colour
// editor's preview); everything else is the same.

#include "client/common/frame_model.h"
#include "client/common/wx/frame_painter.h"
#include "platform/profile.h"

#include <wx/frame.h>
#include <wx/window.h>

#include <string>

template <class Base>
class QuillfernFrameBase : public Base {
 public:
  client::FrameModel& Model() { return m_model; }
  const client::FrameModel& Model() const { return m_model; }
  const FrameDrawingObjects& DrawingObjects() const { return m_objects; }
  platform::profile& Profile() { return m_profile; }

  // The window covering the client area. Windows shown in the client area
  // are made its children and placed in client coordinates; client-area
  // mouse input arrives there.
  wxWindow* ClientArea() const { return m_client; }

  // Loads the colour block from `folder` + "Main Colors.tnts", else from the
  // profile value "Main Colors"; when neither holds a whole record the
  // block becomes the defaults and the result is false. The drawing
  // objects are not remade (CreateDrawingObjects).
  bool LoadMainColors(const std::string& folder);
  // Writes the block to the profile and, with a folder, to its file.
  bool SaveMainColors(const std::string& folder);
  // Makes the pens, brushes and fonts from the colour block again. `first`
  // only tells the first making from a remaking after an edit.
  void CreateDrawingObjects(bool first);

  // A changed title is stored, becomes the window's text and is redrawn.
  void SetTitle(const wxString& title);
  // The window became active or inactive (the title's colour follows).
  void SetActive(bool active);

  // Repaint the frame, or the client area, from the current state.
  void RedrawFrame();
  void RedrawClient();

  // Paints the client area in client coordinates; windows built on the
  // frame draw more on top.
  virtual void PaintClientArea(wxDC& dc);

 protected:
  // Reads "ColorSchemePath" (section "Configuration") from `profile`, loads
  // the colours from that folder (defaults when that fails) and makes the
  // drawing objects. The window is created by the flavour.
  explicit QuillfernFrameBase(platform::profile profile);
  // Called by the flavour right after its window exists.
  void InitFrame();
  // After each change of size (the top-level frame reshapes itself).
  virtual void OnFrameResized() {}

 private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void Relayout();

  platform::profile m_profile;
  client::FrameModel m_model;
  FrameDrawingObjects m_objects;
  wxWindow* m_client = nullptr;
};

extern template class QuillfernFrameBase<wxFrame>;
extern template class QuillfernFrameBase<wxWindow>;
