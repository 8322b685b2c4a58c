#pragma once
// The self-drawn frame as a child of another window: the colour editor
// shows the main window's frame with it as a live preview.

#include "client/common/wx/quillfern_frame_base.h"

class CQuillfernFensterChild : public QuillfernFrameBase<wxWindow> {
 public:
  // Reads the colours (see QuillfernFrameBase) from this program's
  // profile; the window is made by Create.
  explicit CQuillfernFensterChild(platform::profile profile = platform::profile::application());

  bool Create(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos, const wxSize& size);
};
