#include "engine/checker_impl.h"

#include <algorithm>

#include "engine/session_impl.h"
#include "engine/torrent.h"

namespace engine {

piece_checker_data* checker_impl::find_torrent(const sha1_hash& info_hash) {
  for (auto* queue : {&m_torrents, &m_processing}) {
    auto i = std::find_if(queue->begin(), queue->end(), [&](const auto& d) { return d->info_hash == info_hash; });
    if (i != queue->end()) return i->get();
  }
  return nullptr;
}

void checker_impl::remove_torrent(const sha1_hash& info_hash) {
  for (auto& d : m_processing)
    if (d->info_hash == info_hash) d->abort = true;
  std::erase_if(m_torrents, [&](const auto& d) { return d->info_hash == info_hash; });
}

void checker_impl::operator()() {
  for (;;) {
    std::shared_ptr<piece_checker_data> next;
    {
      std::unique_lock l(m_mutex);
      m_cond.wait(l, [&] { return m_abort || !m_torrents.empty(); });
      if (m_abort) return;
      next = m_torrents.front();
    }
    // Reading the fast-resume data and checking the files go here, outside
    // both locks. Without storage there is nothing to check.

    // Hand-over: session lock first, then the checker's.
    std::lock_guard ses_lock(m_ses.m_mutex);
    std::lock_guard l(m_mutex);
    // Removed (or aborted) meanwhile: it never reaches the session.
    if (m_torrents.empty() || m_torrents.front() != next) continue;
    m_torrents.pop_front();
    if (next->abort) continue;
    next->torrent_ptr->files_checked();
    m_ses.m_torrents.emplace(next->info_hash, next->torrent_ptr);
  }
}

}  // namespace engine
