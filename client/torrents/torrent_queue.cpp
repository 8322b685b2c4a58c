#include "client/torrents/torrent_queue.h"

namespace client {

void TorrentQueue::OnTorrentStopped() {
  if (m_active != 0) --m_active;
}

void TorrentQueue::OnTorrentRemoved(bool was_paused) {
  if (!was_paused) OnTorrentStopped();
}

std::uint32_t TorrentQueue::CountActive() const {
  std::uint32_t active = 0;
  for (const auto& t : m_list)
    if (t->IsActive()) ++active;
  return active;
}

void TorrentQueue::StartNextQueued(const TorrentItem* excluded) {
  Recount();
  // Each round takes one torrent out of the queue, started or failed: no
  // more rounds than torrents.
  for (std::size_t round = 0; round < m_list.Count() && m_active < m_maxActive; ++round) {
    TorrentItem* candidate = m_list.PickNextQueued(excluded);
    if (!candidate) break;
    if (candidate->Start(false)) ++m_active;
    else m_log(candidate->FileName() + L" failed to start");
  }
}

}  // namespace client
