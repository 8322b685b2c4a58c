#include "client/torrents/remove_sequence.h"

#include "client/common/tick.h"
#include "engine/session/torrent_handle.h"
#include "platform/clock.h"

#include <algorithm>

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
  TorrentControl* session = m_parts.session();
  if (session && !handle.is_null()) {
    try {
      session->remove_torrent(handle);
    } catch (const engine::invalid_handle&) {
      // Not in the engine (any more): nothing to wait for.
    }
    if (StillThere(handle)) {
      m_waiting.push_back({handle, was_paused, TickMs()});
      return true;
    }
  }
  Finish(was_paused);
  return false;
}

bool RemoveSequence::Poll() {
  const std::uint32_t now = TickMs();
  // Finish may start torrents, which may post more work: take the finished
  // ones out first.
  std::vector<bool> finished;
  std::erase_if(m_waiting, [&](const Waiter& w) {
    const bool done = !StillThere(w.handle) || platform::elapsed_ms(now, w.since) >= kRemoveWaitMs;
    if (done) finished.push_back(w.was_paused);
    return done;
  });
  for (bool was_paused : finished) Finish(was_paused);
  return Waiting();
}

void RemoveSequence::Finish(bool was_paused) {
  m_parts.queue.OnTorrentRemoved(was_paused);
  m_parts.queue.StartNextQueued(nullptr);
}

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
