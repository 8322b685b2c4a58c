#pragma once
// The main window's torrent rows: makes each torrent's row window
// (CTorrentDiagramm) in the client area, lays the rows out in list order
// (client::LayOutRows) at the frame's thumb (Model().thumb_top, which the
// frame's mouse moves), shows only the rows in sight, ticks every row
// every 500 ms from one timer with the status of all torrents read in one
// pass, and stops the ticks at shut-down. The torrents own their windows;
// this keeps track of the ones alive.

#include "client/app/rows_layout.h"
#include "client/torrents/wx/CTorrentDiagramm.h"

#include <functional>
#include <memory>
#include <vector>

class CQuillfernFenster;

namespace client {
class MainWindowCore;
}

class TorrentRowWindows : public TorrentRowOwner {
 public:
  TorrentRowWindows(CQuillfernFenster& frame, client::MainWindowCore& core);
  ~TorrentRowWindows() override;
  TorrentRowWindows(const TorrentRowWindows&) = delete;
  TorrentRowWindows& operator=(const TorrentRowWindows&) = delete;

  // Makes the torrent's row window; false when it cannot be made.
  bool CreateRow(client::TorrentItem& torrent);
  // Lays the rows out at the thumb and repaints; false without rows.
  bool Layout();
  // A scroll step of the thumb, then the layout.
  void Scroll(client::ScrollCode code);
  // The mouse wheel: each notch scrolls by the desktop's lines per notch,
  // up when turned away from the user.
  void Wheel(const wxMouseEvent& event);
  // The rows as strips ("Simple Display", kept for the next run) or as
  // charts.
  void SetSimpleDisplay(bool simple);
  bool SimpleDisplay() const;
  // Stops every row's timers; the engine is about to stop.
  void StopTimers();
  // One 500 ms round: every row whose tick is armed, in list order.
  void TickRows();

  // The row window of a torrent, or null (also once the torrent let go
  // of it).
  CTorrentDiagramm* RowOf(const client::TorrentItem& torrent) const;
  const std::vector<CTorrentDiagramm*>& Rows() const { return m_rows; }
  const client::RowsLayout& LastLayout() const { return m_layout; }
  // The part of the client area the rows take (client::RowsArea), and its
  // height.
  client::Rect Area() const;
  int VisibleHeight() const;
  // The window the rows live in (it cuts them off at the area's edges);
  // made with the first row.
  wxWindow* PaneWindow();

  // The rows' "View Peers" and "Properties" (the main window sets them;
  // empty: nothing happens).
  std::function<void(client::TorrentItem&)> show_peers;
  std::function<void(client::TorrentItem&)> show_properties;
  // Asks the user for the rows' menus instead of the rows themselves (tests).
  client::UiServices* ui = nullptr;

  // TorrentRowOwner.
  client::UiServices* RowUi() override { return ui; }
  void ShowTorrentPeers(client::TorrentItem& torrent) override;
  void ShowTorrentProperties(client::TorrentItem& torrent) override;
  void RowWheel(const wxMouseEvent& event) override { Wheel(event); }
  void RowGone(CTorrentDiagramm* row) override;

 private:
  class Pane;
  class TickTimer;
  client::ThumbTrack Track() const;

  CQuillfernFenster& m_frame;
  client::MainWindowCore& m_core;
  std::vector<CTorrentDiagramm*> m_rows;
  client::RowsLayout m_layout;
  Pane* m_pane = nullptr;  // a child of the client area
  int m_wheelRest = 0;
  std::unique_ptr<TickTimer> m_tickTimer;
  // A round is ticking: rows that go leave a hole in m_rows, closed after.
  bool m_ticking = false;
};
