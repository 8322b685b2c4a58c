// The torrent's own 500 ms tick: what it does with what the engine reports.

#include "client/base/unexpected_fault.h"
#include "client/torrents/dht_control.h"
#include "client/torrents/torrent_item.h"
#include "engine/session/torrent_handle.h"

#include <algorithm>

namespace client {

std::optional<TorrentTick> TorrentItem::Tick(DhtControl* dht, const std::optional<engine::torrent_status>* given) {
  try {
    StepReAdd();
    const bool valid = given ? given->has_value() : m_handle.is_valid();
    if (ReAddPending() || !valid) return std::nullopt;
    // A torrent that is not started never runs; one that was running when
    // the status was read is read again once paused.
    const engine::torrent_status* read = given ? &**given : nullptr;
    if (!m_started && (!read || !read->paused)) {
      PauseEngine();
      read = nullptr;
    }
    TorrentTick tick;
    tick.status = read ? *read : m_handle.status();
    m_totalWanted = static_cast<std::uint64_t>(std::max<std::int64_t>(tick.status.total_wanted, 0));
    tick.activity = tick.status.paused ? PausedActivity() : RunningActivity(tick, dht);
    return tick;
  } catch (const engine::invalid_handle&) {
    // The torrent went away in the middle; the row shows what it had.
    return std::nullopt;
  } catch (...) {
    Log(UnexpectedFault("the torrent's tick"));
    return std::nullopt;
  }
}

TorrentActivity TorrentItem::PausedActivity() {
  if (m_complete) {
    SetStatus(TorrentStatus::Seeding);
    return TorrentActivity::Complete;
  }
  if (m_userPaused) {
    if (Status() != TorrentStatus::Error) SetStatus(TorrentStatus::Paused);
    return TorrentActivity::Paused;
  }
  // Stopped by a failure: it waits for the user, not in the queue.
  if (Status() == TorrentStatus::Error && !m_started) return TorrentActivity::Failed;
  SetStatus(TorrentStatus::Queued);
  return TorrentActivity::Waiting;
}

std::int32_t TorrentItem::EffectiveState(const engine::torrent_status& status) const {
  // The engine says "connecting" until a tracker answers, however the
  // torrent fares with peers the DHT or other peers brought.
  if (status.state != engine::connecting_to_tracker) return status.state;
  // Without metadata nothing is known of its pieces (none are wanted yet).
  const bool metadata = status.total_wanted > 0;
  if (metadata && status.total_wanted_done >= status.total_wanted) {
    // Only a torrent with unwanted pieces can lack some and be done.
    const bool seed = !m_hasFilteredPieces || m_handle.is_seed();
    return seed ? engine::seeding : engine::finished;
  }
  const bool traffic = status.download_rate != 0.0f || status.upload_rate != 0.0f;
  if (status.num_peers > 1 || (metadata && traffic)) return engine::downloading;
  return engine::connecting_to_tracker;
}

TorrentActivity TorrentItem::RunningActivity(TorrentTick& tick, DhtControl* dht) {
  const engine::torrent_status& status = tick.status;
  const int status_before = Status();
  TorrentActivity activity = TorrentActivity::Unknown;
  switch (const std::int32_t state = EffectiveState(status)) {
    case engine::queued_for_checking:
      SetStatus(TorrentStatus::Paused);
      activity = TorrentActivity::QueuedForCheck;
      break;
    case engine::checking_files:
      SetStatus(TorrentStatus::Downloading);
      activity = TorrentActivity::Checking;
      break;
    case engine::connecting_to_tracker:
      if (status.download_rate == 0.0f && status.upload_rate == 0.0f) {
        SetStatus(TorrentStatus::Downloading);
        activity = TorrentActivity::Connecting;
      } else {
        activity = TorrentActivity::StillConnecting;
      }
      break;
    case engine::downloading_metadata:
      SetStatus(TorrentStatus::Downloading);
      activity = TorrentActivity::Metadata;
      break;
    case engine::downloading:
      SetStatus(TorrentStatus::Downloading);
      activity = TorrentActivity::Downloading;
      if (m_seedingEntered) {
        m_seedingEntered = false;
        m_chart->SetTimeValue(1.0);
      }
      break;
    case engine::finished:
    case engine::seeding:
      // The status is Seeding before the goal is tested, so that a stop
      // tells the main window so.
      SetStatus(TorrentStatus::Seeding);
      activity = state == engine::finished ? TorrentActivity::Serving : TorrentActivity::Seeding;
      m_seedingEntered = true;
      tick.goal_text = SeedingGoalTick(status, status_before);
      break;
    case engine::allocating:
      SetStatus(TorrentStatus::Downloading);
      activity = TorrentActivity::Allocating;
      break;
    default:
      SetStatus(TorrentStatus::Error);
      break;
  }
  if (!m_seedingEntered) {
    RotateTrackers();
    ConnectDhtPeers(dht, status.num_peers != 0 ? kDhtTicksWithPeers : kDhtTicksWithoutPeers);
  }
  return activity;
}

void TorrentItem::RotateTrackers() {
  if (++m_trackerTicks < kTrackerRotationTicks) return;
  m_trackerTicks = 0;
  try {
    std::vector<engine::announce_entry> trackers = m_handle.trackers();
    const std::size_t n = trackers.size();
    if (n < 2) return;
    for (std::size_t i = 0; i < n; ++i) trackers[(m_trackerRotation + i) % n].tier = static_cast<int>(i);
    m_handle.replace_trackers(trackers);
    if (++m_trackerRotation >= n) m_trackerRotation = 0;
  } catch (...) {
    Log(GoneOrUnexpected(L"Fatal Error: Exception", "the tracker rotation"));
  }
}

void TorrentItem::ConnectDhtPeers(DhtControl* dht, std::uint32_t interval) {
  if (!dht) return;
  // At or past it: the interval shrinks when the last peer goes.
  if (++m_dhtTicks < interval) return;
  m_dhtTicks = 0;
  try {
    for (const engine::address& peer : dht->GetPeers(m_handle.info_hash())) m_handle.connect_peer(peer);
  } catch (...) {
    Log(GoneOrUnexpected(L"Fatal Error: Exception", "the DHT hand-over"));
  }
}

}  // namespace client
