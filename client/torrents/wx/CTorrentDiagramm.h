#pragma once
// A torrent's row window: the torrent's chart (CDiagramm) over its
// client::TorrentItem, driven by client::TorrentRow. The rows' owner ticks
// it every 500 ms once its timer is armed (one timer for all rows), it
// repaints only when the tick says something shown changed, opens
// the torrent's context menu on the right button and shows the hover hint
// after the mouse rested 400 ms. The torrent owns the window: it destroys
// it when it goes (TorrentView::DestroyView).

#include "client/common/wx/CDiagramm.h"
#include "client/common/wx/wx_ui_services.h"
#include "client/torrents/torrent_row.h"

#include <wx/timer.h>

#include <functional>
#include <optional>

namespace client {
class DhtControl;
}

// What a row needs of the main window.
class TorrentRowOwner {
 public:
  virtual ~TorrentRowOwner() = default;
  // Asks the user (the menu); null: the row's own.
  virtual client::UiServices* RowUi() { return nullptr; }
  // The menu's "View Peers" and "Properties" (the latter also a double
  // click on the row).
  virtual void ShowTorrentPeers(client::TorrentItem&) {}
  virtual void ShowTorrentProperties(client::TorrentItem&) {}
  // The mouse wheel turned over a row: the rows scroll.
  virtual void RowWheel(const wxMouseEvent&) {}
  // The row window goes.
  virtual void RowGone(class CTorrentDiagramm*) {}
};

class CTorrentDiagramm : public CDiagramm, public client::TorrentView {
 public:
  // The hint is this wide.
  static constexpr int kHintWidth = 300;

  CTorrentDiagramm(client::TorrentItem& torrent, TorrentRowOwner& owner, std::string color_scheme_folder,
                   client::ColorRef main_frame_color);
  ~CTorrentDiagramm() override;

  // Makes the window at `top_left` in `parent` and arms the row's tick.
  bool Create(wxWindow* parent, const wxPoint& top_left, bool row_mode);

  // TorrentView.
  void ArmTimer() override;
  void Repaint() override;
  void DestroyView() override;

  // Stops the row's tick and the hover timer for good (before the engine
  // stops); the row then only paints what it shows.
  void StopTimers();
  // The row wants its 500 ms tick.
  bool TickArmed() const { return m_tickArmed && Live(); }
  // Paints what the torrent's tick of this round found.
  void Paint(const std::optional<client::TorrentTick>& tick);
  // Runs a menu command as if chosen from the context menu.
  void RunMenuCommand(int id);

  // The torrent, null once it let go of its window.
  client::TorrentItem* Torrent() const { return m_torrent; }
  client::TorrentRow* Row() { return m_row.get(); }
  // Ticks served and paints done (tests).
  int TickCount() const { return m_ticks; }
  int PaintCount() const { return m_paints; }
  // The row's context menu is open (tests).
  bool MenuOpen() const { return m_menuOpen; }

 private:
  void OnHoverTimer(wxTimerEvent& event);
  void OnPaintCounted(wxPaintEvent& event);
  void OnRightDown(wxMouseEvent& event);
  void OnDoubleClick(wxMouseEvent& event);
  // A double click anywhere on the row's window is the row's, also where
  // its shape leaves the corners free.
  bool TryBefore(wxEvent& event) override;
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);
  // Does what a hover step says.
  void Apply(const client::HoverTracker::Step& step);
  void Act(client::RowAction action);
  // Hides the hint when it is this row's.
  void HideHint();
  client::UiServices& Ui();
  // The row still serves its torrent: timers, menu, hover.
  bool Live() const { return m_row && !m_stopped; }

  client::TorrentItem* m_torrent;
  std::unique_ptr<client::TorrentRow> m_row;
  TorrentRowOwner& m_owner;
  client::WxUiServices m_ui;
  wxTimer m_hoverTimer;
  bool m_tickArmed = false;
  int m_ticks = 0;
  int m_paints = 0;
  bool m_stopped = false;
  bool m_menuOpen = false;
  bool m_destroyAfterMenu = false;  // the torrent went while the menu was open
};
