#pragma once
// A torrent's row, without the window: its 500 ms tick, its context menu
// and its hover hint.
//
// Every tick reads the engine's status of the torrent and turns it into
// the texts and needle values the chart draws, chooses the row's status
// (and with it the colours), shows a remaining-time estimate, tests the
// seeding goal, rotates the trackers, hands the DHT's peers to the engine,
// and repaints the row only when something shown changed.

#include "client/common/ui_services.h"
#include "client/torrents/dht_control.h"
#include "client/torrents/hover_tracker.h"
#include "client/torrents/torrent_item.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace client {

inline constexpr std::uint32_t kRowTickMs = 500;
// Ticks between two tracker rotations (45 minutes).
inline constexpr std::uint32_t kTrackerRotationTicks = 5400;
// Ticks between two DHT peer hand-overs: 15 minutes while the torrent has
// peers, 2.5 minutes while it has none.
inline constexpr std::uint32_t kDhtTicksWithPeers = 1800;
inline constexpr std::uint32_t kDhtTicksWithoutPeers = 300;

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
  explicit TorrentRow(TorrentItem& torrent) : m_torrent(torrent) {}

  // One tick; `dht` is the program's DHT node, if any. `status` is the
  // torrent's status read for all rows at once (an empty one: the engine
  // no longer has it); null: the tick asks the engine itself. True when
  // the row was repainted. Never throws.
  bool Tick(DhtControl* dht, const std::optional<engine::torrent_status>* status = nullptr);
  // Every kTrackerRotationTicks calls another tracker of two or more leads
  // (tier 0), the others following in list order.
  void RotateTrackers();
  // Every `interval` calls the peers the DHT keeps for the torrent are
  // handed to the engine.
  void ConnectDhtPeers(DhtControl* dht, std::uint32_t interval);

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
  // Steps of the tick after the validity test.
  void Show(DhtControl* dht, const engine::torrent_status* status);
  void ShowRunning(const engine::torrent_status& status, int status_before, DhtControl* dht);
  void SetState(std::wstring text, int status);
  // The engine's state as the row shows it.
  std::int32_t RowState(const engine::torrent_status& status) const;
  void ShowDownloadEstimate(const engine::torrent_status& status);
  HoverTracker::Step Hover(HoverTracker::Step step);

  TorrentItem& m_torrent;
  HoverTracker m_hover;
};

}  // namespace client
