#pragma once
// The editor's live preview: a frame window painted with the main colour
// block, holding a chart painted from the global chart colour table for
// one status. The dialog talks to it only through this interface.

#include "client/common/color_scheme.h"
#include "platform/profile.h"

#include <memory>
#include <string>

#include <wx/gdicmn.h>

class wxWindow;

namespace tintwright {

class SchemePreview {
 public:
  virtual ~SchemePreview() = default;

  // The frame takes the block's colours and repaints, caption and border
  // included.
  virtual void SetMainColors(const client::MainColorBlock& block) = 0;
  // The chart's table changed: the chart makes its drawing objects anew
  // and repaints.
  virtual void ChartColorsChanged() = 0;
  // The chart shows the entry of this status.
  virtual void SetStatus(int status) = 0;

  virtual wxWindow* FrameWindow() = 0;
  virtual wxWindow* ChartWindow() = 0;
};

// The preview as a child of `parent` at `rect` (pixels); its windows
// belong to the parent. The frame starts with `block`; the chart paints
// from the global diagram colour table, which the first chart of the
// process loads from `folder`, else from `profile` (the editor's).
std::unique_ptr<SchemePreview> CreateSchemePreview(wxWindow* parent, const wxRect& rect,
                                                   const platform::profile& profile, const std::string& folder,
                                                   const client::MainColorBlock& block);

}  // namespace tintwright
