#pragma once
// The main window's drop target. Files and links arrive as a
// "text/uri-list" (the form GTK drags them in): local .torrent files are
// added, http and https links downloaded and then added. The data can be
// read only at the drop, so the types are checked there; a drop with
// anything else in it is refused whole. The adding runs after the drop has
// ended, on the GUI thread.

#include "client/torrents/torrent_adder.h"

#include <wx/dnd.h>

#include <string_view>

class wxWindow;

class CPlatsch : public wxDropTarget {
 public:
  // Drops on `window` go to `adder`; both outlive the target.
  CPlatsch(wxWindow* window, client::TorrentAdder& adder);

  wxDragResult OnEnter(wxCoord x, wxCoord y, wxDragResult def) override;
  wxDragResult OnDragOver(wxCoord x, wxCoord y, wxDragResult def) override;
  wxDragResult OnData(wxCoord x, wxCoord y, wxDragResult def) override;

  // The dropped list: what it holds is handed to the adder (later), or the
  // drop refused (wxDragNone).
  wxDragResult Dropped(std::string_view uri_list, wxDragResult def);

 private:
  wxWindow* m_window;
  client::TorrentAdder& m_adder;
};
