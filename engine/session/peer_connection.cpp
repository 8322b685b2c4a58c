#include "engine/session/peer_connection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "engine/formats/random.h"
#include "engine/net/selector.h"
#include "engine/session/alert_types.h"
#include "engine/session/piece_picker.h"
#include "engine/session/torrent.h"
#include "engine/storage/disk_io.h"
#include "engine/storage/piece_manager.h"
#include "engine/wire/dht_link.h"
#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"

namespace engine {

namespace {

using std::chrono::seconds;

resource_request quota_for(int limit) {
  return resource_request(0, 10, resource_request::inf, limit == resource_request::inf ? resource_request::inf : 400);
}

// A new connection of a torrent starts small when the torrent has a limit of
// its own or gets a limited share of the session's: it must not run
// unlimited until the next second's sharing.
resource_request quota_for(int limit, const resource_request& torrent_quota) {
  return quota_for(torrent_quota.given == resource_request::inf ? limit : 400);
}

}  // namespace

bool is_legal_request(const peer_request& r, int num_pieces, std::int64_t piece_size, bool have_piece,
                      int block_size) {
  if (num_pieces < 0) return false;
  if (r.piece < 0 || r.piece >= num_pieces || !have_piece) return false;
  if (r.start < 0 || r.start >= piece_size) return false;
  if (r.length < 1 || std::int64_t(r.start) + r.length > piece_size) return false;
  // A request for more than a block would pull whole pieces into memory.
  return r.length <= std::max(max_request_length, block_size);
}

bool is_valid_block(const peer_request& r, int num_pieces, std::int64_t piece_size, bool last_piece,
                    int block_size) {
  if (r.piece < 0 || r.piece >= num_pieces) return false;
  if (r.length < 1 || r.start < 0 || r.length > block_size) return false;
  const std::int64_t end = std::int64_t(r.start) + r.length;
  if (r.length < block_size && !(last_piece && end == piece_size)) return false;
  if (end > piece_size) return false;
  return r.start % block_size == 0;
}

peer_connection::peer_connection(host& ses, selector& sel, std::shared_ptr<socket> s)
    : m_ses(ses), m_selector(sel), m_socket(std::move(s)), m_remote(m_socket->remote_address()) {
  m_ul_bandwidth_quota = quota_for(resource_request::inf);
  m_dl_bandwidth_quota = quota_for(resource_request::inf);
}

peer_connection::peer_connection(host& ses, selector& sel, torrent* t, std::shared_ptr<socket> s,
                                 const address& remote)
    : m_ses(ses),
      m_selector(sel),
      m_socket(std::move(s)),
      m_remote(remote),
      m_torrent(t),
      m_outgoing(true),
      m_phase(phase::queued) {
  m_ul_bandwidth_quota = quota_for(t->upload_limit(), t->upload_rate_quota());
  m_dl_bandwidth_quota = quota_for(t->download_limit(), t->download_rate_quota());
  write_handshake();
  if (has_metadata()) {
    init();
    send_bitfield();
  }
}

peer_connection::~peer_connection() {
  if (!is_disconnecting()) m_phase = phase::closing;
  m_selector.remove(m_socket);
  // Closed connections left their torrent at the purge already.
  leave_torrent();
}

void peer_connection::leave_torrent() {
  if (attached()) m_torrent->remove_peer(this);
  m_torrent = nullptr;
  m_requests.clear();
  m_disk_reads.clear();
  m_disk_read_bytes = 0;
  m_request_queue.clear();
  m_download_queue.clear();
}

// The piece count, the picker and our own pieces are settled only once the
// torrent's check is through: a torrent whose metadata came from the swarm
// keeps its connections while the checker thread builds its storage.
bool peer_connection::has_metadata() const { return m_torrent && m_torrent->are_files_checked(); }
int peer_connection::num_pieces() const { return has_metadata() ? m_torrent->metainfo().num_pieces() : -1; }

void peer_connection::init() {
  if (!has_metadata()) return;
  if (m_pieces_counted) return;
  m_pieces_counted = true;
  const int n = num_pieces();
  // Bits that arrived before the metadata (a bitfield of unknown size) are kept
  // as far as they fit.
  m_have_piece.resize(std::size_t(n), false);
  m_num_pieces = int(std::count(m_have_piece.begin(), m_have_piece.end(), true));
  piece_picker& picker = m_torrent->picker();
  bool interesting = false;
  for (int i = 0; i < n; ++i) {
    if (!m_have_piece[i]) continue;
    picker.inc_refcount(i);
    if (!m_torrent->have_piece(i) && !picker.is_filtered(i)) interesting = true;
  }
  if (m_torrent->is_seed() && is_seed())
    throw std::runtime_error("seed to seed connection redundant, disconnecting");
  // Pieces announced before the metadata came (from this very peer, say)
  // make the peer worth asking now.
  if (interesting && attached() && !m_interesting) m_torrent->get_policy().peer_is_interesting(*this);
}

void peer_connection::set_clock(clock_function c) {
  m_clock = std::move(c);
  const auto t = now();
  m_last_receive = m_last_sent = m_last_piece = m_last_request = t;
  m_became_uninteresting = m_became_uninterested = t;
}

void peer_connection::attach_to_torrent(torrent* t) {
  m_torrent = t;
  t->attach_peer(this);
  m_phase = phase::active;
  // The torrent's check may have ended while the handshake was on its way:
  // the peer's pieces must be sized and counted before its first message.
  init();
}

void peer_connection::connect() {
  if (m_phase == phase::queued) m_phase = phase::connecting;
  m_socket->connect(m_remote, m_torrent ? m_torrent->local_interface() : address());
  m_selector.monitor_writability(m_socket);
  m_selector.monitor_errors(m_socket);
  m_writing = true;
}

void peer_connection::connection_established() {
  if (m_phase == phase::connecting) m_phase = phase::active;
  m_writing = false;
  m_selector.remove_writable(m_socket);
  m_selector.monitor_readability(m_socket);
  m_reading = true;
  m_last_receive = m_last_sent = now();
  update_writability();
}

void peer_connection::disconnect(const std::string& reason) { m_ses.close(*this, reason); }

bool peer_connection::start_closing() {
  if (is_disconnecting()) return false;
  m_phase = phase::closing;
  update_writability();
  return true;
}

void peer_connection::add_stat(std::int64_t downloaded, std::int64_t uploaded) {
  m_prev_download += downloaded;
  m_prev_upload += uploaded;
}

bool peer_connection::is_seed() const {
  return has_metadata() && m_num_pieces == int(m_have_piece.size()) && m_num_pieces > 0;
}

std::int64_t peer_connection::share_diff() const {
  const float ratio = m_torrent ? m_torrent->ratio() : 0.0f;
  if (ratio == 0.0f) return std::numeric_limits<std::int64_t>::max();
  return std::int64_t(double(total_payload_download()) * ratio) - total_payload_upload() + m_free_upload;
}

bool peer_connection::in_download_queue(piece_block block) const {
  return std::find(m_download_queue.begin(), m_download_queue.end(), block) != m_download_queue.end();
}

// ---------------------------------------------------------------- receiving

void peer_connection::receive_data() {
  if (is_disconnecting()) return;  // closed at the next purge
  for (;;) {
    const int quota = m_dl_bandwidth_quota.left();
    if (quota <= 0) break;
    if (m_ses.disk().over_limit()) {
      // The disk is behind: what we read now would only pile up in memory.
      if (!m_disk_blocked) {
        m_disk_blocked = true;
        m_ses.wait_for_disk(*this);
      }
      if (m_reading) {
        m_selector.remove_readable(m_socket);
        m_reading = false;
      }
      break;
    }
    lend_next_block();
    std::array<std::span<char>, wire_receiver::max_places> places;
    const std::size_t count = m_receiver.read_places(places);
    // As much as the quota allows, in the order given.
    std::size_t want = 0;
    std::size_t used = 0;
    for (; used < count && want < std::size_t(quota); ++used) {
      places[used] = places[used].first(std::min(places[used].size(), std::size_t(quota) - want));
      want += places[used].size();
    }
    const int n = used == 1 ? m_socket->receive(places[0].data(), int(want))
                            : m_socket->receive(std::span(places.data(), used));
    if (n == 0) throw protocol_error("connection closed by remote host");
    if (n < 0) {
      const int err = socket::last_error();
      if (err != network_error::would_block) throw network_error(err);
      return_lent();
      break;
    }
    m_receiver.commit(std::size_t(n));
    m_dl_bandwidth_quota.used += n;
    m_last_receive = now();
    // What was parsed counts even when a message closes the connection.
    const auto count_received = [&] {
      std::int64_t payload, protocol;
      m_receiver.take_counts(payload, protocol);
      m_stat.received_bytes(int(payload), int(protocol));
      return payload;
    };
    try {
      m_receiver.parse(*this);
    } catch (...) {
      count_received();
      throw;
    }
    if (count_received() > 0) m_last_piece = m_last_receive;
    return_lent();
    if (std::size_t(n) < want) break;  // the socket is drained
  }
  if (m_dl_bandwidth_quota.left() <= 0 && m_reading) {
    m_selector.remove_readable(m_socket);
    m_reading = false;
  }
  update_writability();
}

void peer_connection::on_version_query() {
  m_send.append(wire::version_reply.data(), wire::version_reply.size());
  // One attempt; the connection closes right after.
  m_socket->send(m_send.data(), int(m_send.size()));
}

void peer_connection::on_info_hash(const std::uint8_t* reserved, const sha1_hash& info_hash) {
  // Each flag is one bit; the other bits of the byte may carry anything.
  m_supports_extensions = (reserved[wire::extension_byte] & wire::extension_bit) != 0;
  m_supports_dht = (reserved[wire::dht_byte] & wire::dht_bit) != 0;

  if (!m_torrent) {
    std::shared_ptr<torrent> t = m_ses.find_torrent(info_hash);
    if (!t || t->is_aborted()) throw protocol_error("got info-hash that is not in our session");
    if (t->is_paused()) throw protocol_error("connection rejected by paused torrent");
    m_torrent = t.get();
    m_ul_bandwidth_quota = quota_for(t->upload_limit(), t->upload_rate_quota());
    m_dl_bandwidth_quota = quota_for(t->download_limit(), t->download_rate_quota());
    m_dl_bandwidth_quota.used = 0;
    write_handshake();
    if (has_metadata()) {
      init();
      send_bitfield();
    }
  } else if (info_hash != m_torrent->info_hash()) {
    throw protocol_error("invalid info-hash in handshake");
  }
}

void peer_connection::on_peer_id(const peer_id& id) {
  if (id == m_ses.local_id()) {
    // One of the torrent's own connections dialled our listen port: the
    // handshake it sent arrives here first, and this side closes before
    // answering it, so that one learns it from the torrent.
    if (m_outgoing)
      found_ourselves();
    else if (m_torrent)
      m_torrent->dialled_ourselves(m_remote);
    throw protocol_error("closing connection to ourself");
  }
  m_peer_id = id;
  m_supports_ext_list = id[17] == 'e' && id[18] == 'x' && id[19] == 't';
  m_extensions.handshake_received(m_supports_extensions, m_supports_ext_list, m_send);
  if (m_supports_dht) wire::write_dht_port(m_send, announced_dht_port(m_ses.dht()));
  if (m_phase == phase::handshake) attach_to_torrent(m_torrent);
}

void peer_connection::on_packet_header(int id, int size) {
  wire::check_packet_size(id, size, num_pieces());
  if (id == wire::msg_piece && m_torrent && size - 9 > std::max(m_torrent->block_size(), 0))
    throw protocol_error("invalid piece packet");
}

// The size was checked by on_packet_header.
void peer_connection::on_packet(std::span<const char> packet) { on_message(wire::decode(packet)); }

void peer_connection::on_message(const wire::message& m) {
  struct dispatch {
    peer_connection& c;
    void operator()(const wire::choke_message&) const { c.on_choke(); }
    void operator()(const wire::unchoke_message&) const { c.on_unchoke(); }
    void operator()(const wire::interested_message&) const { c.on_interested(); }
    void operator()(const wire::not_interested_message&) const { c.on_not_interested(); }
    void operator()(const wire::have_message& h) const { c.on_have(h.piece); }
    void operator()(const wire::bitfield_message& b) const { c.on_bitfield(b); }
    void operator()(const wire::request_message& r) const { c.on_request(r.r); }
    void operator()(const wire::piece_message& p) const { c.on_piece(p, nullptr); }
    void operator()(const wire::cancel_message& r) const { c.on_cancel(r.r); }
    void operator()(const wire::dht_port_message& d) const {
      if (c.m_torrent) dht_port_received(c.m_ses.dht(), c.m_remote, d.port, c.m_torrent->info_hash());
    }
    void operator()(const wire::extension_message& e) const { c.m_extensions.on_packet(e.packet, c.m_send, c.now()); }
  };
  std::visit(dispatch{*this}, m);
}

void peer_connection::abort_all_requests() {
  if (has_metadata()) {
    piece_picker& picker = m_torrent->picker();
    for (const piece_block& b : m_download_queue) picker.abort_download(b);
    for (const piece_block& b : m_request_queue) picker.abort_download(b);
  }
  m_download_queue.clear();
  m_request_queue.clear();
}

void peer_connection::on_choke() {
  m_peer_choked = true;
  m_torrent->get_policy().choked(*this);
  abort_all_requests();
}

void peer_connection::on_unchoke() {
  m_peer_choked = false;
  m_torrent->get_policy().unchoked(*this);
}

void peer_connection::on_interested() {
  m_peer_interested = true;
  m_torrent->get_policy().interested(*this);
}

void peer_connection::on_not_interested() {
  m_became_uninterested = now();
  m_peer_interested = false;
  m_torrent->get_policy().not_interested(*this);
}

void peer_connection::on_have(int index) {
  if (!has_metadata()) {
    // Without metadata the piece count is unknown: remember what fits.
    if (index >= 0 && index < int(m_have_piece.size())) m_have_piece[index] = true;
    return;
  }
  if (index < 0 || index >= num_pieces())
    throw protocol_error("have message with higher index than the number of pieces");
  if (m_have_piece[index]) return;
  m_have_piece[index] = true;
  ++m_num_pieces;
  piece_picker& picker = m_torrent->picker();
  picker.inc_refcount(index);
  if (!m_torrent->have_piece(index) && !m_interesting && !picker.is_filtered(index))
    m_torrent->get_policy().peer_is_interesting(*this);
  if (m_torrent->is_seed() && is_seed()) throw protocol_error("seed to seed connection redundant, disconnecting");
}

void peer_connection::on_bitfield(const wire::bitfield_message& m) {
  const auto bit = [&](int i) { return m.has(i); };
  if (!has_metadata()) {
    const int bits = m.size();
    m_have_piece.assign(std::size_t(bits), false);
    for (int i = 0; i < bits; ++i) m_have_piece[i] = bit(i);
    m_num_pieces = int(std::count(m_have_piece.begin(), m_have_piece.end(), true));
    return;
  }
  piece_picker& picker = m_torrent->picker();
  const int n = num_pieces();
  std::vector<int> gained;
  for (int i = 0; i < n; ++i) {
    const bool has = bit(i);
    if (has == m_have_piece[i]) continue;
    m_have_piece[i] = has;
    if (has) {
      ++m_num_pieces;
      gained.push_back(i);
    } else {
      --m_num_pieces;
      picker.dec_refcount(i);
    }
  }
  // Equal peer counts should not always favour low piece indices.
  std::shuffle(gained.begin(), gained.end(), random_source());
  bool interesting = false;
  for (int i : gained) {
    picker.inc_refcount(i);
    if (!m_torrent->have_piece(i) && !picker.is_filtered(i)) interesting = true;
  }
  if (m_torrent->is_seed() && is_seed()) throw protocol_error("seed to seed connection redundant, disconnecting");
  if (interesting) m_torrent->get_policy().peer_is_interesting(*this);
}

void peer_connection::on_request(const peer_request& r) {
  const int pieces = num_pieces();
  const bool legal = pieces >= 0 && int(m_requests.size() + m_disk_reads.size()) <= max_pending_requests &&
                     is_legal_request(r, pieces, r.piece >= 0 && r.piece < pieces ? m_torrent->metainfo().piece_size(r.piece) : 0,
                                      r.piece >= 0 && r.piece < pieces && m_torrent->have_piece(r.piece),
                                      m_torrent->block_size()) &&
                     m_peer_interested;
  if (!legal) {
    ++m_num_invalid_requests;
    m_ses.alerts().post_if([&] {
      return invalid_request_alert(r, m_torrent->get_handle(), m_remote, m_peer_id,
                                   "peer sent an illegal request, ignoring");
    });
    return;
  }
  if (m_choked) return;
  m_requests.push_back(r);
  issue_reads();
  update_writability();
}

void peer_connection::on_cancel(const peer_request& r) {
  const auto it = std::find(m_requests.begin(), m_requests.end(), r);
  if (it != m_requests.end()) {
    m_requests.erase(it);
    return;
  }
  // Already being read: its data is dropped when it comes.
  for (disk_read& d : m_disk_reads) {
    if (d.r == r && !d.cancelled) {
      d.cancelled = true;
      return;
    }
  }
}

bool peer_connection::is_valid_incoming_block(const peer_request& r) const {
  const int pieces = num_pieces();
  if (pieces < 0 || r.piece < 0 || r.piece >= pieces) return false;
  return is_valid_block(r, pieces, m_torrent->metainfo().piece_size(r.piece), r.piece == pieces - 1,
                        m_torrent->block_size());
}

char* peer_connection::block_destination(std::span<const char> header, int length) {
  // Blocks we keep are received straight into a buffer for the disk; any
  // other goes the usual way (and on_piece tells what is wrong with it).
  if (!attached() || !has_metadata()) return nullptr;
  const peer_request r = wire::decode_piece(header, nullptr, length).r;
  if (!is_valid_incoming_block(r) ||
      m_torrent->picker().is_finished(piece_block(r.piece, r.start / m_torrent->block_size())))
    return nullptr;
  // A lent buffer that the read went on into is taken as it is.
  const auto lent = m_receiver.first_lent();
  m_incoming.reset();
  for (auto& b : m_next_blocks)
    if (b && b.get() == lent.data() && std::size_t(length) == m_next_block_size) m_incoming = std::move(b);
  if (!m_incoming) m_incoming = m_ses.disk().allocate_buffer(std::size_t(length));
  return m_incoming.get();
}

void peer_connection::lend_next_block() {
  if (m_download_queue.empty() || !attached() || !has_metadata()) return;
  disk_io& disk = m_ses.disk();
  const std::size_t size = std::size_t(std::max(m_torrent->block_size(), 1));
  // A read may bring in a block beyond each lent one: together they stay
  // within the disk worker's bound.
  const std::size_t in_flight = disk.bytes_in_flight();
  const std::size_t room = disk.limit() > in_flight ? (disk.limit() - in_flight) / size : 0;
  const std::size_t lend = std::min<std::size_t>(m_next_blocks.size(), room > 0 ? room - 1 : 0);
  m_next_block_size = size;
  for (std::size_t i = 0; i < lend; ++i) m_next_blocks[i] = disk.allocate_buffer(size);
  const auto room_of = [&](std::size_t i) {
    return m_next_blocks[i] ? std::span<char>(m_next_blocks[i].get(), size) : std::span<char>();
  };
  m_receiver.lend(room_of(0), room_of(1));
}

void peer_connection::return_lent() {
  // Lent for one read only: what no block took goes back for reuse.
  for (auto& b : m_next_blocks)
    if (b) m_ses.disk().recycle(std::move(b), m_next_block_size);
  m_receiver.lend({}, {});
}

void peer_connection::on_piece_received(std::span<const char> header, int length) {
  const char* data = m_incoming.get();
  on_piece(wire::decode_piece(header, data, length), std::move(m_incoming));
}

void peer_connection::on_piece(const wire::piece_message& m, std::unique_ptr<char[]> owned) {
  m_last_piece = now();
  const int block_size = m_torrent->block_size();
  const peer_request& r = m.r;
  if (!is_valid_incoming_block(r)) throw protocol_error("invalid piece packet");

  const piece_block block(r.piece, r.start / block_size);
  piece_picker& picker = m_torrent->picker();
  if (const auto it = std::find(m_download_queue.begin(), m_download_queue.end(), block);
      it != m_download_queue.end()) {
    m_download_queue.erase(it);
    send_block_requests();
  } else if (picker.is_requested(block)) {
    // Someone else is fetching it too: they may stop.
    const address other = picker.get_downloaders(block.piece_index)[std::size_t(block.block_index)];
    const auto& peers = m_torrent->peers();
    if (const auto p = peers.find(other); p != peers.end() && p->second != this) p->second->cancel_request(block);
  } else {
    m_ses.alerts().post_if([&] { return peer_error_alert(m_remote, m_peer_id, "got a block that was not requested"); });
  }

  if (picker.is_finished(block)) return;
  m_torrent->write_block(r.piece, r.start, m.data, r.length, std::move(owned));
  picker.mark_as_finished(block, m_remote);
  m_torrent->get_policy().block_finished(*this, block);
  if (picker.is_piece_finished(r.piece)) m_torrent->piece_downloaded(r.piece);
}

// ---------------------------------------------------------------- sending

void peer_connection::write_handshake() {
  wire::write_handshake(m_send, m_torrent->info_hash(), m_ses.local_id());
  update_writability();
}

void peer_connection::send_choke() {
  if (m_choked) return;
  wire::write_simple(m_send, wire::msg_choke);
  m_choked = true;
  m_num_invalid_requests = 0;
  m_requests.clear();
  for (disk_read& d : m_disk_reads) d.cancelled = true;
  update_writability();
}

void peer_connection::send_unchoke() {
  if (!m_choked) return;
  wire::write_simple(m_send, wire::msg_unchoke);
  m_choked = false;
  update_writability();
}

void peer_connection::send_interested() {
  if (m_interesting) return;
  wire::write_simple(m_send, wire::msg_interested);
  m_interesting = true;
  update_writability();
}

void peer_connection::send_not_interested() {
  if (!m_interesting) return;
  wire::write_simple(m_send, wire::msg_not_interested);
  m_interesting = false;
  m_became_uninteresting = now();
  update_writability();
}

void peer_connection::send_have(int piece) {
  // Also to a peer that has the piece: a seed learns only this way how far
  // its peers are (what its peers window shows of them).
  wire::write_have(m_send, piece);
  update_writability();
}

void peer_connection::announce_piece(int piece) {
  m_announce_queue.push_back(piece);
  update_writability();
}

void peer_connection::send_bitfield() {
  if (!has_metadata() || m_torrent->num_have() == 0) return;
  wire::write_bitfield(m_send, m_torrent->pieces());
  update_writability();
}

void peer_connection::request_block(piece_block block) {
  m_torrent->picker().mark_as_downloading(block, m_remote);
  m_request_queue.push_back(block);
  send_block_requests();
}

void peer_connection::cancel_request(piece_block block) {
  m_torrent->picker().abort_download(block);
  if (auto it = std::find(m_download_queue.begin(), m_download_queue.end(), block); it != m_download_queue.end()) {
    m_download_queue.erase(it);
  } else if (auto rit = std::find(m_request_queue.begin(), m_request_queue.end(), block);
             rit != m_request_queue.end()) {
    m_request_queue.erase(rit);
  } else {
    return;
  }
  send_block_requests();
  const int block_size = m_torrent->block_size();
  const int length = block_length(m_torrent->metainfo().piece_size(block.piece_index), block_size, block.block_index);
  wire::write_request(m_send, wire::msg_cancel, {block.piece_index, block.block_index * block_size, length});
  update_writability();
}

void peer_connection::send_block_requests() {
  const int block_size = m_torrent->block_size();
  const int wanted = policy::wanted_queue_length(m_stat.download_rate(), block_size);
  bool sent = false;
  while (int(m_download_queue.size()) < wanted && !m_request_queue.empty()) {
    const piece_block b = m_request_queue.front();
    m_request_queue.pop_front();
    m_download_queue.push_back(b);
    const int length = block_length(m_torrent->metainfo().piece_size(b.piece_index), block_size, b.block_index);
    wire::write_request(m_send, wire::msg_request, {b.piece_index, b.block_index * block_size, length});
    sent = true;
  }
  if (sent) {
    m_last_request = now();
    update_writability();
  }
}

std::size_t peer_connection::send_ahead() const {
  return std::size_t(6) * std::size_t(m_torrent ? std::max(m_torrent->block_size(), 1) : 1);
}

bool peer_connection::can_read_ahead() const {
  // Up to six blocks wait in the send buffer and a dozen more are being
  // read, so the socket seldom waits for the disk while the peer asks.
  return !m_requests.empty() && !m_choked && m_send.size() < send_ahead() &&
         m_disk_read_bytes < 2 * send_ahead() && attached();
}

void peer_connection::issue_reads() {
  if (is_disconnecting()) return;
  const std::size_t most = std::size_t(4) * std::size_t(std::max(m_torrent ? m_torrent->block_size() : 0, 1));
  while (can_read_ahead()) {
    const std::uint32_t id = m_next_read_id++;
    const peer_request first = m_requests.front();
    peer_request all = first;
    do {
      const peer_request r = m_requests.front();
      m_requests.pop_front();
      m_disk_reads.push_back({r, id, nullptr});
      m_disk_read_bytes += std::size_t(r.length);
      all.length = r.start + r.length - first.start;
    } while (!m_requests.empty() && m_requests.front().piece == first.piece &&
             m_requests.front().start == all.start + all.length &&
             std::size_t(all.length) + std::size_t(m_requests.front().length) <= most);
    m_torrent->read_block(all, [w = weak_from_this(), id](disk_job& j) {
      if (auto c = w.lock()) c->block_read(id, j);
    });
  }
}

void peer_connection::block_read(std::uint32_t id, disk_job& j) {
  if (is_disconnecting()) return;
  auto it = std::find_if(m_disk_reads.begin(), m_disk_reads.end(), [&](const disk_read& d) { return d.id == id; });
  if (it == m_disk_reads.end()) return;  // the connection left its torrent meanwhile
  if (j.error) {
    // As when a read fails while serving: the connection closes with the
    // error, and the torrent stops.
    torrent* t = associated_torrent();
    disconnect(*j.error);
    set_failed();
    if (t) t->disk_failed(*j.error);
    return;
  }
  const std::shared_ptr<char[]> data(std::move(j.buffer));
  for (; it != m_disk_reads.end() && it->id == id; ++it) {
    it->data = data;
    it->at = it->r.start - j.offset;
    it->done = true;
  }
  bool served = false;
  while (!m_disk_reads.empty() && m_disk_reads.front().done) {
    disk_read& d = m_disk_reads.front();
    m_disk_read_bytes -= std::size_t(d.r.length);
    if (!d.cancelled) {
      char* out = wire::write_piece(m_send, d.r);
      std::memcpy(out, d.data.get() + d.at, std::size_t(d.r.length));
      m_send.mark_payload(std::size_t(d.r.length));
      served = true;
    }
    m_disk_reads.pop_front();
  }
  if (served && m_requests.empty() && m_disk_reads.empty() && m_num_invalid_requests > 0 && m_peer_interested &&
      !is_seed()) {
    send_choke();
    send_unchoke();
  }
  m_ses.send_now(*this);
}

void peer_connection::send_data() {
  if (is_disconnecting()) {
    update_writability();
    return;
  }
  issue_reads();
  for (int piece : m_announce_queue) send_have(piece);
  m_announce_queue.clear();

  const int quota = m_ul_bandwidth_quota.left();
  const int n = int(std::min<std::size_t>(m_send.size(), std::size_t(std::max(quota, 0))));
  if (n > 0 && !is_connecting()) {
    const int sent = m_socket->send(m_send.data(), n);
    if (sent < 0) {
      const int err = socket::last_error();
      if (err != network_error::would_block) throw network_error(err);
    } else if (sent > 0) {
      const std::size_t payload = m_send.consume(std::size_t(sent));
      m_stat.sent_bytes(int(payload), sent - int(payload));
      m_ul_bandwidth_quota.used += sent;
      m_last_sent = now();
    }
  }
  update_writability();
}

void peer_connection::update_writability() {
  const bool has_work = can_read_ahead() || !m_send.empty() || !m_announce_queue.empty();
  if (m_phase == phase::queued) return;  // not even connecting yet
  const bool want =
      m_phase == phase::connecting || (has_work && m_ul_bandwidth_quota.left() > 0 && !is_disconnecting());
  if (want == m_writing) return;
  m_writing = want;
  if (want) m_selector.monitor_writability(m_socket);
  else m_selector.remove_writable(m_socket);
}

void peer_connection::disk_ready() {
  m_disk_blocked = false;
  if (running() && !m_reading && m_dl_bandwidth_quota.left() > 0) {
    m_selector.monitor_readability(m_socket);
    m_reading = true;
  }
}

void peer_connection::reset_quota() {
  m_dl_bandwidth_quota.used = 0;
  if (running() && !m_reading && !m_disk_blocked) {
    m_selector.monitor_readability(m_socket);
    m_reading = true;
  }
  update_writability();
}

// ---------------------------------------------------------------- time

void peer_connection::second_tick() {
  const auto t = now();
  if (m_torrent && has_metadata() && !m_download_queue.empty() && t - m_last_piece > seconds(15)) {
    abort_all_requests();
    if (attached()) m_torrent->get_policy().unchoked(*this);
    m_last_piece = t;
  } else if (attached() && !is_disconnecting() && has_metadata() && m_interesting && !m_peer_choked &&
             m_download_queue.empty() && m_request_queue.empty()) {
    // The peer lets us download and nothing is asked of it: its blocks were
    // taken over by faster connections or arrived through others, or every
    // block it could give was taken when it unchoked us. No message of the
    // peer will prompt a new request, so the pipeline is filled again here,
    // with what other connections gave back or the peer got since.
    m_torrent->get_policy().unchoked(*this);
  }

  if (m_torrent && !is_connecting()) m_extensions.second_tick(m_send, t);

  m_stat.second_tick();
  m_ul_bandwidth_quota.used =
      std::min(m_ul_bandwidth_quota.given, int(std::min<double>(std::ceil(m_stat.upload_rate()), resource_request::inf)));

  resource_request& q = m_ul_bandwidth_quota;
  const float ratio = m_torrent ? m_torrent->ratio() : 0.0f;
  if (m_torrent && has_metadata() && !m_torrent->is_seed() && !m_choked && ratio != 0.0f) {
    const double bias = 2.0 * m_torrent->block_size() + 65536.0 + double(m_free_upload);
    const double expected = double(total_payload_download()) + 22.5 * m_stat.download_rate();
    const double allowed = (ratio == 1.0f ? expected : expected * ratio) - double(total_payload_upload()) + bias;
    q.max = int(std::clamp(allowed / 15.0, double(q.min), double(resource_request::inf)));
  } else if (m_send.empty() && (m_requests.empty() || m_choked) && m_disk_reads.empty() && m_download_queue.empty() &&
             m_request_queue.empty() && rate_limited()) {
    // Idle: leave the rate to busier connections. Our own requests count as
    // work, and without any limit there is nothing to leave, so protocol
    // messages never wait a second for quota.
    q.max = q.min;
  } else {
    q.max = resource_request::inf;
  }
  q.given = std::min(q.given, q.max);
  q.used = std::min(q.used, q.given);
  update_writability();
}

bool peer_connection::rate_limited() const {
  return limit_from_setting(m_ses.upload_rate_limit()) != resource_request::inf ||
         (m_torrent && m_torrent->upload_limit() != resource_request::inf);
}

bool peer_connection::has_timed_out() const {
  if (is_connecting()) return false;
  const auto t = now();
  if (t - m_last_receive > m_timeout) return true;
  return !m_interesting && !m_peer_interested && t - m_became_uninteresting > seconds(600) &&
         t - m_became_uninterested > seconds(600);
}

void peer_connection::keep_alive() {
  if (now() - m_last_sent < m_timeout / 2) return;
  if (!m_announce_queue.empty()) {
    for (int piece : m_announce_queue) send_have(piece);
    m_announce_queue.clear();
  } else {
    wire::write_keep_alive(m_send);
  }
  m_last_sent = now();
  update_writability();
}

std::optional<peer_connection::block_progress> peer_connection::download_progress() const {
  const auto part = m_receiver.packet_start();
  if (part.size() < 9 || std::uint8_t(part[0]) != wire::msg_piece || !has_metadata()) return std::nullopt;
  const int block_size = std::max(m_torrent->block_size(), 1);
  const int pieces = num_pieces();
  const peer_request r{wire::read_int32(part.data() + 1), wire::read_int32(part.data() + 5),
                       m_receiver.packet_size() - 9};
  // The header is the peer's word until the whole packet is in: a block that
  // cannot be ends the connection then, and is no progress now.
  if (r.piece < 0 || r.piece >= pieces ||
      !is_valid_block(r, pieces, m_torrent->metainfo().piece_size(r.piece), r.piece == pieces - 1, block_size))
    return std::nullopt;
  return block_progress{r.piece, r.start / block_size, int(m_receiver.packet_received()) - 9, r.length};
}

}  // namespace engine
