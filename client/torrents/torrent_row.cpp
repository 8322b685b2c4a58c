#include "client/torrents/torrent_row.h"

#include "client/base/truncate.h"
#include "client/base/wide_text.h"
#include "engine/session/torrent_handle.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace client {
namespace {

constexpr wchar_t kLineMark[] = L"\u25BA ";

// A rate in KiB/s: one decimal up to 2 KiB/s, whole numbers above.
std::wstring RateText(float rate) {
  if (rate <= 2048.0f) return FormatWide("%.1lf", rate / 1024.0);
  return FormatWide("%d", Truncate<int>(rate / 1024.0));
}

// A needle value at the resolution the repaint test compares.
int Tenths(double value) { return Truncate<int>(value * 10); }

// Progress in percent, cut (not rounded) to tenths.
double Percent(float progress) { return std::floor(static_cast<double>(progress) * 1000) * 0.1; }

// "S:<wanted MB> U/D:<uploaded>/<downloaded><unit> R:<ratio>"; the unit
// follows the larger of the two totals, and without a download there is no
// ratio.
std::wstring StateSummary(std::uint64_t downloaded, std::uint64_t uploaded, std::uint64_t wanted) {
  const std::uint64_t larger = std::max(downloaded, uploaded);
  std::uint64_t divisor = 1073741824;
  const char* unit = "GB";
  if (larger <= 2048) divisor = 1, unit = "B";
  else if (larger <= 2097152) divisor = 1024, unit = "KB";
  else if (larger <= 5368709120ull) divisor = 1048576, unit = "MB";
  const auto mb = static_cast<unsigned long long>(wanted / 1048576);
  const auto u = static_cast<unsigned long long>(uploaded / divisor);
  const auto d = static_cast<unsigned long long>(downloaded / divisor);
  if (downloaded == 0) return FormatWide("S:%lluMB U/D:%llu/%llu%s", mb, u, d, unit);
  return FormatWide("S:%lluMB U/D:%llu/%llu%s R:%0.2f", mb, u, d, unit,
                    static_cast<double>(uploaded) / static_cast<double>(downloaded));
}

// A UTC time as "2007-Mar-05 14:02:11".
std::wstring SimpleDateTime(std::chrono::sys_seconds when) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const auto day = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(when - day);
  return FormatWide("%04d-%s-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                    kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<unsigned>(date.day()),
                    static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                    static_cast<int>(time.seconds().count()));
}

MenuItem Item(int id, const char* text, bool checked = false) {
  MenuItem item;
  item.id = id;
  item.text = text;
  item.checked = checked;
  return item;
}

}  // namespace

// --- painting a tick

bool TorrentRow::Paint(const std::optional<TorrentTick>& tick) {
  ChartLogic& chart = m_torrent.Chart();
  const int download_before = Tenths(chart.Gauge(ChartGauge::Download).value);
  const int upload_before = Tenths(chart.Gauge(ChartGauge::Upload).value);
  const std::wstring time_before = chart.Text(ChartGauge::Time);
  const std::wstring state_before = chart.Text(ChartGauge::Progress);
  const std::wstring summary_before = m_torrent.Settings().stateSummary;
  if (tick) Show(*tick);
  // The colours follow the status: a new status with the same state text
  // ("Queued" waiting, then "Queued" for the check) is a change too.
  const bool changed = m_torrent.Settings().stateSummary != summary_before ||
                       Tenths(chart.Gauge(ChartGauge::Download).value) != download_before ||
                       Tenths(chart.Gauge(ChartGauge::Upload).value) != upload_before ||
                       chart.Text(ChartGauge::Time) != time_before || chart.Text(ChartGauge::Progress) != state_before ||
                       m_torrent.Status() != m_paintedStatus;
  m_paintedStatus = m_torrent.Status();
  if (changed) m_torrent.Repaint();
  return changed;
}

std::optional<std::wstring> TorrentRow::StateText(const TorrentTick& tick) const {
  const float progress = tick.status.progress;
  switch (tick.activity) {
    case TorrentActivity::Complete: return L"Complete";
    case TorrentActivity::Paused: return L"Paused";
    case TorrentActivity::Failed: return L"Error";
    case TorrentActivity::Waiting:
    case TorrentActivity::QueuedForCheck: return L"Queued";
    case TorrentActivity::Checking: return FormatWide("Chk %.1f%%", Percent(progress));
    case TorrentActivity::Connecting: return L"Connecting";
    case TorrentActivity::StillConnecting: return std::nullopt;
    case TorrentActivity::Metadata: return L"Metadata";
    case TorrentActivity::Downloading: return FormatWide("%.1f%%", Percent(progress));
    case TorrentActivity::Serving: return L"Serving";
    case TorrentActivity::Seeding: return L"Seeding";
    case TorrentActivity::Allocating: return FormatWide("Alloc %.1f%%", Percent(progress));
    case TorrentActivity::Unknown: break;
  }
  return L"GAU";
}

void TorrentRow::Show(const TorrentTick& tick) {
  TorrentItem& t = m_torrent;
  ChartLogic& chart = t.Chart();
  const engine::torrent_status& status = tick.status;
  chart.SetProgressValue(status.progress);
  if (std::optional<std::wstring> text = StateText(tick)) chart.SetText(ChartGauge::Progress, std::move(*text));
  if (status.paused) chart.SetText(ChartGauge::Time, L"---");
  else if (tick.activity == TorrentActivity::Downloading) ShowDownloadEstimate(status);
  else if (tick.goal_text) chart.SetText(ChartGauge::Time, *tick.goal_text);

  chart.SetDownloadValue(status.download_rate);
  chart.SetText(ChartGauge::Download, RateText(status.download_rate));
  chart.SetUploadValue(status.upload_rate);
  chart.SetText(ChartGauge::Upload, RateText(status.upload_rate));

  if (t.Settings().showState) {
    t.SetStateSummary(StateSummary(t.DownloadedTotal(status), t.UploadedTotal(status), t.TotalWanted()));
    chart.SetTitleLabel(t.Settings().stateSummary);
  }
}

void TorrentRow::ShowDownloadEstimate(const engine::torrent_status& status) {
  TorrentItem& t = m_torrent;
  if (!(status.download_payload_rate > 0.09f)) {
    t.Chart().SetText(ChartGauge::Time, L"oo");
    return;
  }
  const double seconds = (1.0 - static_cast<double>(status.progress)) * static_cast<double>(t.TotalWanted()) /
                         static_cast<double>(status.download_payload_rate);
  t.Chart().SetText(ChartGauge::Time, FormatDuration(t.SmoothEta(Truncate<std::uint32_t>(seconds)), true));
}

// --- context menu

std::vector<MenuItem> TorrentRow::Menu() const {
  namespace m = torrent_menu;
  const TorrentItem& t = m_torrent;
  bool valid = false, paused = false;
  try {
    valid = t.IsValid();
    paused = valid && t.IsEnginePaused();
  } catch (const engine::invalid_handle&) {
    valid = false;
  }
  const SeedingGoal& goal = t.Goal();
  const bool by_time = goal.mode == SeedingMode::ByTime;
  const MenuItem separator;
  std::vector<MenuItem> menu;
  if (valid && paused) menu.push_back(Item(m::kResume, "Resume"));
  menu.push_back(Item(m::kPause, "Pause"));
  menu.push_back(Item(m::kQueue, "Queue"));
  menu.push_back(Item(m::kRemove, "Remove"));
  menu.push_back(separator);
  menu.push_back(Item(m::kShowState, t.Settings().showState ? "Show name" : "Show state"));
  if (valid && !paused) {
    menu.push_back(Item(m::kReannounce, "Reannounce"));
    if (t.Store()) menu.push_back(Item(m::kAddDbNodes, "Add DB nodes"));
  }
  if (t.HasUdpTracker()) menu.push_back(Item(m::kBitCometUdp, "BitComet UDP", t.BitCometUdp()));
  menu.push_back(separator);
  menu.push_back(Item(m::kSeeding30, "Seeding 0:30", by_time && goal.time == 1800000));
  menu.push_back(Item(m::kSeeding60, "Seeding 1:00", by_time && goal.time == 3600000));
  menu.push_back(Item(m::kSeedingForever, "Seeding Forever", by_time && goal.time == 0));
  menu.push_back(separator);
  menu.push_back(Item(m::kPriorityHigh, "Priority High", t.Priority() == TorrentPriority::High));
  menu.push_back(Item(m::kPriorityNormal, "Priority Normal", t.Priority() == TorrentPriority::Normal));
  menu.push_back(Item(m::kPriorityLow, "Priority Low", t.Priority() == TorrentPriority::Low));
  menu.push_back(separator);
  if (valid) menu.push_back(Item(m::kViewPeers, "View Peers"));
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::path(WideToUtf8(t.Path() + L".log.txt")), ec))
    menu.push_back(Item(m::kViewLog, "View Log"));
  MenuItem properties = Item(m::kProperties, "Properties");
  properties.is_default = true;
  menu.push_back(properties);
  return menu;
}

RowAction TorrentRow::RunCommand(int id, UiServices& ui) {
  namespace m = torrent_menu;
  TorrentItem& t = m_torrent;
  RowAction action = RowAction::None;
  try {
    switch (id) {
      case m::kResume:
        if (!t.UserResume()) t.Log(L"failed to start.");
        break;
      case m::kPause:
        t.UserPause();
        break;
      case m::kQueue:
        t.UserQueue();
        break;
      case m::kRemove:
        t.RequestRemoval();
        break;
      case m::kShowState:
        t.SetShowState(!t.Settings().showState);
        t.Chart().SetTitleLabel(t.Settings().showState ? t.Settings().stateSummary : t.Chart().GetName());
        break;
      case m::kReannounce:
        t.Handle().force_reannounce();
        break;
      case m::kAddDbNodes:
        action = RowAction::AddDatabaseNodes;
        break;
      case m::kBitCometUdp:
        t.SetBitCometUdp(!t.BitCometUdp());
        t.ApplyUdpTrackerScheme();
        break;
      case m::kSeeding30:
        t.SetSeedingTime(1800000, true);
        break;
      case m::kSeeding60:
        t.SetSeedingTime(3600000, true);
        break;
      case m::kSeedingForever:
        t.SetSeedingTime(0, true);
        break;
      case m::kPriorityHigh:
        t.SetPriority(TorrentPriority::High);
        break;
      case m::kPriorityNormal:
        t.SetPriority(TorrentPriority::Normal);
        break;
      case m::kPriorityLow:
        t.SetPriority(TorrentPriority::Low);
        break;
      case m::kViewPeers:
        action = RowAction::ShowPeers;
        break;
      case m::kViewLog:
      {
        const std::string log = WideToUtf8(t.Path() + L".log.txt");
        if (const std::optional<std::string> failure = ui.OpenFile(log))
          ui.MessageBox("Could not open " + log + ":\n" + *failure, "Quillfern", MessageKind::Error);
      }
        break;
      case m::kProperties:
        action = RowAction::ShowProperties;
        break;
      default:
        return RowAction::None;
    }
  } catch (...) {
    t.Log(GoneOrUnexpected(L"torrent is not valid.", "the torrent's menu"));
  }
  t.Repaint();
  return action;
}

std::vector<MenuItem> TorrentRow::OpenContextMenu() {
  m_hover.SetHovering(true);
  m_torrent.Chart().SetHighlight(true);
  return Menu();
}

RowAction TorrentRow::ContextMenu(UiServices& ui, int screen_x, int screen_y) {
  const int id = ui.PopupMenu(OpenContextMenu(), screen_x, screen_y);
  return id == 0 ? RowAction::None : RunCommand(id, ui);
}

// --- hover hint

HoverTracker::Step TorrentRow::Hover(HoverTracker::Step step) {
  m_torrent.Chart().SetHighlight(m_hover.Hovering());
  return step;
}

HoverTracker::Step TorrentRow::OnMouseMove(Point at) { return Hover(m_hover.OnMotion(at)); }
HoverTracker::Step TorrentRow::OnHoverTimer() { return Hover(m_hover.OnTimer()); }
HoverTracker::Step TorrentRow::OnMouseLeave() { return Hover(m_hover.OnLeave()); }

std::wstring TorrentRow::HintText() const {
  const TorrentItem& t = m_torrent;
  try {
    if (!t.Handle().is_valid()) return t.Path();
    std::wstring text = kLineMark + t.FileName();
    if (!t.Handle().has_metadata()) return text + L"\nWaiting for metadata";
    const engine::torrent_metainfo info = t.Handle().metainfo();
    auto line = [&text](const std::wstring& item) { text += L"\n" + (kLineMark + item); };
    if (!info.comment().empty()) line(Utf8ToWide(info.comment()));
    std::wstring created;
    if (info.creation_date()) created = SimpleDateTime(*info.creation_date());
    if (!info.creator().empty()) created += (created.empty() ? L"" : L" by ") + Utf8ToWide(info.creator());
    if (!created.empty()) line(L"Created: " + created);
    if (t.HasDhtNodes()) line(L"DHT bootstrap nodes available");
    return text;
  } catch (const engine::invalid_handle&) {
    return t.Path();
  }
}

std::wstring TorrentRow::PeersDialogTitle() const { return m_torrent.FileName() + L" - Quillfern Peer Info"; }

}  // namespace client
