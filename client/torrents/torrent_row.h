#pragma once
// A torrent's row, without the window: what it paints of each tick of its
// torrent, its context menu and its hover hint.
//
// Every tick of the torrent (TorrentItem::Tick) is turned into the texts
// and needle values the chart draws and a remaining-time estimate; the row
// repaints only when something shown changed. The torrent's behaviour
// (its status, the seeding goal, the trackers, the DHT) is the torrent's.

#include "client/common/ui_services.h"
#include "client/torrents/hover_tracker.h"
#include "client/torrents/torrent_item.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace client {

inline constexpr std::uint32_t kRowTickMs = 500;

// The context menu's command ids.
namespace torrent_menu {
inline constexpr int kQueue = 1;
inline constexpr int kResume = 2;
inline constexpr int kRemove = 3;
inline constexpr int kShowState = 4;  // "Show state" / "Show name"
inline constexpr int kPause = 9;
inline constexpr int kViewLog = 100;
inline constexpr int kViewPeers = 101;
inline constexpr int kSeedingForever = 1000;
inline constexpr int kSeeding30 = 1030;
inline constexpr int kSeeding60 = 1060;
inline constexpr int kReannounce = 2000;
inline constexpr int kAddDbNodes = 2001;
inline constexpr int kProperties = 3000;
inline constexpr int kBitCometUdp = 4000;
// Out of wx's stock id range (4999..5999).
inline constexpr int kPriorityLow = 6000;
inline constexpr int kPriorityNormal = 6001;
inline constexpr int kPriorityHigh = 6002;
}  // namespace torrent_menu

// What the window does after a menu command.
enum class RowAction {
  None,
  ShowPeers,         // the peers dialog (PeersDialogTitle)
  ShowProperties,    // the torrent detail dialog
  AddDatabaseNodes,  // queued to the row itself: the store's DHT nodes
};

class TorrentRow {
 public:
  explicit TorrentRow(TorrentItem& torrent) : m_torrent(torrent), m_paintedStatus(torrent.Status()) {}

  // Shows what the torrent's tick found (none: nothing new, only a status
  // the torrent changed meanwhile). True when the row was repainted.
  bool Paint(const std::optional<TorrentTick>& tick);

  // The context menu as it stands.
  std::vector<MenuItem> Menu() const;
  // Runs a menu command; the row is repainted after it.
  RowAction RunCommand(int id, UiServices& ui);
  // The right button: the row stays highlighted, the menu opens at the
  // screen point and the chosen command runs.
  RowAction ContextMenu(UiServices& ui, int screen_x, int screen_y);
  // The first half of that, for a window whose menu runs a loop of its
  // own: the row is highlighted and the menu given to show.
  std::vector<MenuItem> OpenContextMenu();

  // Hover events; the hint shows HintText 300 pixels wide at the point.
  HoverTracker::Step OnMouseMove(Point at);
  HoverTracker::Step OnHoverTimer();
  HoverTracker::Step OnMouseLeave();
  std::wstring HintText() const;

  std::wstring PeersDialogTitle() const;

 private:
  void Show(const TorrentTick& tick);
  // The state text of the activity; none: the text stays.
  std::optional<std::wstring> StateText(const TorrentTick& tick) const;
  void ShowDownloadEstimate(const engine::torrent_status& status);
  HoverTracker::Step Hover(HoverTracker::Step step);

  TorrentItem& m_torrent;
  HoverTracker m_hover;
  // The status last painted: its colours are part of what is shown.
  int m_paintedStatus;
};

}  // namespace client
