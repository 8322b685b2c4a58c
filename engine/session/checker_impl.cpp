#include "engine/session/checker_impl.h"

#include <algorithm>

#include "engine/session/alert_types.h"
#include "engine/session/fast_resume.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"
#include "engine/storage/piece_manager.h"

namespace engine {

piece_checker_data* checker_impl::find_torrent(const sha1_hash& info_hash) {
  // A waiting record before one in progress, as the queues are searched.
  piece_checker_data* found = nullptr;
  for (auto [i, end] = m_index.equal_range(info_hash); i != end; ++i) {
    if (i->second->waiting) return i->second;
    found = i->second;
  }
  return found;
}

void checker_impl::forget(const piece_checker_data& d) {
  for (auto [i, end] = m_index.equal_range(d.info_hash); i != end; ++i)
    if (i->second == &d) {
      m_index.erase(i);
      return;
    }
}

bool checker_impl::leave_waiting(const std::shared_ptr<piece_checker_data>& d) {
  // The record taken is nearly always the front.
  auto i = std::find(m_torrents.begin(), m_torrents.end(), d);
  if (i == m_torrents.end()) return false;  // removed meanwhile
  m_torrents.erase(i);
  return true;
}

piece_checker_data* checker_impl::find_owned_torrent(const sha1_hash& info_hash) {
  piece_checker_data* d = find_torrent(info_hash);
  return d && d->torrent_ptr ? d : nullptr;
}

void checker_impl::remove_torrent(const sha1_hash& info_hash) {
  bool waits = false;
  for (auto [i, end] = m_index.equal_range(info_hash); i != end; ++i) {
    if (i->second->waiting)
      waits = true;
    else
      i->second->abort = true;
  }
  if (!waits) return;
  std::erase_if(m_torrents, [&](const auto& d) REQUIRES(m_mutex) {
    if (d->info_hash != info_hash) return false;
    forget(*d);
    return true;
  });
}

void checker_impl::queue(std::shared_ptr<piece_checker_data> d) {
  d->waiting = true;
  m_index.emplace(d->info_hash, d.get());
  m_torrents.push_back(std::move(d));
  m_cond.notify_all();
}

void piece_checker_data::parse_resume_data(const entry& resume, const torrent_metainfo& metainfo, int blocks,
                                           std::string& error) {
  resume_state state;
  engine::parse_resume_data(resume, metainfo, save_path, blocks, state, error);
  peers = std::move(state.peers);
  piece_map = std::move(state.slots);
  unfinished_pieces = std::move(state.unfinished);
}

bool piece_checker_data::check_fastresume() {
  std::vector<int> unfinished;
  for (const auto& p : unfinished_pieces) unfinished.push_back(p.index);
  return storage->check_fastresume(piece_map, unfinished, have, compact_mode);
}

std::pair<bool, float> piece_checker_data::check_files() { return storage->check_pieces(have); }

torrent_status piece_checker_data::status(bool paused) const {
  torrent_status st;
  st.state = queued_for_checking;
  if (processing) st.state = storage && storage->is_allocating() ? allocating : checking_files;
  st.progress = progress;
  st.paused = paused;
  return st;
}

std::shared_ptr<torrent> piece_checker_data::target() const { return torrent_ptr ? torrent_ptr : running.lock(); }

void checker_impl::operator()() {
  for (;;) {
    std::shared_ptr<piece_checker_data> waiting, current;
    {
      platform::mutex_lock l(m_mutex);
      l.wait(m_cond, [&]() REQUIRES(m_mutex) { return m_abort || !m_torrents.empty() || !m_processing.empty(); });
      if (m_abort) return;
      if (!m_torrents.empty()) waiting = m_torrents.front();
    }
    if (waiting && take_waiting(waiting)) continue;
    {
      platform::mutex_lock l(m_mutex);
      if (!m_processing.empty()) current = m_processing.front();
    }
    if (current) check_step(current);
  }
}

bool checker_impl::take_waiting(const std::shared_ptr<piece_checker_data>& d) {
  // Off the waiting queue and out of the checker.
  auto leave_queue = [&]() REQUIRES(m_mutex) {
    if (!leave_waiting(d)) return false;
    forget(*d);
    return true;
  };
  const torrent_handle handle(&m_ses, d->info_hash);
  try {
    {
      platform::mutex_lock l(m_mutex);
      if (d->abort) {
        l.unlock();
        platform::mutex_lock ses_lock(m_ses.mutex());
        platform::mutex_lock again(m_mutex);
        if (leave_queue()) drop(*d);
        return true;
      }
      // Under the lock of the torrent's owner, this one: handle calls never
      // see the storage half made. A torrent of the session got its storage
      // from the network thread before its record came here.
      if (d->torrent_ptr && !d->storage) d->torrent_ptr->prepare_check(*d);
    }
    std::string error;
    d->parse_resume_data(d->resume_data, d->info, d->block_size, error);
    if (!error.empty()) {
      platform::mutex_lock ses_lock(m_ses.mutex());
      m_ses.alerts().post_if([&] { return fastresume_rejected_alert(handle, error); });
    }
    d->resume_data = entry();
    if (d->check_fastresume()) {
      platform::mutex_lock ses_lock(m_ses.mutex());
      platform::mutex_lock l(m_mutex);
      if (leave_queue()) hand_over(*d);
      return true;
    }
  } catch (const std::exception& e) {
    // Storage that cannot be made or read: the torrent is not checked.
    platform::mutex_lock ses_lock(m_ses.mutex());
    platform::mutex_lock l(m_mutex);
    if (!leave_queue()) return true;
    m_ses.alerts().post_if([&] { return file_error_alert(handle, e.what()); });
    drop(*d);
    return true;
  }
  platform::mutex_lock l(m_mutex);
  if (!leave_waiting(d)) return true;
  d->waiting = false;
  m_processing.push_back(d);
  if (m_processing.size() == 1) d->processing = true;
  return false;
}

void checker_impl::check_step(const std::shared_ptr<piece_checker_data>& d) {
  try {
    const auto [finished, progress] = d->check_files();
    {
      platform::mutex_lock l(m_mutex);
      d->progress = progress;
      if (!finished && !d->abort) return;
    }
    platform::mutex_lock ses_lock(m_ses.mutex());
    platform::mutex_lock l(m_mutex);
    if (d->abort) drop(*d);
    else hand_over(*d);
    finish_processing(d);
  } catch (const std::exception& e) {
    platform::mutex_lock ses_lock(m_ses.mutex());
    platform::mutex_lock l(m_mutex);
    // A torrent that was removed meanwhile is no one's concern any more.
    if (!d->abort)
      m_ses.alerts().post_if([&] { return file_error_alert(torrent_handle(&m_ses, d->info_hash), e.what()); });
    drop(*d);
    finish_processing(d);
  } catch (...) {
    platform::mutex_lock ses_lock(m_ses.mutex());
    platform::mutex_lock l(m_mutex);
    drop(*d);
    finish_processing(d);
  }
}

void checker_impl::hand_over(piece_checker_data& d) {
  const std::shared_ptr<torrent> t = d.target();
  if (d.torrent_ptr) {
    m_ses.insert_torrent(t);
    m_ses.announce_soon(d.info_hash);  // a resumed torrent need not wait for the tick
  } else if (!t || m_ses.find_torrent(d.info_hash) != t || t->is_aborted()) {
    return;  // removed while its files were checked
  }
  t->files_checked(std::move(d.have), d.unfinished_pieces);
  if (t->is_seed())
    m_ses.alerts().post_if([&] { return torrent_finished_alert(t->get_handle(), "torrent is complete"); });
  for (const address& a : d.peers) t->add_tracker_peer(a, peer_id());
}

void checker_impl::drop(piece_checker_data& d) {
  if (d.torrent_ptr) return;
  if (auto t = d.running.lock(); t && m_ses.find_torrent(d.info_hash) == t) t->abort();
}

void checker_impl::finish_processing(const std::shared_ptr<piece_checker_data>& d) {
  auto i = std::find(m_processing.begin(), m_processing.end(), d);
  if (i != m_processing.end()) {
    forget(*d);
    m_processing.erase(i);
  }
  if (!m_processing.empty()) m_processing.front()->processing = true;
}

}  // namespace engine
