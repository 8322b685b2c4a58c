#include "engine/session/torrent_handle.h"

#include "engine/session/checker_impl.h"
#include "engine/session/fast_resume.h"
#include "engine/session/peer_connection.h"
#include "engine/session/resource_request.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"
#include "engine/storage/piece_manager.h"

namespace engine {

// A handle call's view of its session, held from ending for the call: no
// session for the null handle and once the session has ended.
struct handle_target {
  session_impl* ses;
  checker_impl* chk;
  const sha1_hash& ih;

  bool alive() const { return ses != nullptr; }
  session_impl& session() const {
    if (!ses) throw invalid_handle();
    return *ses;
  }
};

const std::shared_ptr<const session_lifetime>& session_lifetime::none() {
  static const std::shared_ptr<const session_lifetime> ended = std::make_shared<const session_lifetime>(nullptr);
  return ended;
}

torrent_handle::torrent_handle(session_impl* ses, const sha1_hash& info_hash)
    : m_info_hash(info_hash), m_lifetime(ses ? ses->lifetime() : nullptr) {}

template <class F>
auto torrent_handle::held(F f) const {
  const session_lifetime& life = m_lifetime ? *m_lifetime : *session_lifetime::none();
  return life.hold([&](session_impl* ses, checker_impl* chk) { return f(handle_target{ses, chk, m_info_hash}); });
}

namespace {

// The one place that decides whose lock a handle call takes: that of the
// torrent's owner at this moment (checker_impl.h). A torrent that waits in
// the checker is the checker's, and `in_checker` gets its record under the
// checker lock; otherwise `in_session` gets the session's torrent under the
// session lock. The locks are taken one after the other, never nested: a
// torrent moves one way only, from the checker to the session, so one that
// moves between the two looks is found in the session.
template <class InChecker, class InSession>
auto with_owner(const handle_target& h, InChecker in_checker, InSession in_session) {
  session_impl& ses = h.session();
  if (h.chk) {
    platform::mutex_lock l(h.chk->m_mutex);
    if (piece_checker_data* d = h.chk->find_owned_torrent(h.ih)) return in_checker(*d);
  }
  platform::mutex_lock l(ses.mutex());
  if (auto t = ses.find_torrent(h.ih)) return in_session(*t);
  throw invalid_handle();
}

// Applies `f` to the torrent under its owner's lock.
template <class F>
auto call(const handle_target& h, F f) {
  return with_owner(h, [&](piece_checker_data& d) { return f(*d.torrent_ptr); }, f);
}

// The same, but only for a torrent of the session's map.
template <class F>
auto call_running(const handle_target& h, F f) {
  session_impl& ses = h.session();
  platform::mutex_lock l(ses.mutex());
  if (auto t = ses.find_torrent(h.ih)) return f(*t);
  throw invalid_handle();
}

peer_info make_peer_info(const peer_connection& c) {
  peer_info p;
  if (c.is_interesting()) p.flags |= peer_info::interesting;
  if (c.is_choked()) p.flags |= peer_info::choked;
  if (c.is_peer_interested()) p.flags |= peer_info::remote_interested;
  if (c.has_peer_choked()) p.flags |= peer_info::remote_choked;
  if (c.supports_extensions()) p.flags |= peer_info::supports_extensions;
  if (c.is_local()) p.flags |= peer_info::local_connection;
  if (c.is_queued())
    p.flags |= peer_info::queued;
  else if (c.is_connecting())
    p.flags |= peer_info::connecting;
  p.ip = c.remote();
  const stat& s = c.statistics();
  p.up_speed = s.upload_rate();
  p.down_speed = s.download_rate();
  p.payload_up_speed = s.upload_payload_rate();
  p.payload_down_speed = s.download_payload_rate();
  p.total_download = c.total_payload_download();
  p.total_upload = c.total_payload_upload();
  p.pid = c.id();
  p.pieces = c.get_bitfield();
  p.seed = c.is_seed();
  p.upload_limit = limit_to_setting(c.upload_rate_quota().given);
  p.upload_ceiling = limit_to_setting(c.upload_rate_quota().max);
  p.load_balancing = c.total_free_upload();
  p.download_queue_length = c.download_queue_size();
  p.upload_queue_length = int(c.peer_requests().size());
  if (const auto progress = c.download_progress()) {
    p.downloading_piece_index = progress->piece_index;
    p.downloading_block_index = progress->block_index;
    p.downloading_progress = progress->bytes_downloaded;
    p.downloading_total = progress->full_block_bytes;
  }
  return p;
}

}  // namespace

template <class F>
auto torrent_handle::on_torrent(F f) const {
  return held([&](const handle_target& h) { return call(h, f); });
}

template <class F>
auto torrent_handle::on_running(F f) const {
  return held([&](const handle_target& h) { return call_running(h, f); });
}

bool torrent_handle::is_valid() const {
  return held([](const handle_target& h) {
    if (!h.alive()) return false;
    try {
      return call(h, [](torrent&) { return true; });
    } catch (const invalid_handle&) {
      return false;
    }
  });
}

bool torrent_handle::is_paused() const {
  return on_torrent([](torrent& t) { return t.is_paused(); });
}

void torrent_handle::pause() const {
  on_torrent([](torrent& t) { t.pause(); });
}

void torrent_handle::resume() const {
  on_torrent([](torrent& t) { t.resume(); });
}

torrent_status torrent_handle::status() const {
  return held([](const handle_target& h) {
    return with_owner(
        h, [](piece_checker_data& d) { return d.status(d.torrent_ptr->is_paused()); },
        [](torrent& t) { return t.status(); });
  });
}

entry torrent_handle::build_resume_data() const {
  return held([&](const handle_target& h) {
    if (!h.alive()) return entry();
    platform::mutex_lock l(h.ses->mutex());
    auto t = h.ses->find_torrent(h.ih);
    // Nothing either while its files are checked (its metadata came from its peers).
    if (!t || !t->are_files_checked()) return entry();
    // Peers this side connected to listen on the port it used.
    std::vector<address> peers;
    for (const auto& [a, c] : t->peers()) {
      if (c->is_local() && !c->is_connecting()) peers.push_back(a);
    }
    // The blocks received so far reach the disk first, so that the checksums
    // describe them.
    t->wait_for_disk();
    return engine::build_resume_data(t->metainfo(), t->filesystem(), t->block_size(), t->resumable_downloads(), peers,
                                     t->unsettled_pieces());
  });
}

bool torrent_handle::has_metadata() const {
  return on_torrent([](torrent& t) { return t.has_metadata(); });
}

torrent_metainfo torrent_handle::metainfo() const {
  return on_torrent([](torrent& t) {
    if (!t.has_metadata()) throw invalid_handle();
    return t.metainfo();
  });
}

std::vector<announce_entry> torrent_handle::trackers() const {
  return on_torrent([](torrent& t) { return t.trackers(); });
}

void torrent_handle::replace_trackers(const std::vector<announce_entry>& urls) const {
  on_torrent([&](torrent& t) { t.replace_trackers(urls); });
}

std::filesystem::path torrent_handle::save_path() const {
  return on_torrent([](torrent& t) { return t.save_path(); });
}

void torrent_handle::set_max_uploads(int limit) const {
  on_torrent([=](torrent& t) { t.set_max_uploads(limit); });
}

void torrent_handle::set_max_connections(int limit) const {
  on_torrent([=](torrent& t) { t.set_max_connections(limit); });
}

void torrent_handle::set_upload_limit(int bytes_per_second) const {
  on_torrent([=](torrent& t) { t.set_upload_limit(bytes_per_second); });
}

void torrent_handle::set_download_limit(int bytes_per_second) const {
  on_torrent([=](torrent& t) { t.set_download_limit(bytes_per_second); });
}

void torrent_handle::use_interface(const std::string& net_interface) const {
  // A host name may take a while to look up: never under the session lock.
  const address local(net_interface, 0);
  on_torrent([&](torrent& t) { t.use_interface(local); });
}

void torrent_handle::set_ratio(float ratio) const {
  on_torrent([=](torrent& t) { t.set_ratio(ratio); });
}

void torrent_handle::set_tracker_login(const std::string& name, const std::string& password) const {
  on_torrent([&](torrent& t) { t.set_tracker_login(name, password); });
}

bool torrent_handle::is_seed() const {
  return on_torrent([](torrent& t) { return t.is_seed(); });
}

void torrent_handle::filter_piece(int index, bool filter) const {
  on_torrent([=](torrent& t) { t.filter_piece(index, filter); });
}

bool torrent_handle::is_piece_filtered(int index) const {
  return on_torrent([=](torrent& t) { return t.is_piece_filtered(index); });
}

std::vector<bool> torrent_handle::filtered_pieces() const {
  return on_torrent([](torrent& t) { return t.filtered_pieces(); });
}

void torrent_handle::filter_pieces(const std::vector<bool>& pieces) const {
  on_torrent([&](torrent& t) { t.filter_pieces(pieces); });
}

void torrent_handle::filter_file(int index, bool filter) const {
  on_torrent([=](torrent& t) { t.filter_file(index, filter); });
}

void torrent_handle::filter_files(const std::vector<bool>& files) const {
  on_torrent([&](torrent& t) { t.filter_files(files); });
}

bool torrent_handle::move_storage(const std::filesystem::path& save_path) const {
  return on_torrent([&](torrent& t) { return t.move_storage(save_path); });
}

entry torrent_handle::metadata() const {
  return on_torrent([](torrent& t) {
    return t.has_metadata() ? t.metadata() : entry();
  });
}

void torrent_handle::connect_peer(const address& a) const {
  on_running([&](torrent& t) {
    t.add_tracker_peer(a, peer_id());
  });
}

void torrent_handle::get_download_queue(std::vector<partial_piece_info>& queue) const {
  queue.clear();
  held([&](const handle_target& h) {
    session_impl& ses = h.session();
    platform::mutex_lock l(ses.mutex());
    auto t = ses.find_torrent(h.ih);
    if (!t || !t->has_metadata()) return;
    const piece_picker& picker = t->picker();
    for (const auto& d : picker.get_download_queue()) {
      partial_piece_info p;
      p.piece_index = d.index;
      p.blocks_in_piece = picker.blocks_in_piece(d.index);
      p.requested_blocks = d.requested;
      p.finished_blocks = d.finished;
      for (std::size_t b = 0; b < p.peer.size() && b < d.info.size(); ++b) p.peer[b] = d.info[b];
      p.num_downloads = d.num_downloads;
      queue.push_back(p);
    }
  });
}

void torrent_handle::get_peer_info(std::vector<peer_info>& peers) const {
  peers.clear();
  held([&](const handle_target& h) {
    session_impl& ses = h.session();
    platform::mutex_lock l(ses.mutex());
    auto t = ses.find_torrent(h.ih);
    if (!t) return;
    for (const auto& [a, c] : t->peers())
      if (c->associated_torrent() == t.get()) peers.push_back(make_peer_info(*c));
  });
}

void torrent_handle::force_reannounce() const {
  on_running([](torrent& t) { t.force_tracker_request(); });
}

void torrent_handle::force_reannounce_after(std::chrono::microseconds span) const {
  on_running([=](torrent& t) { t.force_tracker_request(span); });
}

bool torrent_handle::send_chat_message(const address& peer, std::string_view text) const {
  return held([&](const handle_target& h) {
    if (!h.alive()) return false;
    platform::mutex_lock l(h.ses->mutex());
    auto t = h.ses->find_torrent(h.ih);
    if (!t) return false;
    const auto c = t->peers().find(peer);
    return c != t->peers().end() && c->second->send_chat_message(text);
  });
}

}  // namespace engine
