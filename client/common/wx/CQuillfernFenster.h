#pragma once
// The program's top-level frame window: no system caption or border, a
// rounded shape, and its own bevelled frame with caption, round close and
// minimise buttons and a slim scroll track. The main window is built on it.
// Its position is written to the profile when it goes away, unless it lies
// partly off the top or left of the screen.

#include "client/common/wx/quillfern_frame_base.h"

class CQuillfernFenster : public QuillfernFrameBase<wxFrame> {
 public:
  // Reads the colours (see QuillfernFrameBase); the window is made by
  // Create.
  explicit CQuillfernFenster(platform::profile profile = platform::profile::application());
  ~CQuillfernFenster();

  bool Create(wxWindow* parent, const wxString& title, const wxPoint& pos = wxDefaultPosition,
              const wxSize& size = wxDefaultSize);

 protected:
  void OnFrameResized() override;
};
