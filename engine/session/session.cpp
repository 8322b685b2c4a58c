#include "engine/session/session.h"

#include <stdexcept>

#include "engine/session/checker_impl.h"
#include "engine/session/peer_connection.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"

namespace engine {

session::session(const fingerprint& id)
    : m_impl_owner(std::make_unique<session_impl>(0, 0, id, nullptr)), m_impl(*m_impl_owner),
      m_checker_owner(std::make_unique<checker_impl>(m_impl)),
      m_checker_impl(*m_checker_owner) {
  start_threads();
}

session::session(const fingerprint& id, std::pair<int, int> listen_port_range, const char* listen_interface)
    : m_impl_owner(std::make_unique<session_impl>(listen_port_range.first, listen_port_range.second, id,
                                                  listen_interface)),
      m_impl(*m_impl_owner),
      m_checker_owner(std::make_unique<checker_impl>(m_impl)),
      m_checker_impl(*m_checker_owner) {
  start_threads();
}

void session::start_threads() {
  m_impl.set_checker(&m_checker_impl);
  m_thread = std::thread([this] { m_impl(); });
  m_checker_thread = std::thread([this] { m_checker_impl(); });
}

session::~session() {
  // Handles outlive the session: a call under way ends first, and every
  // later one throws invalid_handle instead of reaching what goes below.
  m_impl.lifetime()->end();
  {
    platform::mutex_lock l(m_impl.m_mutex);
    m_impl.m_abort = true;
  }
  {
    platform::mutex_lock l(m_checker_impl.m_mutex);
    m_checker_impl.m_abort = true;
    if (!m_checker_impl.m_processing.empty()) m_checker_impl.m_processing.front()->abort = true;
    m_checker_impl.m_cond.notify_all();
  }
  m_impl.wake();
  m_thread.join();
  m_checker_thread.join();
}

bool session::listen_on(std::pair<int, int> port_range, const char* net_interface) {
  // Resolved before the lock: a name look-up must not stall the network thread.
  const address interface_address(net_interface ? net_interface : "", std::uint16_t(port_range.first));
  platform::mutex_lock l(m_impl.m_mutex);
  if (m_impl.m_listen_socket) m_impl.m_selector.remove(m_impl.m_listen_socket);
  m_impl.m_listen_socket.reset();
  m_impl.m_incoming_connection = false;
  m_impl.m_listen_port_first = port_range.first;
  m_impl.m_listen_port_last = port_range.second;
  m_impl.m_listen_interface = interface_address;
  m_impl.open_listen_port();
  return m_impl.m_listen_socket != nullptr;
}

std::uint16_t session::listen_port() const {
  const session_impl& impl = m_impl;
  platform::mutex_lock l(impl.m_mutex);
  return impl.m_listen_interface.port;
}

bool session::is_listening() const {
  const session_impl& impl = m_impl;
  platform::mutex_lock l(impl.m_mutex);
  return impl.m_listen_socket != nullptr;
}

void session::set_limit(int session_impl::*limit, int value) {
  platform::mutex_lock l(m_impl.m_mutex);
  m_impl.*limit = value;
}

void session::set_upload_rate_limit(int v) { set_limit(&session_impl::m_upload_rate, v); }
void session::set_download_rate_limit(int v) { set_limit(&session_impl::m_download_rate, v); }
void session::set_max_uploads(int v) { set_limit(&session_impl::m_max_uploads, v); }
void session::set_max_connections(int v) { set_limit(&session_impl::m_max_connections, v); }
void session::set_max_half_open_connections(int v) { set_limit(&session_impl::m_half_open_limit, v); }

void session::set_peer_id(const peer_id& id) {
  platform::mutex_lock l(m_impl.m_mutex);
  m_impl.m_peer_id = id;
}

void session::set_key(std::uint32_t key) {
  platform::mutex_lock l(m_impl.m_mutex);
  m_impl.m_key = key;
}

void session::set_http_settings(const http_settings& s) {
  platform::mutex_lock l(m_impl.m_mutex);
  m_impl.m_settings = s;
}

void session::set_ip_filter(const ip_filter& f) {
  platform::mutex_lock l(m_impl.m_mutex);
  if (&f != &m_impl.m_ip_filter) m_impl.m_ip_filter = f;
  m_impl.close_filtered_connections();
}

void session::disable_extensions() {
  platform::mutex_lock l(m_impl.m_mutex);
  std::fill(std::begin(m_impl.m_extension_enabled), std::end(m_impl.m_extension_enabled), false);
  fill_peer_id_randomly(m_impl.m_peer_id, 17, peer_id::size);
}

void session::set_dht_node(dht_link* node) {
  platform::mutex_lock l(m_impl.m_mutex);
  m_impl.m_dht = node;
}

void session::enable_extension(int index) {
  if (index < 0 || index >= session_impl::num_extensions) return;
  platform::mutex_lock l(m_impl.m_mutex);
  m_impl.m_extension_enabled[index] = true;
  std::copy_n("ext", 3, m_impl.m_peer_id.begin() + 17);
}

peer_id session::id() const {
  const session_impl& impl = m_impl;
  platform::mutex_lock l(impl.m_mutex);
  return impl.m_peer_id;
}

void session::set_severity_level(alert::severity_t threshold) { m_impl.m_alerts.set_severity(threshold); }

std::unique_ptr<alert> session::pop_alert() {
  if (!m_impl.m_alerts.pending()) return {};
  return m_impl.m_alerts.get();
}

session_status session::status() const {
  const session_impl& impl = m_impl;
  platform::mutex_lock l(impl.m_mutex);
  session_status s;
  s.has_incoming_connections = impl.m_incoming_connection;
  s.upload_rate = impl.m_stat.upload_rate();
  s.download_rate = impl.m_stat.download_rate();
  s.payload_upload_rate = impl.m_stat.upload_payload_rate();
  s.payload_download_rate = impl.m_stat.download_payload_rate();
  s.total_download = impl.m_stat.total_download();
  s.total_upload = impl.m_stat.total_upload();
  s.total_payload_download = impl.m_stat.total_payload_download();
  s.total_payload_upload = impl.m_stat.total_payload_upload();
  s.num_peers = int(impl.m_connections.size());
  return s;
}

std::vector<std::optional<torrent_status>> session::torrent_statuses(const std::vector<sha1_hash>& torrents) const {
  std::vector<std::optional<torrent_status>> result(torrents.size());
  // The checker first: a torrent moves from it to the session only, so one
  // that moves between the two looks is found in the session.
  std::vector<std::size_t> rest;
  {
    // The checker's look-up does not change it.
    auto& checker = const_cast<checker_impl&>(m_checker_impl);
    platform::mutex_lock l(checker.m_mutex);
    for (std::size_t i = 0; i < torrents.size(); ++i) {
      if (piece_checker_data* d = checker.find_owned_torrent(torrents[i])) {
        result[i] = d->status(d->torrent_ptr->is_paused());
        result[i]->pieces.clear();
      } else {
        rest.push_back(i);
      }
    }
  }
  platform::mutex_lock l(m_impl.m_mutex);
  for (std::size_t i : rest)
    if (auto t = m_impl.find_torrent(torrents[i])) result[i] = t->status(false);
  return result;
}

torrent_handle session::add_torrent(const torrent_metainfo& info, const std::filesystem::path& save_path,
                                    const entry& resume_data, bool compact_mode, int block_size) {
  if (info.files().empty()) throw std::runtime_error("no files in torrent");
  platform::mutex_lock ses_lock(m_impl.m_mutex);
  platform::mutex_lock chk_lock(m_checker_impl.m_mutex);
  if (m_impl.m_abort) throw std::runtime_error("session is closing");
  const sha1_hash& ih = info.info_hash();
  if (m_impl.find_torrent(ih) || m_checker_impl.find_torrent(ih)) throw duplicate_torrent();

  auto d = std::make_shared<piece_checker_data>();
  d->torrent_ptr = std::make_shared<torrent>(m_impl, &m_checker_impl, info, save_path, m_impl.m_listen_interface,
                                             compact_mode, block_size);
  d->save_path = d->torrent_ptr->save_path();
  d->info_hash = ih;
  d->resume_data = resume_data;
  m_checker_impl.queue(std::move(d));
  return torrent_handle(&m_impl, ih);
}

torrent_handle session::add_torrent_from_entry(const entry& torrent_file, const std::filesystem::path& save_path,
                                               const entry& resume_data, bool compact_mode, int block_size) {
  return add_torrent(torrent_metainfo(torrent_file), save_path, resume_data, compact_mode, block_size);
}

torrent_handle session::add_torrent_by_info_hash(const std::string& tracker_url, const sha1_hash& info_hash,
                                                 const std::filesystem::path& save_path, const entry&,
                                                 bool compact_mode, int block_size) {
  // Both locks (session first) around the look and the insert: an add_torrent
  // of the same info-hash in between would otherwise slip past the look.
  platform::mutex_lock ses_lock(m_impl.m_mutex);
  platform::mutex_lock chk_lock(m_checker_impl.m_mutex);
  if (m_impl.find_torrent(info_hash) || m_checker_impl.find_torrent(info_hash)) throw duplicate_torrent();
  m_impl.insert_torrent(std::make_shared<torrent>(m_impl, &m_checker_impl, tracker_url, info_hash, save_path,
                                                 m_impl.m_listen_interface, compact_mode, block_size));
  return torrent_handle(&m_impl, info_hash);
}

void session::remove_torrent(const torrent_handle& h) {
  if (h.m_lifetime != m_impl.lifetime()) return;
  // Both locks at once (session first): a torrent that the checker hands
  // over in between would otherwise escape its removal.
  platform::mutex_lock ses_lock(m_impl.m_mutex);
  platform::mutex_lock chk_lock(m_checker_impl.m_mutex);
  if (auto t = m_impl.find_torrent(h.info_hash())) t->abort();
  // A torrent that waits for its check leaves the queue; a check under way
  // stops, that of a running torrent too.
  m_checker_impl.remove_torrent(h.info_hash());
}

std::vector<torrent_handle> session::get_torrents() {
  platform::mutex_lock ses_lock(m_impl.m_mutex);
  platform::mutex_lock chk_lock(m_checker_impl.m_mutex);
  std::vector<torrent_handle> result;
  for (auto* queue : {&m_checker_impl.m_torrents, &m_checker_impl.m_processing})
    for (auto& d : *queue)
      if (d->torrent_ptr && !d->abort && !d->torrent_ptr->is_aborted())
        result.emplace_back(&m_impl, d->info_hash);
  for (auto& [ih, t] : m_impl.m_torrents)
    if (!t->is_aborted()) result.emplace_back(&m_impl, ih);
  return result;
}

}  // namespace engine
