#include "client/dialogs/peers_model.h"

#include "client/base/wide_text.h"
#include "engine/session/torrent_handle.h"
#include "engine/wire/identify_client.h"
#include "platform/profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>
#include <cwctype>

namespace client {

const std::array<PeerColumn, kPeerColumnCount> kPeerColumns = {{
    {L"IP", CellAlign::Left},
    {L"Client", CellAlign::Left},
    {L"%", CellAlign::Right},
    {L"Received", CellAlign::Right},
    {L"Sent", CellAlign::Right},
    {L"UL B/s", CellAlign::Right},
    {L"DL B/s", CellAlign::Right},
    {L"Chat", CellAlign::Center},
    {L"Conn.", CellAlign::Center},
}};

namespace {

constexpr std::int64_t kKiloLimit = 2048;
constexpr std::int64_t kMegaLimit = 2097152;
constexpr std::int64_t kGigaLimit = 5368709120;
constexpr const char* kSection = "Configuration";

bool HasExtensions(const engine::peer_info& peer) { return (peer.flags & engine::peer_info::supports_extensions) != 0; }
bool IsOutgoing(const engine::peer_info& peer) { return (peer.flags & engine::peer_info::local_connection) != 0; }

// A rate as a sort key: a NaN counts as 0 so the order stays total.
double RateKey(float rate) { return std::isnan(rate) ? 0.0 : double(rate); }

template <class T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

// True first.
int TrueFirst(bool a, bool b) { return a == b ? 0 : a ? -1 : 1; }

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

std::wstring ClientOf(PeerRow& row) {
  row.client = PeerClientText(row.info);
  row.client_lower = Lower(row.client);
  return row.client;
}

std::string WidthKey(int column) {
  char key[8];
  std::snprintf(key, sizeof key, "PI%02u", unsigned(column));
  return key;
}

}  // namespace

std::wstring PeerBytesText(std::int64_t bytes) {
  if (bytes == 0) return {};
  if (bytes <= kKiloLimit) return FormatWide("%lld", static_cast<long long>(bytes));
  const auto whole = [&](std::int64_t unit, const char* suffix) {
    return FormatWide("%llu%s", static_cast<unsigned long long>(bytes / unit), suffix);
  };
  if (bytes <= kMegaLimit) return whole(1024, "K");
  if (bytes <= kGigaLimit) return whole(1048576, "M");
  return whole(1073741824, "G");
}

std::wstring PeerRateText(double rate) {
  if (!(rate >= 0.05)) return {};
  if (rate <= double(kKiloLimit)) return FormatWide("%.1f", rate);
  if (rate <= double(kMegaLimit)) return FormatWide("%.1fK", rate / 1024);
  if (rate <= double(kGigaLimit)) return FormatWide("%.1fM", rate / 1048576);
  return FormatWide("%.1fG", rate / 1073741824);
}

std::wstring PeerClientText(const engine::peer_info& peer) {
  std::wstring text = Utf8ToWide(engine::identify_client(peer.pid));
  if (!HasExtensions(peer) && text.compare(0, 9, L"Quillfern") == 0) text += L" [spoofed]";
  return text;
}

std::wstring BanText(std::wstring_view address) { return L"Ban " + std::wstring(address); }

std::wstring BanRangeText(std::wstring_view address) {
  const std::size_t dot = address.rfind(L'.');
  return L"Ban " + std::wstring(address.substr(0, dot == std::wstring_view::npos ? 0 : dot + 1)) + L"*";
}

// --- geometry

int PeerListGeometry::TotalWidth() const {
  int total = 0;
  for (int w : widths) total += w;
  return total;
}

int PeerListGeometry::ColumnAt(int x) const {
  if (x < 0) return -1;
  int left = 0;
  for (int c = 0; c < kPeerColumnCount; ++c) {
    left += widths[std::size_t(c)];
    if (x < left) return c;
  }
  return -1;
}

int PeerListGeometry::DividerAt(int x, int slack) const {
  int right = 0;
  for (int c = 0; c < kPeerColumnCount; ++c) {
    right += widths[std::size_t(c)];
    if (std::abs(x - right) <= slack) return c;
  }
  return -1;
}

int PeerListGeometry::RowAt(int y, std::size_t count) const {
  if (y < 0 || row_height <= 0) return -1;
  const std::size_t row = std::size_t(y / row_height);
  return row < count ? int(row) : -1;
}

Rect PeerListGeometry::CellRect(std::size_t row, int column) const {
  int left = 0;
  for (int c = 0; c < column; ++c) left += widths[std::size_t(c)];
  return Rect::FromSize(left, int(row) * row_height, widths[std::size_t(column)], row_height);
}

// --- settings and placement

Rect ClampPeersDialogRect(Rect stored, Size screen) {
  Rect r;
  r.left = std::max(0, std::min(stored.left, screen.cx - 100));
  r.right = std::max(stored.right, r.left + 100);
  r.top = std::max(0, std::min(stored.top, screen.cy - 100));
  r.bottom = std::max(stored.bottom, r.top + 100);
  return r;
}

PeersSettings LoadPeersSettings(const platform::profile& profile) {
  PeersSettings s;
  constexpr int kMissing = std::numeric_limits<int>::min();
  const Rect stored{profile.GetProfileInt(kSection, "PI Pos Left", kMissing),
                    profile.GetProfileInt(kSection, "PI Pos Top", kMissing),
                    profile.GetProfileInt(kSection, "PI Pos Right", kMissing),
                    profile.GetProfileInt(kSection, "PI Pos Bottom", kMissing)};
  if (stored.left != kMissing && stored.top != kMissing && stored.right != kMissing && stored.bottom != kMissing)
    s.window = stored;
  s.remove_inactive = profile.GetProfileInt(kSection, "PI Remove Inactive", 1) != 0;
  for (int c = 0; c < kPeerColumnCount; ++c)
    s.widths[std::size_t(c)] =
        std::max(kMinPeerColumnWidth, profile.GetProfileInt(kSection, WidthKey(c), kDefaultPeerColumnWidths[std::size_t(c)]));
  s.sort_column = profile.GetProfileInt(kSection, "Sort Column", 0);
  if (s.sort_column < 0 || s.sort_column >= kPeerColumnCount) s.sort_column = 0;
  s.sort_direction = profile.GetProfileInt(kSection, "Sort Direction", 1);
  if (s.sort_direction != 1 && s.sort_direction != -1) s.sort_direction = 1;
  return s;
}

void SavePeersSettings(platform::profile& profile, const PeersSettings& s, std::optional<Rect> window) {
  if (window && window->left >= 1 && window->top >= 1) {
    profile.WriteProfileInt(kSection, "PI Pos Left", window->left);
    profile.WriteProfileInt(kSection, "PI Pos Top", window->top);
    profile.WriteProfileInt(kSection, "PI Pos Right", window->right);
    profile.WriteProfileInt(kSection, "PI Pos Bottom", window->bottom);
  }
  profile.WriteProfileInt(kSection, "PI Remove Inactive", s.remove_inactive ? 1 : 0);
  profile.WriteProfileInt(kSection, "Sort Column", s.sort_column);
  profile.WriteProfileInt(kSection, "Sort Direction", s.sort_direction);
  for (int c = 0; c < kPeerColumnCount; ++c)
    profile.WriteProfileInt(kSection, WidthKey(c), std::max(kMinPeerColumnWidth, s.widths[std::size_t(c)]));
}

// --- the rows

PeersModel::PeersModel() = default;

const PeerRow* PeersModel::Find(const engine::address& peer) const {
  const auto index = IndexOf(peer);
  return index ? &m_rows[*index] : nullptr;
}

PeerRow* PeersModel::Find(const engine::address& peer) {
  return const_cast<PeerRow*>(std::as_const(*this).Find(peer));
}

bool PeersModel::Refresh(const std::vector<engine::peer_info>& peers, int piece_count, std::uint32_t now, bool full) {
  if (full) m_rows.clear();
  m_now = now;
  m_pieceCount = std::max(0, piece_count);
  bool added = false;
  for (const engine::peer_info& peer : peers) {
    PeerRow* row = Find(peer.ip);
    if (!row) {
      PeerRow fresh;
      fresh.info = peer;
      fresh.address = Utf8ToWide(peer.ip.as_string());
      ClientOf(fresh);
      m_rows.push_back(std::move(fresh));
      row = &m_rows.back();
      added = true;
    } else {
      row->info = peer;
      if (row->client.compare(0, 7, L"Unknown") == 0) ClientOf(*row);
    }
    row->last_seen = now;
    row->bold = HasExtensions(peer);
  }
  return added;
}

bool PeersModel::DropInactive() {
  const std::size_t before = m_rows.size();
  std::erase_if(m_rows, [&](const PeerRow& row) { return m_now - row.last_seen > kInactiveRowMs; });
  if (m_selected && !Find(*m_selected)) m_selected.reset();
  return m_rows.size() != before;
}

bool PeersModel::Tick(const TorrentHandle& handle, std::uint32_t now, bool full) {
  bool changed = false;
  try {
    if (full) {
      m_ticks = 1;
      changed = !m_rows.empty();
      m_rows.clear();
    } else {
      ++m_ticks;
    }
    bool added = false;
    if (handle.is_valid()) {
      const std::vector<engine::peer_info> peers = handle.get_peer_info();
      int pieces = 0;
      try {
        pieces = int(handle.status().pieces.size());
      } catch (const engine::invalid_handle&) {
        // Gone between the two calls: no "%" this time.
      }
      added = Refresh(peers, pieces, now, false);
      changed |= added;
    }
    if (!full && m_ticks % 10 == 0 && remove_inactive && !added) changed |= DropInactive();
  } catch (const engine::invalid_handle&) {
    // Gone between the two calls: the next tick finds it gone.
  }
  if (changed || full) Sort();
  return changed;
}

std::wstring PeersModel::CellText(std::size_t index, int column) const {
  const PeerRow& row = m_rows[index];
  const engine::peer_info& p = row.info;
  switch (column) {
    case 0:
      return row.address;
    case 1:
      return row.client;
    case 2: {
      if (p.seed) return L"Seed";
      // A torrent known only by its info-hash has no pieces yet.
      if (m_pieceCount == 0) return {};
      const std::size_t n = std::min(p.pieces.size(), std::size_t(m_pieceCount));
      const auto have = std::count(p.pieces.begin(), p.pieces.begin() + std::ptrdiff_t(n), true);
      return FormatWide("%.1f", 100.0 * double(have) / double(m_pieceCount));
    }
    case 3:
      return PeerBytesText(p.total_download);
    case 4:
      return PeerBytesText(p.total_upload);
    case 5:
      return PeerRateText(p.up_speed);
    case 6:
      return PeerRateText(p.down_speed);
    case 7:
      return HasExtensions(p) ? L"Yes" : L"";
    case 8:
      if (p.flags & engine::peer_info::queued) return L"\u25A0";
      return IsOutgoing(p) ? L"\u25BA" : L"\u25C4";
    default:
      return {};
  }
}

// --- order

void PeersModel::SetSort(int column, int direction) {
  m_sortColumn = column >= 0 && column < kPeerColumnCount ? column : 0;
  m_sortDirection = direction == -1 ? -1 : 1;
}

void PeersModel::ClickColumn(int column) {
  if (column < 0 || column >= kPeerColumnCount) return;
  if (column == m_sortColumn) {
    m_sortDirection = -m_sortDirection;
  } else {
    m_sortColumn = column;
    m_sortDirection = 1;
  }
  Sort();
}

int PeersModel::Compare(const PeerRow& a, const PeerRow& b) const {
  const engine::peer_info& x = a.info;
  const engine::peer_info& y = b.info;
  int c = 0;
  switch (m_sortColumn) {
    case 1: c = Order(a.client_lower, b.client_lower); break;
    case 2: c = TrueFirst(x.seed, y.seed); break;
    case 3: c = Order(x.total_download, y.total_download); break;
    case 4: c = Order(x.total_upload, y.total_upload); break;
    case 5: c = Order(RateKey(x.up_speed), RateKey(y.up_speed)); break;
    case 6: c = Order(RateKey(x.down_speed), RateKey(y.down_speed)); break;
    case 7: c = TrueFirst(HasExtensions(x), HasExtensions(y)); break;
    case 8: c = TrueFirst(IsOutgoing(x), IsOutgoing(y)); break;
    default: break;
  }
  if (c == 0) c = Order(x.ip, y.ip);  // by IP, then port
  return c * m_sortDirection;
}

void PeersModel::Sort() {
  std::stable_sort(m_rows.begin(), m_rows.end(),
                   [this](const PeerRow& a, const PeerRow& b) { return Compare(a, b) < 0; });
}

// --- selection

std::optional<std::size_t> PeersModel::IndexOf(const engine::address& peer) const {
  for (std::size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i].info.ip == peer) return i;
  return std::nullopt;
}

std::optional<std::size_t> PeersModel::Selected() const {
  return m_selected ? IndexOf(*m_selected) : std::nullopt;
}

void PeersModel::Select(std::optional<std::size_t> row) {
  if (row && *row < m_rows.size())
    m_selected = m_rows[*row].info.ip;
  else
    m_selected.reset();
}

// --- drawing

PeerRowColors PeersModel::Colors(std::size_t index, bool selected, bool focused) const {
  const PeerRow& row = m_rows[index];
  PeerRowColors colors;
  const bool odd = index % 2 == 1;
  if (row.banned)
    colors.background = odd ? 0x6464E6 : 0x7D7DFF;
  else
    colors.background = odd ? 0xE6E6E6 : 0xFFFFFF;
  if (selected) {
    colors.background = focused ? 0xFF6464 : 0x6464FF;
    colors.text.fill(focused ? 0x00FFFF : 0xFFFFFF);
    return colors;
  }
  // Plain text, download rate, upload rate, an incoming connection.
  struct AgeColors {
    ColorRef text, down, up, incoming;
  };
  static constexpr AgeColors kFresh{0x000000, 0x0000C8, 0xC80000, 0x00C800};
  static constexpr AgeColors kFading{0x969696, 0x9696FF, 0xFF9696, 0x96FF96};
  static constexpr AgeColors kPale{0xB4B4B4, 0xB4B4FF, 0xFFB4B4, 0xB4FFB4};
  const std::uint32_t age = AgeOf(index);
  const AgeColors& c = age < kFadeMs ? kFresh : age < kPaleMs ? kFading : kPale;
  colors.text.fill(c.text);
  colors.text[6] = c.down;
  colors.text[5] = c.up;
  if (!IsOutgoing(row.info)) colors.text[8] = c.incoming;
  return colors;
}

// --- menu, bans and chat

std::vector<MenuItem> PeersModel::Menu(std::size_t index) const {
  std::vector<MenuItem> items;
  if (index >= m_rows.size()) return items;
  const PeerRow& row = m_rows[index];
  if (HasExtensions(row.info)) items.push_back({peers_id::kMenuChat, "Chat"});
  if (!row.banned) {
    MenuItem ban{peers_id::kMenuBan, WideToUtf8(BanText(row.address))};
    ban.is_default = true;
    items.push_back(std::move(ban));
    items.push_back({peers_id::kMenuBanRange, WideToUtf8(BanRangeText(row.address))});
  }
  return items;
}

void PeersModel::RunMenu(std::size_t index, int id, const PeerBans& bans) {
  if (index >= m_rows.size()) return;
  const engine::address peer = m_rows[index].info.ip;
  if (id == peers_id::kMenuBan) {
    for (PeerRow& row : m_rows)
      if (row.info.ip.ip == peer.ip) row.banned = true;
    if (bans.ban_peer) bans.ban_peer(peer);
  } else if (id == peers_id::kMenuBanRange) {
    // a.b.c.1 to a.b.c.255, as the filter blocks it.
    for (PeerRow& row : m_rows)
      if ((row.info.ip.ip & 0xFFFFFF00u) == (peer.ip & 0xFFFFFF00u) && (row.info.ip.ip & 0xFF) != 0)
        row.banned = true;
    m_rows[index].banned = true;
    if (bans.ban_range) bans.ban_range(peer);
  }
}

bool PeersModel::SendChat(const TorrentHandle& handle, const engine::address& peer, std::wstring_view text) {
  if (text.empty()) return false;
  try {
    return handle.send_chat_message(peer, WideToUtf8(text));
  } catch (const engine::invalid_handle&) {
    return false;
  }
}

}  // namespace client
