#pragma once
// The peers dialog without a toolkit: one row per connection of the
// torrent (keyed by address and port), the texts of the nine columns, the
// sort order, how rows fade and are dropped when they stop appearing, the
// colours a row is drawn in, the list's geometry, the row's context menu
// (chat, ban, ban range), the chat text sent through the torrent's handle,
// the dialog's settings and where its window is placed.

#include "client/common/color_scheme.h"
#include "client/common/geometry.h"
#include "client/common/ui_services.h"
#include "client/torrents/torrent_control.h"
#include "engine/net/address.h"
#include "engine/session/peer_info.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class profile;
}

namespace client {

// Control ids of the peers dialog and of the chat text dialog.
namespace peers_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kList = 1031;
inline constexpr int kChatText = 1033;
inline constexpr int kRemoveInactive = 1034;
// The row's context menu.
inline constexpr int kMenuChat = 1;
inline constexpr int kMenuBan = 2;
inline constexpr int kMenuBanRange = 3;
}  // namespace peers_id

inline constexpr std::wstring_view kPeerInfoCaption = L"Peer Info - Quillfern";
inline constexpr std::wstring_view kPeerMessageCaption = L"Peer Message - Quillfern";

inline constexpr int kPeerColumnCount = 9;
// The first refresh comes this soon after opening, the others every second.
inline constexpr std::uint32_t kFirstRefreshMs = 100;
inline constexpr std::uint32_t kRefreshMs = 1000;
// Rows unseen for longer than this are dropped (every tenth refresh).
inline constexpr std::uint32_t kInactiveRowMs = 90000;
// Rows fade after these ages.
inline constexpr std::uint32_t kFadeMs = 30000;
inline constexpr std::uint32_t kPaleMs = 60000;
// The smallest size the dialog may be given, in pixels.
inline constexpr Size kPeersDialogMinSize = {200, 150};
// Column widths in pixels, never below 10. By default each column is wide
// enough for its header and an address or a client's name.
inline constexpr std::array<int, kPeerColumnCount> kDefaultPeerColumnWidths = {100, 110, 50, 70, 60, 60, 60, 50, 50};
inline constexpr int kMinPeerColumnWidth = 10;

enum class CellAlign { Left, Right, Center };

struct PeerColumn {
  std::wstring_view header;
  CellAlign align;
};
extern const std::array<PeerColumn, kPeerColumnCount> kPeerColumns;

// A byte total: 0 empty, up to 2048 the bytes, up to 2 MiB "K", up to 5 GiB
// "M", beyond "G" (whole units, rounded down).
std::wstring PeerBytesText(std::int64_t bytes);
// A rate in bytes/s: below 0.05 empty, else one decimal with the same units.
std::wstring PeerRateText(double bytes_per_second);
// The engine's name of the peer's program. A peer that claims to be this
// program but lacks its extension protocol is marked " [spoofed]".
std::wstring PeerClientText(const engine::peer_info& peer);
// "Ban 1.2.3.4" and "Ban 1.2.3.*".
std::wstring BanText(std::wstring_view address);
std::wstring BanRangeText(std::wstring_view address);

struct PeerRow {
  engine::peer_info info;
  std::wstring client;
  std::wstring client_lower;  // for sorting
  std::wstring address;       // "a.b.c.d"
  std::uint32_t last_seen = 0;  // TickMs() of the last refresh that listed it
  bool bold = false;            // speaks the extension protocol
  bool banned = false;
};

// The colours of one row (0x00BBGGRR).
struct PeerRowColors {
  ColorRef background = 0;
  std::array<ColorRef, kPeerColumnCount> text{};
};

// The list's geometry in pixels: the header's height, each row's height
// and the column widths; rows are laid out below each other from y = 0 of
// the rows' area (before scrolling).
struct PeerListGeometry {
  int header_height = 20;
  int row_height = 18;
  std::array<int, kPeerColumnCount> widths{};

  int TotalWidth() const;
  // The column at x, -1 right of the last one.
  int ColumnAt(int x) const;
  // The column whose right edge is within `slack` pixels of x (for
  // resizing), -1 when none.
  int DividerAt(int x, int slack) const;
  // The row index at y of the rows' area, -1 outside the `count` rows.
  int RowAt(int y, std::size_t count) const;
  Rect CellRect(std::size_t row, int column) const;
};

// What the owner does for bans: block the address (BanPeer) or its range
// a.b.c.1 - a.b.c.255 (BanPeerRange) in the program's IP filter.
struct PeerBans {
  std::function<void(const engine::address&)> ban_peer;
  std::function<void(const engine::address&)> ban_range;
};

// The window rectangle from the stored edges, kept on a screen of the given
// size: left at most width - 100 (and not left of 0), right at least left +
// 100; the same downwards. Edges compare as signed numbers.
Rect ClampPeersDialogRect(Rect stored, Size screen);

struct PeersSettings {
  std::optional<Rect> window;  // all four "PI Pos" keys present
  bool remove_inactive = true;
  std::array<int, kPeerColumnCount> widths{};
  int sort_column = 0;
  int sort_direction = 1;
};
// Profile section "Configuration": "PI Pos Left/Top/Right/Bottom", "PI
// Remove Inactive", "PI00".."PI08", "Sort Column", "Sort Direction".
PeersSettings LoadPeersSettings(const platform::profile& profile);
// The rectangle only when its left and top are both at least 1.
void SavePeersSettings(platform::profile& profile, const PeersSettings& settings, std::optional<Rect> window);

class PeersModel {
 public:
  PeersModel();

  // --- the refresh. A full refresh drops every row first. Peers come from
  // the torrent's handle; `piece_count` is the torrent's (0 without its
  // metadata). True when a row was added.
  bool Refresh(const std::vector<engine::peer_info>& peers, int piece_count, std::uint32_t now, bool full);
  // Drops rows unseen for more than kInactiveRowMs; true when any went.
  bool DropInactive();
  // One refresh tick through the handle (the first with `full`): lists the
  // peers, every tenth tick drops inactive rows (when that is on and
  // nothing was added) and re-sorts when something changed. A handle that
  // is not valid lists nothing. Never throws: a failing engine call ends
  // the tick. True when the rows changed.
  bool Tick(const TorrentHandle& handle, std::uint32_t now, bool full = false);

  const std::vector<PeerRow>& Rows() const { return m_rows; }
  std::uint32_t Now() const { return m_now; }
  std::wstring CellText(std::size_t row, int column) const;

  // --- order.
  int SortColumn() const { return m_sortColumn; }
  int SortDirection() const { return m_sortDirection; }
  // Out-of-range values become column 0 and direction 1.
  void SetSort(int column, int direction);
  // A click on the column's header: the same column flips the direction,
  // another one sorts ascending by it; re-sorts at once.
  void ClickColumn(int column);
  void Sort();
  // Negative, 0 or positive as a goes before, with or after b in the
  // current order. Ties of the column go by address and port, so no two
  // rows compare equal and the descending order is the ascending reversed.
  int Compare(const PeerRow& a, const PeerRow& b) const;

  // --- selection (kept across sorting and refreshes).
  std::optional<std::size_t> Selected() const;
  void Select(std::optional<std::size_t> row);
  // Where the peer's row is now (rows move when they are sorted).
  std::optional<std::size_t> IndexOf(const engine::address& peer) const;

  // --- drawing.
  std::uint32_t AgeOf(std::size_t row) const { return m_now - m_rows[row].last_seen; }
  PeerRowColors Colors(std::size_t row, bool selected, bool focused) const;

  // --- context menu of a row (only offered while the handle is valid).
  std::vector<MenuItem> Menu(std::size_t row) const;
  // Ban or ban range: marks every row the rule covers and asks `bans`.
  // The chat entry does nothing here (the dialog asks for the text first).
  void RunMenu(std::size_t row, int id, const PeerBans& bans);
  // Sends the text (UTF-8 on the wire) to the peer; false when the handle
  // or the peer is gone, the peer has no chat or the text is empty.
  static bool SendChat(const TorrentHandle& handle, const engine::address& peer, std::wstring_view text);

  bool remove_inactive = true;

 private:
  PeerRow* Find(const engine::address& peer);
  const PeerRow* Find(const engine::address& peer) const;

  std::vector<PeerRow> m_rows;
  std::uint32_t m_now = 0;
  int m_pieceCount = 0;
  std::uint32_t m_ticks = 0;
  int m_sortColumn = 0;
  int m_sortDirection = 1;
  std::optional<engine::address> m_selected;
};

}  // namespace client
