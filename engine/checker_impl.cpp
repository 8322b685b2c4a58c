#include "engine/checker_impl.h"

#include <algorithm>

#include "engine/alert_types.h"
#include "engine/fast_resume.h"
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

void piece_checker_data::parse_resume_data(const entry& resume, const torrent_metainfo& info, int block_size,
                                           std::string& error) {
  resume_state state;
  engine::parse_resume_data(resume, info, save_path, block_size, state, error);
  peers = std::move(state.peers);
  piece_map = std::move(state.slots);
  unfinished_pieces = std::move(state.unfinished);
}

void checker_impl::operator()() {
  for (;;) {
    std::shared_ptr<piece_checker_data> waiting, current;
    {
      std::unique_lock l(m_mutex);
      m_cond.wait(l, [&] { return m_abort || !m_torrents.empty() || !m_processing.empty(); });
      if (m_abort) return;
      if (!m_torrents.empty()) waiting = m_torrents.front();
    }
    if (waiting && take_waiting(waiting)) continue;
    {
      std::lock_guard l(m_mutex);
      if (!m_processing.empty()) current = m_processing.front();
    }
    if (current) check_step(current);
  }
}

bool checker_impl::take_waiting(const std::shared_ptr<piece_checker_data>& d) {
  auto leave_queue = [&] {
    auto i = std::find(m_torrents.begin(), m_torrents.end(), d);
    if (i == m_torrents.end()) return false;  // removed meanwhile
    m_torrents.erase(i);
    return true;
  };
  torrent& t = *d->torrent_ptr;
  try {
    {
      // Under the checker lock, so that handle calls never see the storage
      // half made.
      std::unique_lock l(m_mutex);
      if (d->abort) {
        l.unlock();
        std::lock_guard ses_lock(m_ses.m_mutex);
        std::lock_guard again(m_mutex);
        if (leave_queue()) drop(*d);
        return true;
      }
      t.init_storage();
    }
    std::string error;
    d->parse_resume_data(d->resume_data, t.metainfo(), t.block_size(), error);
    if (!error.empty() && m_ses.m_alerts.should_post(alert::warning)) {
      std::lock_guard ses_lock(m_ses.m_mutex);
      m_ses.m_alerts.post_alert(fastresume_rejected_alert(t.get_handle(), error));
    }
    d->resume_data = entry();
    if (t.check_fastresume(*d)) {
      std::lock_guard ses_lock(m_ses.m_mutex);
      std::lock_guard l(m_mutex);
      if (leave_queue()) hand_over(*d);
      return true;
    }
  } catch (const std::exception& e) {
    // Storage that cannot be made or read: the torrent is not checked.
    std::lock_guard ses_lock(m_ses.m_mutex);
    std::lock_guard l(m_mutex);
    if (!leave_queue()) return true;
    if (m_ses.m_alerts.should_post(alert::fatal)) m_ses.m_alerts.post_alert(file_error_alert(t.get_handle(), e.what()));
    drop(*d);
    return true;
  }
  std::lock_guard l(m_mutex);
  if (!leave_queue()) return true;
  m_processing.push_back(d);
  if (m_processing.size() == 1) d->processing = true;
  return false;
}

void checker_impl::check_step(const std::shared_ptr<piece_checker_data>& d) {
  try {
    const auto [finished, progress] = d->torrent_ptr->check_files();
    {
      std::lock_guard l(m_mutex);
      d->progress = progress;
      if (!finished && !d->abort) return;
    }
    std::lock_guard ses_lock(m_ses.m_mutex);
    std::lock_guard l(m_mutex);
    if (d->abort) drop(*d);
    else hand_over(*d);
    finish_processing(d);
  } catch (const std::exception& e) {
    std::lock_guard ses_lock(m_ses.m_mutex);
    std::lock_guard l(m_mutex);
    // A torrent that was removed meanwhile is no one's concern any more.
    if (!d->abort && m_ses.m_alerts.should_post(alert::fatal)) {
      m_ses.m_alerts.post_alert(file_error_alert(d->torrent_ptr->get_handle(), e.what()));
    }
    drop(*d);
    finish_processing(d);
  } catch (...) {
    std::lock_guard l(m_mutex);
    finish_processing(d);
  }
}

void checker_impl::hand_over(piece_checker_data& d) {
  torrent& t = *d.torrent_ptr;
  t.files_checked(d.unfinished_pieces);
  m_ses.m_torrents.emplace(d.info_hash, d.torrent_ptr);
  if (t.is_seed() && m_ses.m_alerts.should_post(alert::info)) {
    m_ses.m_alerts.post_alert(torrent_finished_alert(t.get_handle(), "torrent is complete"));
  }
  for (const address& a : d.peers) t.add_tracker_peer(a, peer_id());
}

void checker_impl::drop(piece_checker_data& d) {
  if (d.torrent_ptr->num_peers() == 0) return;
  m_ses.m_torrents.emplace(d.info_hash, d.torrent_ptr);
  d.torrent_ptr->abort();
}

void checker_impl::finish_processing(const std::shared_ptr<piece_checker_data>& d) {
  auto i = std::find(m_processing.begin(), m_processing.end(), d);
  if (i != m_processing.end()) m_processing.erase(i);
  if (!m_processing.empty()) m_processing.front()->processing = true;
}

}  // namespace engine
