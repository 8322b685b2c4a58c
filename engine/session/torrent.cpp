#include "engine/session/torrent.h"

#include <algorithm>
#include <cstring>

#include "engine/formats/random.h"
#include "engine/formats/sha1.h"
#include "engine/net/ip_filter.h"
#include "engine/session/alert_types.h"
#include "engine/session/allocate_resources.h"
#include "engine/session/checker_impl.h"
#include "engine/session/peer_connection.h"
#include "engine/storage/disk_io.h"
#include "engine/storage/piece_manager.h"

namespace engine {

// What the choking policy sees of its torrent.
struct torrent::policy_host : policy::torrent_interface {
  explicit policy_host(torrent& owner) : t(owner) {}
  torrent& t;
  policy::time_point now() const override { return std::chrono::steady_clock::now(); }
  int max_connections() const override { return t.connection_quota().given; }
  int max_uploads() const override { return t.unchoke_quota().given; }
  int num_connections() const override { return t.num_peers(); }
  float ratio() const override { return t.m_ratio; }
  bool is_paused() const override { return t.m_paused; }
  bool is_aborted() const override { return t.m_abort; }
  bool is_seed() const override { return t.is_seed(); }
  int block_size() const override { return t.m_block_size; }
  int piece_length() const override { return int(t.m_info.piece_length()); }
  // No blocks are picked before the check has said which pieces are here.
  piece_picker* picker() override { return t.m_files_checked ? t.m_picker.get() : nullptr; }
  policy::connection* connect_to_peer(const address& a) override { return t.connect_to_peer(a).get(); }
  void disconnect(policy::connection& c, const char* why) override {
    static_cast<peer_connection&>(c).disconnect(why);
  }
  std::uint32_t tracker_ip() const override { return t.tracker_address().ip; }
  int connect_room() const override { return t.m_ses.connect_room(); }
  void wait_for_connect_room() override { t.m_ses.wait_for_connect_room(t.info_hash()); }
};

torrent::torrent(host& ses, checker_impl* checker, const torrent_metainfo& info,
                 const std::filesystem::path& save_path, const address& net_interface, bool compact_mode,
                 int block_size)
    : m_ses(ses),
      m_checker(checker),
      m_info(info),
      m_announces(info.trackers(), [this] { return now(); }),
      m_net_interface(net_interface.ip, 0),
      m_save_path(complete_path(save_path)),
      m_compact_mode(compact_mode),
      m_default_block_size(block_size) {
  m_ul_bandwidth_quota =
      resource_request(0, 100, unlimited, limit_from_setting(ses.upload_rate_limit()) == unlimited ? unlimited : 400);
  m_dl_bandwidth_quota =
      resource_request(0, 100, unlimited, limit_from_setting(ses.download_rate_limit()) == unlimited ? unlimited : 400);
  // Its minimum of unchoke slots from the start: the choking policy runs at
  // the first tick, before the session has shared out any slots.
  m_uploads_quota = resource_request(0, 2, unlimited, 2);
  m_connections_quota = resource_request(0, 2, unlimited, 100);
  m_policy_host = std::make_unique<policy_host>(*this);
  m_policy = std::make_unique<policy>(*m_policy_host);
}

torrent::torrent(host& ses, checker_impl* checker, const std::string& tracker_url, const sha1_hash& info_hash,
                 const std::filesystem::path& save_path, const address& net_interface, bool compact_mode,
                 int block_size)
    : torrent(ses, checker, torrent_metainfo(info_hash), save_path, net_interface, compact_mode, block_size) {
  m_info.add_tracker(tracker_url, 0);
  m_announces.replace_trackers(m_info.trackers());
}

torrent::~torrent() {
  // The session's purge takes every closed connection off its torrent, and a
  // torrent leaves the session only after its connections were closed and
  // purged; only connections that never ran in a session get here.
  const auto left = m_connections;
  for (auto& [a, p] : left) p->leave_torrent();
}

torrent::time_point torrent::now() const {
  if (m_clock) return m_clock();
  return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

torrent_handle torrent::get_handle() const { return m_ses.handle_of(*this); }

int torrent::block_size_for(int requested, std::int64_t piece_length) {
  const int b = std::max(requested, 1024);
  if (piece_length < b) return int(piece_length);
  if (piece_length / b > 256) return int(piece_length / 256);
  return b;
}

// --- lifecycle

void torrent::pause() {
  if (m_paused) return;
  disconnect_all("torrent paused");
  m_paused = true;
  m_announces.owe(tracker_query::stopped);
  m_announces.announce_now();
  changed();
  // After the writes under way.
  storage_call([](piece_manager& pm) { pm.release_files(); });
}

void torrent::resume() {
  if (!m_paused) return;
  m_paused = false;
  m_announces.owe(tracker_query::started);
  announce_at(now());
  m_pulse_soon = true;
  m_ses.announce_soon(info_hash());
}

void torrent::abort() {
  m_abort = true;
  m_announces.owe(tracker_query::stopped);
  changed();
  m_check.reset();  // a check under way ends without a result
  disconnect_all("torrent removed");
  if (m_storage) {
    // Reads and hashes are of no use now; what peers sent still goes to disk.
    m_ses.disk().abort_jobs(m_storage.get());
    storage_call([](piece_manager& pm) { pm.release_files(); });
  }
}

void torrent::disconnect_all(const char* reason) {
  for (auto& [a, p] : m_connections) p->disconnect(reason);
}

void torrent::dialled_ourselves(const address& from) {
  for (auto& [a, p] : m_connections) {
    if (!p->is_local() || p->is_disconnecting()) continue;
    try {
      if (p->get_socket()->local_address() != from) continue;
    } catch (const std::exception&) {
      continue;  // no longer connected
    }
    p->found_ourselves();
    p->disconnect("closing connection to ourself");
    return;
  }
}

// --- limits

void torrent::set_upload_limit(int limit) {
  m_upload_limit = std::max(limit_from_setting(limit), 10 * num_peers());
  changed();
}

void torrent::set_download_limit(int limit) {
  m_download_limit = std::max(limit_from_setting(limit), 10 * num_peers());
  changed();
}

// The session shares its limits out at the next second tick; until then the
// new maximum holds already (a tracker reply may come first).
void torrent::set_max_uploads(int limit) {
  m_uploads_quota.max = std::max(limit_from_setting(limit), m_uploads_quota.min);
  m_uploads_quota.given = std::min(m_uploads_quota.given, m_uploads_quota.max);
  changed();
}

void torrent::set_max_connections(int limit) {
  m_connections_quota.max = std::max(limit_from_setting(limit), m_connections_quota.min);
  m_connections_quota.given = std::min(m_connections_quota.given, m_connections_quota.max);
  changed();
}

void torrent::use_interface(const address& net_interface) { m_net_interface = net_interface; }

// --- trackers

tracker_query torrent::generate_tracker_request() {
  tracker_query req = m_announces.take_announce();
  changed();
  req.info_hash = info_hash();
  req.pid = m_ses.local_id();
  req.downloaded = m_stat.total_payload_download();
  req.uploaded = m_stat.total_payload_upload();
  req.left = has_metadata() ? bytes_left() : 1000;
  req.num_want = req.event == tracker_query::stopped ? 0 : std::max(m_connections_quota.given - num_peers(), 100);
  return req;
}

void torrent::try_next_tracker(const tracker_query& failed) {
  if (m_announces.try_next_tracker(failed))
    m_ses.announce_soon(info_hash());
  else
    changed();
}

void torrent::force_tracker_request() {
  announce_at(now());
  m_ses.announce_soon(info_hash());
}

void torrent::tracker_warning(const std::string& message) {
  m_ses.alerts().post_if([&] { return tracker_warning_alert(get_handle(), message); });
}

void torrent::tracker_response(const tracker_query&, std::vector<tracker_peer> peers, int interval, int complete,
                               int incomplete) {
  m_announces.replied(interval);
  changed();
  if (complete >= 0) m_complete = complete;
  if (incomplete >= 0) m_incomplete = incomplete;

  std::shuffle(peers.begin(), peers.end(), random_source());
  for (const tracker_peer& p : peers) {
    if (p.pid == m_ses.local_id()) continue;
    // Only dotted addresses: a host name here would block the network
    // thread on a name server.
    const auto a = address::parse_dotted(p.ip, p.port);
    if (!a || (m_ses.filter().access(*a) & ip_filter::blocked)) continue;
    add_tracker_peer(*a, p.pid);
  }

  if (m_announces.last_working_tracker() >= 0)
    m_ses.alerts().post_if(
        [&] { return tracker_reply_alert(get_handle(), "Got response from tracker: " + m_announces.working_url()); });
  m_got_tracker_response = true;
}

void torrent::post_tracker_alert(const tracker_query& q, int status_code, const std::string& what) {
  m_ses.alerts().post_if([&] {
    return tracker_alert(get_handle(), m_announces.failed_rounds() + 1, status_code,
                         "tracker: \"" + q.url + "\" " + what);
  });
}

void torrent::tracker_request_timed_out(const tracker_query& q) {
  post_tracker_alert(q, 0, "timed out");
  request_peers_from_swarm(20);
  try_next_tracker(q);
}

void torrent::tracker_request_error(const tracker_query& q, int status_code, const std::string& message) {
  post_tracker_alert(q, status_code, message);
  request_peers_from_swarm(20);
  try_next_tracker(q);
}

// --- once a second

void torrent::second_tick(stat& accumulator) {
  m_connections_quota.used = num_peers();
  m_uploads_quota.used = m_policy->num_uploads();
  for (resource_request* q : {&m_ul_bandwidth_quota, &m_dl_bandwidth_quota}) q->used = q->min = q->max = 0;

  if (m_paused) {
    accumulator += m_stat;  // what its connections moved before the pause closed them
    m_stat.second_tick();
    return;
  }
  for (auto& [a, p] : m_connections) {
    m_stat += p->statistics();
    p->second_tick();
    for (auto [mine, theirs] : {std::pair{&m_ul_bandwidth_quota, &p->upload_rate_quota()},
                                std::pair{&m_dl_bandwidth_quota, &p->download_rate_quota()}}) {
      // A peer's count may stand at the limit (a quota it never used up):
      // the sums saturate rather than wrap.
      mine->used = saturated_add(mine->used, theirs->used);
      mine->min = saturated_add(mine->min, theirs->min);
      mine->max = saturated_add(mine->max, theirs->max);
    }
  }
  // Peers the connect limit held back.
  m_policy->connect_peers();
  m_ul_bandwidth_quota.max =
      m_upload_limit == unlimited ? unlimited : std::min(m_ul_bandwidth_quota.max, m_upload_limit);
  m_dl_bandwidth_quota.max =
      m_download_limit == unlimited ? unlimited : std::min(m_dl_bandwidth_quota.max, m_download_limit);
  accumulator += m_stat;
  m_stat.second_tick();
}

int torrent::skip_ticks(int ticks) {
  // The pulse comes at the tick where the countdown falls below 1.
  const int first = std::max(m_time_scaler, 1);
  if (ticks < first) {
    m_time_scaler -= ticks;
    return 0;
  }
  const int pulses = 1 + (ticks - first) / 10;
  const int last = first + (pulses - 1) * 10;
  m_policy_pulses += pulses;
  m_time_scaler = 10 - (ticks - last);
  return last;
}

void torrent::distribute_resources() {
  const bool pulse = --m_time_scaler < 1 || m_pulse_soon;
  if (pulse) {
    m_time_scaler = 10;
    m_pulse_soon = false;
    ++m_policy_pulses;
    m_policy->pulse();
  }
  allocate_resources(m_ul_bandwidth_quota.given, m_connections,
                     [](auto& c) -> resource_request& { return c.second->upload_rate_quota(); });
  allocate_resources(m_dl_bandwidth_quota.given, m_connections,
                     [](auto& c) -> resource_request& { return c.second->download_rate_quota(); });
  for (auto& [a, p] : m_connections) p->reset_quota();
}

// --- peers

std::shared_ptr<peer_connection> torrent::connect_to_peer(const address& a) {
  auto c = m_ses.connect(*this, a);
  m_connections[a] = c.get();
  changed();
  return c;
}

void torrent::attach_peer(peer_connection* p) {
  m_policy->new_connection(*p);  // may refuse it
  m_connections[p->remote()] = p;
  changed();
}

void torrent::remove_peer(peer_connection* p) {
  auto i = m_connections.find(p->remote());
  if (i == m_connections.end() || i->second != p) return;
  if (m_files_checked && m_picker) {
    // Its requests and its pieces no longer count.
    for (const piece_block& b : p->download_queue()) m_picker->abort_download(b);
    for (const piece_block& b : p->request_queue()) m_picker->abort_download(b);
    const auto& bits = p->get_bitfield();
    for (int k = 0; k < int(bits.size()) && k < m_picker->num_pieces(); ++k)
      if (bits[std::size_t(k)]) m_picker->dec_refcount(k);
  }
  m_policy->connection_closed(*p);
  m_connections.erase(i);
  // The bytes of its second under way would go with it.
  m_stat += p->statistics();
}

// --- storage

void torrent::init_storage() {
  if (m_storage) return;
  m_block_size = block_size_for(m_default_block_size, m_info.piece_length());
  const auto total_blocks = int((m_info.total_size() + m_block_size - 1) / m_block_size);
  m_picker = std::make_unique<piece_picker>(int(m_info.piece_length() / m_block_size), total_blocks);
  m_storage = std::make_shared<piece_manager>(m_info, m_save_path);
  m_have_pieces.assign(std::size_t(m_info.num_pieces()), false);
}

void torrent::prepare_check(piece_checker_data& d) {
  init_storage();
  d.info = m_info;
  d.save_path = m_save_path;
  d.block_size = m_block_size;
  d.compact_mode = m_compact_mode;
  d.storage = m_storage;
}

void torrent::files_checked(std::vector<bool> have, const std::vector<piece_picker::downloading_piece>& unfinished) {
  m_check.reset();
  changed();
  m_have_pieces = std::move(have);
  m_have_pieces.resize(std::size_t(m_info.num_pieces()), false);
  m_num_pieces = int(std::count(m_have_pieces.begin(), m_have_pieces.end(), true));
  m_picker->files_checked(m_have_pieces, unfinished);
  const bool first = !m_files_checked;
  m_files_checked = true;
  if (!first) return;
  // Connections made before the check learn the piece count now, and their
  // peers learn which pieces we have: no bitfield could go out then.
  for (auto& [a, p] : m_connections) {
    try {
      p->init();
    } catch (const std::exception& e) {
      p->disconnect(e.what());
      continue;
    }
    for (int i = 0; i < int(m_have_pieces.size()); ++i)
      if (m_have_pieces[std::size_t(i)]) p->announce_piece(i);
  }
}

void torrent::storage_call(std::function<void(piece_manager&)> op) {
  if (m_storage) m_ses.disk().async_call(m_storage, std::move(op));
}

void torrent::write_block(int piece, int start, const char* data, int length, std::unique_ptr<char[]> owned) {
  auto copy = std::move(owned);
  if (!copy) {
    copy = m_ses.disk().allocate_buffer(std::size_t(length));
    std::memcpy(copy.get(), data, std::size_t(length));
  }
  ++m_piece_io[piece].writes;
  m_ses.disk().async_write(m_storage, piece, start, length, std::move(copy),
                           [w = weak_from_this(), piece](disk_job& j) {
                             if (auto t = w.lock()) t->block_written(piece, j);
                           });
}

void torrent::read_block(const peer_request& r, std::function<void(disk_job&)> done) {
  m_ses.disk().async_read(m_storage, r.piece, r.start, r.length, std::move(done));
}

void torrent::block_written(int piece, const disk_job& j) {
  auto i = m_piece_io.find(piece);
  if (i == m_piece_io.end()) return;
  --i->second.writes;
  if (j.error) {
    i->second.write_failed = true;
    disk_failed(*j.error);
  }
  settle_piece_io(piece);
}

void torrent::settle_piece_io(int piece) {
  auto i = m_piece_io.find(piece);
  if (i == m_piece_io.end() || i->second.writes > 0 || i->second.hashing) return;
  const bool failed = i->second.write_failed;
  m_piece_io.erase(i);
  if (!failed) return;
  // Blocks that never reached the disk are fetched again, with the rest of
  // the piece: no peer is blamed for it.
  m_picker->restore_piece(piece);
  storage_call([piece](piece_manager& pm) { pm.mark_failed(piece); });
}

void torrent::disk_failed(const std::string& error) {
  if (m_abort || m_paused) return;
  m_ses.alerts().post_if([&] { return file_error_alert(get_handle(), error); });
  pause();
}

void torrent::piece_downloaded(int piece) {
  m_piece_io[piece].hashing = true;
  m_ses.disk().async_hash(m_storage, piece, [w = weak_from_this(), piece](disk_job& j) {
    if (auto t = w.lock()) t->piece_hashed(piece, j);
  });
}

void torrent::piece_hashed(int piece, const disk_job& j) {
  auto i = m_piece_io.find(piece);
  if (i == m_piece_io.end()) return;
  i->second.hashing = false;
  if (m_abort) {
    m_piece_io.erase(i);
    return;
  }
  if (j.error) {
    // The piece could not be read back: the disk failed, not the peers.
    i->second.write_failed = true;
    disk_failed(*j.error);
  }
  if (i->second.write_failed) {
    settle_piece_io(piece);
    return;
  }
  m_piece_io.erase(i);
  piece_verified(piece, j.digest == m_info.hash_for_piece(piece));
}

void torrent::piece_verified(int piece, bool passed) {
  const bool was_seed = is_seed();
  const std::vector<address> downloaders = m_picker->get_downloaders(piece);
  if (passed) {
    if (!m_have_pieces[std::size_t(piece)]) {
      m_have_pieces[std::size_t(piece)] = true;
      ++m_num_pieces;
    }
    m_picker->we_have(piece);
    for (auto& [a, p] : m_connections) p->announce_piece(piece);
    for (const address& a : downloaders)
      if (auto i = m_connections.find(a); i != m_connections.end()) i->second->received_valid_data();
    if (m_num_pieces + m_picker->num_filtered() == m_info.num_pieces()) finished_downloading();
  } else {
    piece_failed(piece);
  }
  m_policy->piece_finished(piece, passed);
  if (!was_seed && is_seed()) {
    m_announces.owe(tracker_query::completed);
    announce_at(now());
  }
}

void torrent::wait_for_disk() {
  if (m_storage) m_ses.disk().wait_for(m_storage.get());
}

std::vector<int> torrent::unsettled_pieces() const {
  std::vector<int> out;
  for (const auto& [piece, io] : m_piece_io)
    if (io.hashing || io.write_failed) out.push_back(piece);
  return out;
}

std::vector<piece_picker::downloading_piece> torrent::resumable_downloads() const {
  const std::vector<int> unsettled = unsettled_pieces();
  std::vector<piece_picker::downloading_piece> out;
  for (const auto& d : m_picker->get_download_queue())
    if (std::find(unsettled.begin(), unsettled.end(), d.index) == unsettled.end()) out.push_back(d);
  return out;
}

void torrent::piece_failed(int piece) {
  m_ses.alerts().post_if(
      [&] { return hash_failed_alert(get_handle(), piece, "hash for piece " + std::to_string(piece) + " failed"); });
  m_total_failed_bytes += m_info.piece_size(piece);
  // Every block of the piece is finished: the addresses are the peers that
  // delivered them (zero for blocks that came from resume data).
  std::vector<address> contributors = m_picker->get_downloaders(piece);
  std::sort(contributors.begin(), contributors.end());
  contributors.erase(std::unique(contributors.begin(), contributors.end()), contributors.end());
  std::erase(contributors, address());
  m_picker->restore_piece(piece);
  storage_call([piece](piece_manager& pm) { pm.mark_failed(piece); });

  const auto live = [&](const address& a) -> peer_connection* {
    auto i = m_connections.find(a);
    if (i == m_connections.end() || i->second->is_disconnecting()) return nullptr;
    const policy::peer* r = m_policy->find_peer(a.ip);
    return r && r->banned ? nullptr : i->second;
  };
  // A peer that can no longer be checked (it left, or is banned already)
  // may have brought the bad blocks: the peers still here are not to be
  // blamed for them, or one bad peer that taints pieces and leaves gets
  // the honest ones that finish them banned.
  bool absent = false;
  for (const address& a : contributors) absent = absent || !live(a);
  for (const address& a : contributors) {
    peer_connection* p = live(a);
    if (contributors.size() == 1) {
      // It alone sent the piece: proven to send wrong data.
      ban(a, p);
    } else if (!p) {
      // A suspect that cannot be asked again: what else it sent is fetched
      // from others.
      forget_unchecked_blocks(a);
    } else if (!absent) {
      p->received_invalid_data();
      if (p->trust_points() < -6) ban(a, p);
    }
  }
}

void torrent::ban(const address& a, peer_connection* p) {
  if (p) {
    m_ses.alerts().post_if(
        [&] { return peer_ban_alert(a, get_handle(), "banning peer because of too many corrupt pieces"); });
    m_policy->ban_peer(*p);
    p->disconnect("banning peer because of too many corrupt pieces");
  } else {
    m_policy->ban_peer(a.ip);
  }
  forget_unchecked_blocks(a);
}

void torrent::forget_unchecked_blocks(const address& a) {
  // Pieces being hashed keep their blocks: their check decides.
  std::vector<int> hashing;
  for (const auto& [index, io] : m_piece_io)
    if (io.hashing) hashing.push_back(index);
  m_picker->forget_blocks_of(a, hashing);
}

void torrent::finished_downloading() {
  m_ses.alerts().post_if([&] { return torrent_finished_alert(get_handle(), "torrent has finished downloading"); });
  for (auto& [a, p] : m_connections)
    if (p->is_seed()) p->disconnect("torrent finished, closing connection to seed");
  storage_call([](piece_manager& pm) { pm.release_files(); });
}

// --- state

std::pair<std::int64_t, std::int64_t> torrent::bytes_done() const {
  if (!has_metadata()) return {0, 0};
  const int last = m_info.num_pieces() - 1;
  std::int64_t total = 0, wanted = 0;
  for (int p = 0; p <= last; ++p) {
    if (!m_have_pieces[std::size_t(p)]) continue;
    total += m_info.piece_size(p);
    if (!m_picker->is_filtered(p)) wanted += m_info.piece_size(p);
  }
  for (const auto& d : m_picker->get_download_queue()) {
    for (int b = 0; b < m_picker->blocks_in_piece(d.index); ++b) {
      if (!d.finished[std::size_t(b)]) continue;
      const int n = block_length(m_info.piece_size(d.index), m_block_size, b);
      total += n;
      if (!m_picker->is_filtered(d.index)) wanted += n;
    }
  }
  // Blocks half received right now.
  for (const auto& [a, p] : m_connections) {
    const auto b = p->download_progress();
    if (!b || m_picker->is_finished(piece_block(b->piece_index, b->block_index))) continue;
    total += b->bytes_downloaded;
    if (!m_picker->is_filtered(b->piece_index)) wanted += b->bytes_downloaded;
  }
  return {total, wanted};
}

std::int64_t torrent::bytes_left() const {
  if (!has_metadata()) return -1;
  return m_info.total_size() - bytes_done().first;
}

// --- filters

void torrent::filter_piece(int index, bool filter) {
  if (!has_metadata() || index < 0 || index >= m_info.num_pieces()) return;
  if (filter)
    m_picker->filter(index);
  else
    m_picker->unfilter(index);
}

bool torrent::is_piece_filtered(int index) const {
  return has_metadata() && index >= 0 && index < m_info.num_pieces() && m_picker->is_filtered(index);
}

std::vector<bool> torrent::filtered_pieces() const {
  return has_metadata() ? m_picker->filtered_pieces() : std::vector<bool>();
}

void torrent::filter_pieces(const std::vector<bool>& filter) {
  if (!has_metadata()) return;
  std::vector<int> wanted;
  const int n = std::min(int(filter.size()), m_info.num_pieces());
  for (int i = 0; i < n; ++i) {
    if (filter[std::size_t(i)] == m_picker->is_filtered(i)) continue;
    if (filter[std::size_t(i)])
      m_picker->filter(i);
    else
      wanted.push_back(i);
  }
  std::shuffle(wanted.begin(), wanted.end(), random_source());
  for (int i : wanted) m_picker->unfilter(i);
}

void torrent::filter_file(int index, bool filter) {
  if (!has_metadata() || index < 0 || index >= int(m_info.files().size())) return;
  std::int64_t offset = 0;
  for (int i = 0; i < index; ++i) offset += m_info.files()[std::size_t(i)].size;
  const std::int64_t size = m_info.files()[std::size_t(index)].size;
  const piece_range pieces = pieces_of_bytes(offset, size, m_info.piece_length());
  for (int p = pieces.first; p < pieces.end; ++p) filter_piece(p, filter);
}

void torrent::filter_files(const std::vector<bool>& files) {
  if (!has_metadata()) return;
  const int pieces = m_info.num_pieces();
  std::vector<bool> filter(std::size_t(pieces), true);
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < m_info.files().size(); ++i) {
    const std::int64_t size = m_info.files()[i].size;
    // Exactly the pieces the file touches: a file that ends on a piece
    // boundary does not make the next piece wanted.
    if (i >= files.size() || !files[i]) {
      const piece_range touched = pieces_of_bytes(offset, size, m_info.piece_length());
      for (int p = touched.first; p < std::min(touched.end, pieces); ++p) filter[std::size_t(p)] = false;
    }
    offset += size;
  }
  filter_pieces(filter);
}

bool torrent::move_storage(const std::filesystem::path& save_path) {
  if (!m_storage) {
    m_save_path = save_path;
    return true;
  }
  const bool moved = m_storage->move_storage(save_path);
  m_save_path = m_storage->save_path();
  return moved;
}

const entry& torrent::metadata() const {
  if (m_info_dictionary.type() == entry::undefined_t) m_info_dictionary = m_info.build_info_dictionary();
  return m_info_dictionary;
}

torrent_status torrent::status(bool with_pieces) const {
  if (m_check) return m_check->status(m_paused);
  torrent_status st;
  st.paused = m_paused;
  st.block_size = m_block_size;
  st.next_announce = std::max(next_announce() - now(), std::chrono::microseconds(0));
  st.announce_interval = m_announces.interval();
  st.current_tracker = m_announces.working_url();
  st.total_download = m_stat.total_download();
  st.total_upload = m_stat.total_upload();
  st.total_payload_download = m_stat.total_payload_download();
  st.total_payload_upload = m_stat.total_payload_upload();
  st.total_failed_bytes = m_total_failed_bytes;
  st.download_rate = m_stat.download_rate();
  st.upload_rate = m_stat.upload_rate();
  st.download_payload_rate = m_stat.download_payload_rate();
  st.upload_payload_rate = m_stat.upload_payload_rate();
  st.num_peers = int(std::count_if(m_connections.begin(), m_connections.end(),
                                   [](const auto& c) { return !c.second->is_connecting(); }));
  st.num_complete = m_complete;
  st.num_incomplete = m_incomplete;
  if (!has_metadata()) {
    // Without storage the progress is that of the metadata download.
    st.state = m_got_tracker_response ? downloading_metadata : connecting_to_tracker;
    if (m_metadata && m_metadata->total_size() > 0)
      st.progress = std::min(1.0f, float(m_metadata->bytes_received()) / float(m_metadata->total_size()));
    return st;
  }
  const auto [total_done, wanted_done] = bytes_done();
  std::int64_t wanted = m_info.total_size();
  for (int p = 0; p < m_info.num_pieces(); ++p) {
    if (m_picker->is_filtered(p)) wanted -= m_info.piece_size(p);
  }
  st.total_done = total_done;
  st.total_wanted_done = wanted_done;
  st.total_wanted = wanted;
  st.progress = wanted == 0 ? 1.0f : float(double(wanted_done) / double(wanted));
  if (with_pieces) st.pieces = m_have_pieces;
  if (!m_got_tracker_response) st.state = connecting_to_tracker;
  else if (is_seed()) st.state = seeding;
  else if (wanted_done == wanted) st.state = finished;
  else st.state = downloading;
  return st;
}

}  // namespace engine
