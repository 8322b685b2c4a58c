#include "client/torrents/torrent_item.h"

#include "client/common/paths.h"
#include "client/common/tick.h"
#include "client/base/truncate.h"
#include "client/base/unexpected_fault.h"
#include "client/base/wide_text.h"
#include "engine/session/torrent_handle.h"
#include "platform/clock.h"
#include "store/torrent_database.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

namespace client {

std::wstring FormatDuration(std::uint32_t seconds, bool cap) {
  const unsigned h = seconds / 3600, m = seconds % 3600 / 60, s = seconds % 60;
  if (cap && h > 240) return L"oo";
  if (h > 24) return FormatWide("%ud", h / 24);
  if (h > 4) return FormatWide("%uh", h);
  return FormatWide("%u:%02u:%02u", h, m, s);
}

TorrentItem::TorrentItem(std::wstring path, std::wstring title, TorrentEvents& events, ChartLogic* chart)
    : m_events(events) {
  if (!chart) {
    m_ownChart = std::make_unique<ChartLogic>(path);
    chart = m_ownChart.get();
  }
  m_chart = chart;
  m_chart->SetName(std::move(title));
}

TorrentItem::~TorrentItem() {
  ReleaseWatchers();
  if (m_view) m_view->DestroyView();
}

void TorrentItem::ReleaseWatchers() {
  const std::vector<TorrentWatcher*> watchers = std::move(m_watchers);
  m_watchers.clear();
  for (TorrentWatcher* watcher : watchers) watcher->TorrentGone(*this);
}

void TorrentItem::AddWatcher(TorrentWatcher* watcher) {
  if (std::find(m_watchers.begin(), m_watchers.end(), watcher) == m_watchers.end()) m_watchers.push_back(watcher);
}

void TorrentItem::RemoveWatcher(TorrentWatcher* watcher) { std::erase(m_watchers, watcher); }

std::wstring TorrentItem::FileName() const {
  const std::wstring& path = Path();
  // A path in the data folder: a backslash is part of the name.
  const std::size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void TorrentItem::Post(void (TorrentEvents::*event)(TorrentItem&, int)) { (m_events.*event)(*this, Status()); }

void TorrentItem::Repaint() {
  if (m_view) m_view->Repaint();
}

void TorrentItem::Log(std::wstring_view text) {
  m_events.LogLine(FileName().substr(0, 10) + L"...: " + std::wstring(text));
}

std::wstring TorrentItem::GetInfoHashHex() const {
  std::wstring hex;
  for (std::uint8_t byte : m_handle.info_hash()) hex += FormatWide("%02X", byte);
  return hex;
}

// --- the engine torrent, also while a re-add is pending

bool TorrentItem::IsValid() const { return m_readd || m_handle.is_valid(); }

bool TorrentItem::IsEnginePaused() const { return m_readd ? !m_readd->resume : m_handle.is_paused(); }

void TorrentItem::PauseEngine() {
  if (m_readd) m_readd->resume = false;
  else m_handle.pause();
}

void TorrentItem::ResumeEngine() {
  if (m_readd) m_readd->resume = true;
  else m_handle.resume();
}

bool TorrentItem::IsActive() const {
  try {
    return m_started && IsValid() && !IsEnginePaused();
  } catch (const engine::invalid_handle&) {
    return false;
  }
}

// --- start and stop

bool TorrentItem::Start(bool post) {
  if (m_userPaused) {
    m_started = false;
    SetStatus(TorrentStatus::Paused);
    return false;
  }
  try {
    m_started = true;
    SetStatus(TorrentStatus::Downloading);
    if (!m_timerArmed) {
      if (m_view) m_view->ArmTimer();
      m_timerArmed = true;
    }
    // A torrent the engine no longer has cannot run: that is no start.
    if (!IsValid()) throw engine::invalid_handle();
    if (!m_readd) ApplyUdpTrackerScheme();
    if (IsEnginePaused()) {
      ResumeEngine();
      if (post) Post(&TorrentEvents::TorrentStarted);
    }
    return true;
  } catch (...) {
    m_started = false;
    SetStatus(TorrentStatus::Error);
    Log(GoneOrUnexpected(L"torrent is not valid.", "the torrent's start"));
    return false;
  }
}

void TorrentItem::StopOnSeedingGoal() {
  try {
    PauseEngine();
  } catch (...) {
    Log(GoneOrUnexpected(L"torrent is not valid.", "the stop at the seeding goal"));
  }
  m_started = false;
  m_complete = true;
  Post(&TorrentEvents::TorrentStopped);
  SetStatus(TorrentStatus::Seeding);
}

void TorrentItem::StopOnFileError() {
  bool dropped = false;
  try {
    if (IsValid()) PauseEngine();
    else dropped = true;
  } catch (const engine::invalid_handle&) {
    // Dropped between the two calls: paused already (the files are kept).
  } catch (...) {
    Log(UnexpectedFault("the stop on a file error"));
  }
  const bool was_started = m_started;
  m_started = false;
  SetStatus(TorrentStatus::Error);
  if (was_started) Post(&TorrentEvents::TorrentStopped);
  // The engine let go at its first check a torrent added in this run: it
  // refused it. Its copy would come back at every start as a torrent
  // without a section; a restored or re-added one keeps its files for the
  // user to mend.
  if (dropped && !m_restored && !m_reAdded) {
    // Its row in the store goes the way of a removal, now or once the
    // server answers.
    if (m_database) {
      m_database->FinishLater(WideToUtf8(GetInfoHashHex()));
      m_database->CatchUp();
      m_storeWaits = false;  // a row it could not write is not owed any more
    }
    DeleteFiles();
  }
  Repaint();
}

void TorrentItem::UserPause() {
  m_userPaused = true;
  SetStatus(TorrentStatus::Paused);
  PauseAndTell();
}

void TorrentItem::UserQueue() {
  m_userPaused = false;
  PauseAndTell();
}

bool TorrentItem::UserResume() {
  m_userPaused = false;
  return Start(true);
}

void TorrentItem::PauseAndTell() {
  try {
    if (IsValid() && !IsEnginePaused()) {
      PauseEngine();
      Post(&TorrentEvents::TorrentStopped);
    }
  } catch (...) {
    Log(GoneOrUnexpected(L"torrent is not valid.", "the pause"));
  }
}

// --- seeding goal

void TorrentItem::SetSeedingTime(std::uint32_t milliseconds, bool force) {
  m_goal.mode = SeedingMode::ByTime;
  if (m_goal.time == kSeedingTimeUnset || force) m_goal.time = milliseconds;
  m_seedingStart = TickMs();
  m_chart->SetTimeMaximum(m_goal.time == 0 ? 1.0 : static_cast<double>(m_goal.time));
  Repaint();
}

void TorrentItem::SetSeedingRatio(double ratio, bool force) {
  m_goal.mode = SeedingMode::ByRatio;
  if (force) m_goal.ratio = ratio;
  m_seedingStart = TickMs();
  // The chart takes a full scale of 0 or below (or NaN) as 1.0.
  m_chart->SetTimeMaximum(m_goal.ratio);
  Repaint();
}

void TorrentItem::SetEarlierTotals(std::uint64_t uploaded, std::uint64_t downloaded) {
  m_settings.uploadedBase = uploaded;
  m_settings.downloadedBase = downloaded;
}

bool TorrentItem::ArmSeedingGoal(std::uint32_t milliseconds, double ratio) {
  if (m_goal.mode == SeedingMode::ByTime) SetSeedingTime(milliseconds, false);
  else if (m_goal.mode == SeedingMode::ByRatio) SetSeedingRatio(ratio, false);
  else return false;
  return true;
}

std::uint64_t TorrentItem::DownloadedTotal(const engine::torrent_status& status) const {
  return m_settings.downloadedBase + static_cast<std::uint64_t>(std::max<std::int64_t>(status.total_payload_download, 0));
}

std::uint64_t TorrentItem::UploadedTotal(const engine::torrent_status& status) const {
  return m_settings.uploadedBase + static_cast<std::uint64_t>(std::max<std::int64_t>(status.total_payload_upload, 0));
}

std::uint32_t TorrentItem::SmoothEta(std::uint32_t seconds) {
  if (m_etaSeconds != kEtaUnset)
    seconds = static_cast<std::uint32_t>((std::uint64_t{m_etaSeconds} * 59 + seconds) / 60);
  m_etaSeconds = seconds;
  return seconds;
}

std::optional<std::wstring> TorrentItem::SeedingGoalTick(const engine::torrent_status& status, int status_before) {
  if (m_goal.mode == SeedingMode::ByTime) {
    if (m_goal.time == 0 || m_seedingStart == 0 || status_before != TorrentStatus::Seeding) return L"oo";
    const std::uint32_t elapsed = platform::elapsed_ms(TickMs(), m_seedingStart);
    if (elapsed > m_goal.time) {
      StopOnSeedingGoal();
      return std::nullopt;
    }
    const std::uint32_t remaining = m_goal.time - elapsed;
    m_chart->SetTimeValue(remaining);
    return FormatDuration(remaining / 1000, false);
  }
  if (m_goal.mode == SeedingMode::ByRatio) {
    if (m_goal.ratio == 0.0 || status_before != TorrentStatus::Seeding || status.upload_payload_rate == 0.0f)
      return L"oo";
    const double ratio =
        static_cast<double>(UploadedTotal(status)) / (static_cast<double>(DownloadedTotal(status)) + 1);
    if (ratio > m_goal.ratio) {
      StopOnSeedingGoal();
      return std::nullopt;
    }
    m_chart->SetTimeValue(m_goal.ratio - ratio);
    const double seconds =
        (1 - ratio / m_goal.ratio) * static_cast<double>(m_totalWanted) / status.upload_payload_rate;
    return FormatDuration(SmoothEta(Truncate<std::uint32_t>(seconds)), true);
  }
  return std::nullopt;
}

void TorrentItem::SetRateScale(double upload_scale, double download_scale) {
  m_rateScaleUp = Truncate<std::int32_t>(upload_scale);
  m_rateScaleDown = Truncate<std::int32_t>(download_scale);
  m_chart->SetMaxima(upload_scale, download_scale);
}

// --- settings handed to the engine

void TorrentItem::ApplyLimits() {
  m_handle.set_download_limit(m_limits.download);
  m_handle.set_upload_limit(m_limits.upload);
  m_handle.set_ratio(static_cast<float>(m_goal.peer_ratio));
}

void TorrentItem::ApplySettings() {
  try {
    if (!IsValid()) return;
    // A torrent being re-added gets them when it is back.
    if (!m_readd) ApplyLimits();
    if (Status() == TorrentStatus::Seeding) {
      ArmSeedingGoal(m_goal.time, m_goal.ratio);
    }
  } catch (...) {
    Log(GoneOrUnexpected(L"torrent is not valid.", "the torrent's settings"));
  }
}

void TorrentItem::ApplyUdpTrackerScheme() {
  try {
    std::vector<engine::announce_entry> trackers = m_handle.trackers();
    for (engine::announce_entry& tracker : trackers) {
      if (tracker.url.starts_with("udp")) {
        m_hasUdpTracker = true;
        if (m_bitCometUdp) tracker.url.insert(0, "bc");
      } else if (tracker.url.starts_with("bcu") && !m_bitCometUdp) {
        tracker.url.erase(0, 2);
      }
    }
    m_handle.replace_trackers(trackers);
  } catch (...) {
    Log(GoneOrUnexpected(L"Fatal Error: Exception", "the tracker edit"));
  }
}

void TorrentItem::SetTrackerLogin(const std::string& name, const std::string& password) {
  m_trackerLogin = TrackerLogin{name, password};
  if (!m_readd) m_handle.set_tracker_login(name, password);
}

// --- re-add

bool TorrentItem::ReadTorrentFile(std::string& bytes) {
  if (m_database) {
    CTorrentDataTable* table = m_database->TorrentData();
    const std::uint32_t id = table ? table->FindIdByInfoHash(WideToUtf8(GetInfoHashHex())) : 0;
    if (!id || !table->SelectById(id) || table->meta_data.empty()) {
      Log(Utf16ToWide(m_database->GetLastError()));
      return false;
    }
    bytes = table->meta_data;
    return true;
  }
  std::ifstream in(WideToPath(Path()), std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (!in.bad() && !bytes.empty()) return true;
  Log(L"cannot read the torrent file.");
  return false;
}

bool TorrentItem::ReAdd() {
  if (m_hasFilteredPieces || m_readd || !m_session || !m_handle.is_valid()) return false;
  // Read the .torrent before touching the engine torrent, so that a
  // failure leaves it running as it was.
  std::string bytes;
  if (!ReadTorrentFile(bytes)) return false;
  ReAddState state;
  try {
    state.info = engine::torrent_metainfo(bytes.data(), bytes.size());
  } catch (const std::exception&) {
    Log(L"cannot read the torrent file.");
    return false;
  }
  bool was_paused = true;
  try {
    was_paused = m_handle.is_paused();
    m_handle.pause();
    state.resume = !was_paused;
    state.resume_data = m_handle.build_resume_data();
    state.pieces = m_handle.filtered_pieces();
    state.save_path = m_handle.save_path();
    state.trackers = m_handle.trackers();
    state.status = m_handle.status();
    m_session->remove_torrent(m_handle);
  } catch (...) {
    Log(GoneOrUnexpected(L"torrent is not valid.", "the re-add"));
    try {
      if (!was_paused) m_handle.resume();
    } catch (const engine::invalid_handle&) {
      // Gone: there is nothing to resume.
    } catch (...) {
      Log(UnexpectedFault("the re-add"));
    }
    return false;
  }
  state.started_at = TickMs();
  m_readd = std::move(state);
  m_reAdded = true;
  return true;
}

void TorrentItem::FailReAdd(std::wstring_view text) {
  m_readd.reset();
  m_started = false;
  SetStatus(TorrentStatus::Error);
  Log(text);
  Repaint();
}

void TorrentItem::StepReAdd() {
  if (!m_readd) return;
  ReAddState& state = *m_readd;
  if (!state.added) {
    if (m_handle.is_valid()) {
      if (platform::elapsed_ms(TickMs(), state.started_at) >= kReAddTimeoutMs)
        FailReAdd(L"the engine did not release the torrent.");
      return;
    }
    try {
      m_handle = m_session->add_torrent(state.info, state.save_path, state.resume_data, false, kReAddBlockSize);
      state.added = true;
      // The trackers as the user edited them, not those of the .torrent.
      m_handle.replace_trackers(state.trackers);
      if (m_trackerLogin) m_handle.set_tracker_login(m_trackerLogin->name, m_trackerLogin->password);
      ApplyLimits();
    } catch (const std::exception& e) {
      FailReAdd(L"failed to add the torrent again: " + Utf8ToWide(e.what()));
      return;
    }
  }
  // The engine takes piece flags only once it has checked the files; the
  // torrent stays paused until it has them.
  try {
    if (!m_handle.is_valid()) throw engine::invalid_handle();
    if (!m_handle.has_metadata()) return;
    m_handle.filter_pieces(state.pieces);
    if (state.resume) m_handle.resume();
    m_hasFilteredPieces = true;
    m_readd.reset();
  } catch (...) {
    FailReAdd(GoneOrUnexpected(L"torrent is not valid.", "the re-add"));
  }
}

// --- removal

bool TorrentItem::Remove() {
  if (m_database && m_handle.is_valid()) {
    // A row the store cannot be told about now (or that missed an earlier
    // write) is finished once the server answers again: the torrent must
    // not come back at the next start.
    const bool deleted = DeleteDatabaseRows();
    if (!deleted || m_storeWaits) {
      const std::wstring error = Utf16ToWide(m_database->GetLastError());
      m_database->FinishLater(WideToUtf8(GetInfoHashHex()));
      if (deleted && m_database->CatchUp()) return DeleteFiles();
      m_events.LogLine(L"the removal of " + FileName() + L" waits for the store" +
                       (deleted || error.empty() ? L"" : L": " + error));
    }
    if (!deleted) return false;
  }
  return DeleteFiles();
}

std::filesystem::path TorrentItem::SideFile(std::wstring_view suffix) const {
  return WideToPath(Path() + std::wstring(suffix));
}

bool TorrentItem::DeleteFiles() {
  bool all = true;
  for (const std::wstring_view suffix : {std::wstring_view(), kResumeDataSuffix, kLogFileSuffix, kFilterDataSuffix}) {
    std::error_code ec;
    if (!std::filesystem::remove(SideFile(suffix), ec)) all = false;
  }
  return all;
}

bool TorrentItem::DeleteDatabaseRows() {
  if (!m_database) return false;
  CTorrentDataTable* data = m_database->TorrentData();
  CPieceSelectionTable* pieces = m_database->PieceSelection();
  CResumeDataTable* resume = m_database->ResumeData();
  CTrackersTable* trackers = m_database->Trackers();
  if (!data || !pieces || !resume || !trackers) return false;
  const std::optional<CTorrentDataTable::Stored> stored = data->LookUp(WideToUtf8(GetInfoHashHex()));
  if (!stored) return false;
  // A torrent the store never took has nothing there to delete.
  if (!stored->id) return true;
  const std::uint32_t id = stored->id;
  return pieces->DeleteByTorrent(id) && resume->DeleteByTorrent(id) && trackers->DeleteByTorrent(id);
}

}  // namespace client
