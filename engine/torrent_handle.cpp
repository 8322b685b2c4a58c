#include "engine/torrent_handle.h"

#include "engine/checker_impl.h"
#include "engine/fast_resume.h"
#include "engine/peer_connection.h"
#include "engine/piece_manager.h"
#include "engine/session_impl.h"
#include "engine/torrent.h"

namespace engine {

namespace {

// Finds the torrent in the checker (checker lock), then in the session
// (session lock) and applies `f` to it; the two locks are never nested.
template <class F>
auto call(session_impl* ses, checker_impl* chk, const sha1_hash& ih, F f) {
  if (!ses) throw invalid_handle();
  if (chk) {
    std::lock_guard l(chk->m_mutex);
    if (piece_checker_data* d = chk->find_torrent(ih)) return f(*d->torrent_ptr);
  }
  std::lock_guard l(ses->m_mutex);
  if (auto t = ses->find_torrent(ih)) return f(*t);
  throw invalid_handle();
}

}  // namespace

bool torrent_handle::is_valid() const {
  if (!m_ses) return false;
  try {
    return call(m_ses, m_chk, m_info_hash, [](torrent&) { return true; });
  } catch (const invalid_handle&) {
    return false;
  }
}

bool torrent_handle::is_paused() const {
  return call(m_ses, m_chk, m_info_hash, [](torrent& t) { return t.is_paused(); });
}

void torrent_handle::pause() const {
  call(m_ses, m_chk, m_info_hash, [](torrent& t) { t.pause(); });
}

void torrent_handle::resume() const {
  call(m_ses, m_chk, m_info_hash, [](torrent& t) { t.resume(); });
}

torrent_status torrent_handle::status() const {
  if (!m_ses) throw invalid_handle();
  if (m_chk) {
    std::lock_guard l(m_chk->m_mutex);
    if (piece_checker_data* d = m_chk->find_torrent(m_info_hash)) {
      torrent_status st;
      st.state = queued_for_checking;
      if (d->processing) {
        torrent& t = *d->torrent_ptr;
        st.state = t.has_metadata() && t.filesystem().is_allocating() ? allocating : checking_files;
      }
      st.progress = d->progress;
      st.paused = d->torrent_ptr->is_paused();
      return st;
    }
  }
  std::lock_guard l(m_ses->m_mutex);
  if (auto t = m_ses->find_torrent(m_info_hash)) return t->status();
  throw invalid_handle();
}

entry torrent_handle::build_resume_data() const {
  if (!m_ses) return entry();
  std::lock_guard l(m_ses->m_mutex);
  auto t = m_ses->find_torrent(m_info_hash);
  if (!t || !t->has_metadata()) return entry();
  // Peers this side connected to listen on the port it used.
  std::vector<address> peers;
  for (const auto& [a, c] : t->peers()) {
    if (c->is_local() && !c->is_connecting()) peers.push_back(a);
  }
  return engine::build_resume_data(t->metainfo(), t->filesystem(), t->block_size(),
                                   t->picker().get_download_queue(), peers);
}

}  // namespace engine
