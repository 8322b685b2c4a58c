#include "client/torrents/remove_sequence.h"

#include "client/common/tick.h"
#include "engine/session/torrent_handle.h"
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace client {

namespace {

// An engine torrent that cannot be asked counts as paused: it held no slot.
bool EnginePaused(const TorrentItem& torrent) {
  try {
    return torrent.IsEnginePaused();
  } catch (const engine::invalid_handle&) {
    return true;
  }
}

bool StillThere(const TorrentHandle& handle) {
  try {
    return handle.is_valid();
  } catch (const engine::invalid_handle&) {
    return false;
  }
}

}  // namespace

bool RemoveSequence::Remove(TorrentItem& torrent, int status) {
  const bool was_paused = EnginePaused(torrent);
  if (m_parts.database() && !m_parts.session_only() && !(was_paused && status == TorrentStatus::Seeding))
    torrent.UpdateDatabaseRow(false, true);
  const TorrentHandle handle = torrent.Handle();
  if (DhtControl* dht = m_parts.dht()) dht->ReleaseInfoHash(handle.info_hash());
  m_parts.list.Remove(&torrent, true);  // `torrent` is gone from here on
  m_parts.rows_changed();
  m_parts.queue.OnTorrentRemoved(was_paused);
  TorrentControl* session = m_parts.session();
  if (session && !handle.is_null()) {
    try {
      session->remove_torrent(handle);
    } catch (const engine::invalid_handle&) {
      // Not in the engine (any more): nothing to wait for.
    }
    if (StillThere(handle)) {
      m_waiting.push_back({handle, TickMs(), {}});
      return true;
    }
  }
  Finish();
  return false;
}

bool RemoveSequence::AfterRemoval(const engine::sha1_hash& info_hash, std::function<void()> add) {
  const auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                               [&](const Waiter& w) { return w.handle.info_hash() == info_hash; });
  if (it == m_waiting.end()) return false;
  it->adds.push_back(std::move(add));
  return true;
}

bool RemoveSequence::FinishKeptAdds(std::uint32_t wait_ms) {
  const auto kept = [this] {
    return std::any_of(m_waiting.begin(), m_waiting.end(), [](const Waiter& w) { return !w.adds.empty(); });
  };
  const std::uint32_t start = TickMs();
  while (kept() && platform::elapsed_ms(TickMs(), start) < wait_ms) {
    Poll();
    if (kept()) std::this_thread::sleep_for(std::chrono::milliseconds(kRemovePollMs));
  }
  return !kept();
}

bool RemoveSequence::Poll() {
  const std::uint32_t now = TickMs();
  // Finish and the adds start torrents and may remove or wait for more:
  // take the finished ones out first.
  std::vector<Waiter> finished, waiting;
  for (Waiter& w : m_waiting)
    (!StillThere(w.handle) || platform::elapsed_ms(now, w.since) >= kRemoveWaitMs ? finished : waiting)
        .push_back(std::move(w));
  m_waiting = std::move(waiting);
  for (Waiter& w : finished) {
    Finish();
    // Added as new torrents; one the engine still holds after the wait is
    // refused as a duplicate.
    for (auto& add : w.adds) add();
  }
  return Waiting();
}

void RemoveSequence::Finish() { m_parts.queue.StartNextQueued(nullptr); }

void RemoveSequence::Stopped(TorrentItem& torrent, int status) {
  if (m_parts.database() && !m_parts.session_only()) torrent.UpdateDatabaseRow(true, false);
  if (status == TorrentStatus::Seeding) {
    if (DhtControl* dht = m_parts.dht()) dht->ReleaseInfoHash(torrent.Handle().info_hash());
  } else if (status == TorrentStatus::Error) {
    m_parts.log(torrent.FileName() + L" failed");
  }
  m_parts.queue.OnTorrentStopped();
  m_parts.queue.StartNextQueued(&torrent);
}

}  // namespace client
