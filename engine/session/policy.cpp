#include "engine/session/policy.h"

#include <algorithm>
#include <limits>

#include "engine/session/piece_picker.h"
#include "engine/session/resource_request.h"
#include "engine/wire/protocol_error.h"

namespace engine {

namespace {

using std::chrono::seconds;

constexpr int max_busy_blocks = 10;

float speed_figure(const policy::connection& c) {
  const int q = c.download_queue_size();
  return q == 0 ? std::numeric_limits<float>::max() : c.download_payload_rate() / float(q);
}

}  // namespace

policy::policy(torrent_interface& t) : m_torrent(t) {}

int policy::wanted_queue_length(float rate, int block_size) {
  const double n = double(rate) * 3.0 / std::max(block_size, 1);
  return int(std::clamp(n, double(min_request_queue), double(max_request_queue)));
}

policy::peer* policy::find(std::uint32_t ip) {
  const auto it = m_index.find(ip);
  return it == m_index.end() ? nullptr : &m_peers[it->second];
}

const policy::peer* policy::find_peer(std::uint32_t ip) const {
  const auto it = m_index.find(ip);
  return it == m_index.end() ? nullptr : &m_peers[it->second];
}

bool policy::address_backlog::contains(const address& a) const {
  if (m_ring.empty()) return false;
  const std::uint64_t k = key(a);
  for (std::size_t i = home(k); m_table[i] != 0; i = (i + 1) & (table_size - 1))
    if (key(m_ring[m_table[i] - 1u]) == k) return true;
  return false;
}

void policy::address_backlog::push(const address& a) {
  if (contains(a)) return;
  if (m_ring.empty()) {
    m_ring.resize(capacity);
    m_table.assign(table_size, 0);
  }
  constexpr std::size_t mask = table_size - 1;
  const std::uint64_t k = key(a);
  if (m_size == capacity) {
    unlink(m_oldest);
    m_oldest = (m_oldest + 1) % capacity;
    --m_size;
  }
  const std::size_t position = (m_oldest + m_size) % capacity;
  m_ring[position] = entry{{std::uint16_t(a.ip >> 16), std::uint16_t(a.ip), a.port}};
  ++m_size;
  std::size_t i = home(k);
  while (m_table[i] != 0) i = (i + 1) & mask;
  m_table[i] = std::uint16_t(position + 1);
}

address policy::address_backlog::pop_newest() {
  const std::size_t position = (m_oldest + m_size - 1) % capacity;
  const entry e = m_ring[position];
  unlink(position);
  if (--m_size == 0) {
    // A flood that has passed leaves nothing behind.
    std::vector<entry>().swap(m_ring);
    std::vector<std::uint16_t>().swap(m_table);
    m_oldest = 0;
  }
  return address(std::uint32_t(e.part[0]) << 16 | e.part[1], e.part[2]);
}

void policy::address_backlog::unlink(std::size_t position) {
  constexpr std::size_t mask = table_size - 1;
  std::size_t i = home(key(m_ring[position]));
  while (m_table[i] != position + 1) i = (i + 1) & mask;
  // Linear probing without tombstones: the entries after the freed slot
  // move back into it where their search would pass it.
  for (;;) {
    m_table[i] = 0;
    std::size_t j = i;
    for (;;) {
      j = (j + 1) & mask;
      if (m_table[j] == 0) return;
      const std::size_t h = home(key(m_ring[m_table[j] - 1u]));
      if (((j - h) & mask) >= ((j - i) & mask)) break;
    }
    m_table[i] = m_table[j];
    i = j;
  }
}

namespace {

// Dialled and failed since it last worked.
bool failing(const policy::peer& p) { return p.failures > 0; }
// Waits for its first dial.
bool untried(const policy::peer& p) { return p.type == 1 && p.ip.port != 0 && p.connected == policy::never; }

}  // namespace

policy::peer* policy::add_peer(const peer& p) {
  if (untried(p)) m_none_untried = false;
  if (m_peers.size() < max_peers) {
    m_index.emplace(p.ip.ip, m_peers.size());
    m_peers.push_back(p);
    return &m_peers.back();
  }
  peer* victim = displaceable();
  if (!victim) return nullptr;
  // Not forgotten: an address never tried waits for room again.
  if (untried(*victim)) m_backlog.push(victim->ip);
  replace(*victim, p);
  return victim;
}

void policy::replace(peer& slot, const peer& p) {
  m_index.erase(slot.ip.ip);
  slot = p;
  m_index.emplace(p.ip.ip, std::size_t(&slot - m_peers.data()));
}

template <class Pred>
policy::peer* policy::next_idle(Pred pred) {
  // Round the list from where the last search stopped, so that a flood of
  // addresses costs little and the records displaced are the oldest ones.
  for (std::size_t n = 0; n < m_peers.size(); ++n) {
    m_displace_at = (m_displace_at + 1) % m_peers.size();
    peer& p = m_peers[m_displace_at];
    if (!p.conn && !p.banned && pred(p)) return &p;
  }
  return nullptr;
}

policy::peer* policy::displaceable() {
  for (auto [none, pred] : {std::pair{&m_none_failed, &failing}, std::pair{&m_none_untried, &untried}}) {
    if (*none) continue;
    if (peer* p = next_idle(pred)) return p;
    *none = true;
  }
  return nullptr;
}

bool policy::take_waiting(peer* slot) {
  while (!m_backlog.empty()) {
    const address a = m_backlog.pop_newest();
    if (peer* p = find(a.ip)) {
      // It got a record meanwhile.
      learn_port(*p, a.port);
      p->learnt = ++m_learnt;
      if (p == slot) return true;
      continue;
    }
    peer fresh(a, 1);
    fresh.learnt = ++m_learnt;
    m_none_untried = false;
    if (slot)
      replace(*slot, fresh);
    else
      add_peer(fresh);  // the list has room
    return true;
  }
  return false;
}

void policy::rebuild_index() {
  m_index.clear();
  for (std::size_t i = 0; i < m_peers.size(); ++i) m_index.emplace(m_peers[i].ip.ip, i);
}

void policy::new_connection(connection& c) {
  const address remote = c.remote();
  if (m_torrent.num_connections() >= m_torrent.max_connections() && remote.ip != m_torrent.tracker_ip())
    throw protocol_error("too many connections, refusing incoming connection");

  peer* p = find(remote.ip);
  if (p) {
    if (p->conn) throw protocol_error("duplicate connection, closing");
    if (p->banned) throw protocol_error("ip address banned, closing");
  } else if (!(p = add_peer(peer(remote, 0)))) {
    // Make room by forgetting the idle record that was used longest ago.
    peer* victim = nullptr;
    for (auto& r : m_peers) {
      if (r.conn || r.banned) continue;
      if (!victim || r.connected < victim->connected) victim = &r;
    }
    if (!victim) throw protocol_error("too many connections, refusing incoming connection");
    replace(*victim, peer(remote, 0));
    p = victim;
  }
  c.add_stat(p->prev_amount_download, p->prev_amount_upload);
  p->prev_amount_download = p->prev_amount_upload = 0;
  p->conn = &c;
  p->connected = m_torrent.now();
  m_last_rotation = p->connected;
}

policy::peer* policy::learn(const address& a) {
  peer* p = find(a.ip);
  if (p) {
    learn_port(*p, a.port);
  } else if ((m_peers.size() >= max_peers && m_backlog.contains(a)) || !(p = add_peer(peer(a, 1)))) {
    m_backlog.push(a);  // nothing when it waits there already
    return nullptr;
  }
  p->learnt = ++m_learnt;
  return p;
}

void policy::learn_port(peer& p, std::uint16_t port) {
  if (p.banned || port == p.own_port) return;
  if (p.conn) {
    if (port != p.ip.port) p.other_port = port;
    return;
  }
  // Known already: a listing does not cut the wait after a failure short.
  if (port == (p.type == 1 ? p.ip.port : p.retry_port)) return;
  // The latest port is dialled; the one it replaces, if it still counts as
  // working, is the one to fall back on.
  p.other_port = p.type == 1 ? p.ip.port : 0;
  p.ip.port = port;
  p.type = 1;
  p.retry_port = 0;
  p.retry_at = never;
  p.failures = 0;
}

bool policy::take_other_port(peer& p) {
  if (p.other_port == 0 || p.banned) return false;
  const std::uint16_t port = p.other_port;
  p.other_port = 0;
  learn_port(p, port);
  return p.type == 1 && p.ip.port == port;
}

void policy::peer_from_tracker(const address& a, const peer_id&) {
  if (a.port == 0 || a.ip == 0) return;
  peer* p = learn(a);
  if (!p || p->conn || p->banned || p->type != 1 || p->ip.port == 0) return;
  if (m_torrent.num_connections() >= m_torrent.max_connections() || m_torrent.is_paused()) return;
  if (m_torrent.connect_room() > 0)
    connect_one(*p);
  else
    hold_connects();
}

void policy::hold_connects() {
  m_connects_held = true;
  if (m_room_asked) return;
  m_room_asked = true;
  m_torrent.wait_for_connect_room();
}

bool policy::connect_one(peer& p) {
  connection* c = nullptr;
  try {
    c = m_torrent.connect_to_peer(p.ip);
  } catch (const std::exception&) {
    c = nullptr;
  }
  p.connected = m_torrent.now();
  if (!c) return false;
  p.conn = c;
  c->add_stat(p.prev_amount_download, p.prev_amount_upload);
  p.prev_amount_download = p.prev_amount_upload = 0;
  return true;
}

void policy::connection_closed(connection& c) {
  peer* p = find(c);
  // A refused connection never took a record.
  if (!p || p->conn != &c) return;
  p->connected = m_torrent.now();
  if (m_torrent.ratio() != 0.0f) m_available_free_upload += c.share_diff();
  p->prev_amount_download += c.total_payload_download();
  p->prev_amount_upload += c.total_payload_upload();
  p->conn = nullptr;
  if (c.reached_ourselves()) {
    p->own_port = c.remote().port;
    p->type = 0;
    p->ip.port = 0;
    p->retry_port = 0;
    p->failures = 0;
  } else if (c.failed()) {
    // Not dialled again for a while. A peer that once refused or dropped
    // us (it may have held on to an earlier connection of ours, or timed
    // out on a busy machine) may well be the only one with the pieces we
    // lack, so it is not given up for good.
    if (p->type == 1 && p->ip.port != 0) {
      p->retry_port = p->ip.port;
      p->retry_at = p->connected + retry_delay * (1 << std::min(p->failures, 5));
      ++p->failures;
      m_none_failed = false;
    }
    p->type = 0;
    p->ip.port = 0;
  } else {
    p->failures = 0;
  }
  // Another port of the address is tried now; else a record that failed
  // makes way for an address that waits for room.
  if (take_other_port(*p) || (failing(*p) && !p->banned && take_waiting(p))) hold_connects();
  if (!c.is_choked() && !m_torrent.is_aborted()) {
    --m_num_unchoked;
    peer* next = m_torrent.is_seed() ? optimistic_candidate() : unchoke_candidate();
    if (next) unchoke(*next);
  }
}

void policy::ban_peer(std::uint32_t ip) {
  peer* p = find(ip);
  if (!p) return;
  p->banned = true;
  p->type = 0;
  p->ip.port = 0;
  p->retry_port = 0;
  p->other_port = 0;
}

void policy::choke(peer& p) {
  p.conn->send_choke();
  --m_num_unchoked;
}

void policy::unchoke(peer& p) {
  p.conn->send_unchoke();
  ++m_num_unchoked;
  p.last_unchoked = m_torrent.now();
}

void policy::interested(connection& c) {
  if (!c.is_choked() || m_num_unchoked >= m_torrent.max_uploads()) return;
  if (m_torrent.ratio() != 0.0f && c.share_diff() < -owe_limit && !m_torrent.is_seed()) return;
  if (peer* p = find(c); p && p->conn == &c) unchoke(*p);
}

void policy::not_interested(connection& c) {
  if (m_torrent.ratio() != 0.0f && c.is_seed()) {
    const std::int64_t diff = c.share_diff();
    if (diff > 0) {
      m_available_free_upload += diff;
      c.add_free_upload(-diff);
    }
  }
  if (!c.is_choked()) {
    c.send_choke();
    --m_num_unchoked;
  }
}

void policy::unchoked(connection& c) {
  if (c.is_interesting()) request_a_block(c);
}

void policy::peer_is_interesting(connection& c) {
  c.send_interested();
  if (!c.has_peer_choked()) request_a_block(c);
}

void policy::block_finished(connection& c, piece_block) {
  if (!c.has_peer_choked()) request_a_block(c);
}

bool policy::lacks_some_piece_of(const connection& c) {
  piece_picker* picker = m_torrent.picker();
  if (!picker) return false;
  const auto& bits = c.get_bitfield();
  const int n = std::min(int(bits.size()), picker->num_pieces());
  for (int i = 0; i < n; ++i)
    if (bits[i] && !picker->have_piece(i) && !picker->is_filtered(i)) return true;
  return false;
}

void policy::piece_finished(int piece, bool passed) {
  if (!passed) return;
  for (auto& p : m_peers) {
    connection* c = p.conn;
    if (!c || !c->is_interesting()) continue;
    const auto& bits = c->get_bitfield();
    if (piece >= int(bits.size()) || !bits[piece]) continue;
    if (!lacks_some_piece_of(*c)) c->send_not_interested();
  }
}

void policy::request_a_block(connection& c) {
  piece_picker* picker = m_torrent.picker();
  if (!picker) return;
  m_tried.clear();
  m_tried.push_back(&c);
  // Bounded by the number of connections: each steal adds one to `tried`.
  for (;;) {
    int wanted = wanted_queue_length(c.download_rate(), m_torrent.block_size()) - c.download_queue_size() -
                 c.request_queue_size();
    if (wanted < 1) return;
    const bool whole = double(c.download_payload_rate()) * 20.0 > double(m_torrent.piece_length());
    m_picked.clear();
    m_busy.clear();
    picker->pick_pieces(c.get_bitfield(), m_picked, wanted, whole, c.remote());
    for (const piece_block& b : m_picked) {
      if (picker->is_requested(b)) {
        if (int(m_busy.size()) < max_busy_blocks) m_busy.push_back(b);
        continue;
      }
      c.request_block(b);
      --wanted;
    }
    if (m_busy.empty() || wanted <= 0) return;

    // End game: take a busy block away from the slowest connection that is
    // slower than this one.
    const float mine = speed_figure(c);
    connection* slowest = nullptr;
    float slowest_speed = mine;
    piece_block steal;
    for (auto& p : m_peers) {
      connection* o = p.conn;
      if (!o || o->is_connecting()) continue;
      if (std::find(m_tried.begin(), m_tried.end(), o) != m_tried.end()) continue;
      const float s = speed_figure(*o);
      if (s >= slowest_speed) continue;
      for (const piece_block& b : m_busy) {
        if (o->in_download_queue(b)) {
          slowest = o;
          slowest_speed = s;
          steal = b;
          break;
        }
      }
    }
    if (!slowest) return;
    slowest->cancel_request(steal);
    c.request_block(steal);
    m_tried.push_back(slowest);
  }
}

policy::peer* policy::connect_candidate() {
  peer* best = nullptr;
  for (auto& p : m_peers) {
    if (p.type != 1 || p.banned || p.conn || p.ip.port == 0) continue;
    // Of those never dialled, the latest learnt: a reply full of dead
    // addresses must not keep out the live ones of the next.
    if (!best || p.connected < best->connected || (p.connected == best->connected && p.learnt > best->learnt))
      best = &p;
  }
  return best;
}

bool policy::connect_one_peer() {
  if (m_torrent.num_connections() >= m_torrent.max_connections() || m_torrent.connect_room() < 1) return false;
  peer* p = connect_candidate();
  return p && connect_one(*p);
}

void policy::connect_peers() {
  if (!m_connects_held || m_torrent.is_paused() || m_torrent.is_aborted()) return;
  m_connects_held = false;
  dial_candidates();
}

void policy::dial_candidates() {
  // Each try dials a candidate, or marks it dialled when that fails.
  for (std::size_t tries = m_peers.size(); tries > 0; --tries) {
    if (m_torrent.num_connections() >= m_torrent.max_connections()) return;
    if (m_torrent.connect_room() < 1) {
      hold_connects();
      return;
    }
    peer* p = connect_candidate();
    if (!p) return;
    connect_one(*p);
  }
}

policy::peer* policy::choke_candidate() {
  peer* best = nullptr;
  std::int64_t best_score = std::numeric_limits<std::int64_t>::max();
  for (auto& p : m_peers) {
    if (!live(p) || p.conn->is_choked()) continue;
    const connection& c = *p.conn;
    if (!c.is_peer_interested()) return &p;
    const std::int64_t score = (c.total_payload_download() - c.total_payload_upload()) +
                               1024 * (c.is_interesting() && c.has_peer_choked() ? -10 : 10) +
                               std::int64_t(10.0 * c.download_rate());
    if (score < best_score) {
      best_score = score;
      best = &p;
    }
  }
  return best;
}

policy::peer* policy::unchoke_candidate() {
  const bool ratio = m_torrent.ratio() != 0.0f;
  peer* best = nullptr;
  for (auto& p : m_peers) {
    if (!live(p) || !p.conn->is_choked() || !p.conn->is_peer_interested()) continue;
    if (ratio && p.conn->share_diff() < -owe_limit) continue;
    if (!best || p.conn->download_rate() > best->conn->download_rate()) best = &p;
  }
  return best;
}

policy::peer* policy::optimistic_candidate() {
  peer* best = nullptr;
  for (auto& p : m_peers) {
    if (!live(p) || !p.conn->is_choked() || !p.conn->is_peer_interested()) continue;
    if (!best || p.last_unchoked < best->last_unchoked) best = &p;
  }
  return best;
}

policy::peer* policy::seed_choke_candidate() {
  peer* oldest = nullptr;
  peer* lowest = nullptr;
  for (auto& p : m_peers) {
    if (!live(p) || p.conn->is_choked()) continue;
    const std::int64_t diff = p.conn->share_diff();
    if (diff <= 0 && (!oldest || p.last_unchoked < oldest->last_unchoked)) oldest = &p;
    if (!lowest || diff < lowest->conn->share_diff()) lowest = &p;
  }
  return oldest ? oldest : lowest;
}

void policy::share_free_upload() {
  std::int64_t sum = 0;
  int receivers = 0;
  for (auto& p : m_peers) {
    if (!live(p)) continue;
    connection& c = *p.conn;
    std::int64_t diff = c.share_diff();
    if (!c.is_peer_interested() && diff > 0) {
      m_available_free_upload += diff;
      c.add_free_upload(-diff);
      diff = 0;
    }
    sum += diff;
    if (c.is_peer_interested() && diff < 0) ++receivers;
  }
  if (receivers == 0) return;
  const std::int64_t amount = sum < 0 ? m_available_free_upload + sum : std::min(m_available_free_upload, sum);
  const std::int64_t share = amount / receivers;
  if (share < 0) return;
  for (auto& p : m_peers) {
    if (!live(p)) continue;
    if (p.conn->is_peer_interested() && p.conn->share_diff() < 0) {
      p.conn->add_free_upload(share);
      m_available_free_upload -= share;
    }
  }
}

void policy::rotate_connections(time_point now) {
  const int limit = m_torrent.max_connections();
  if (limit == resource_request::inf) return;
  std::vector<peer*> connected;
  for (auto& p : m_peers)
    if (p.conn) connected.push_back(&p);
  int effective = limit;
  if (int(connected.size()) < limit || m_last_rotation == never) {
    // Below the limit, or at it (a limit of 0) before any connection
    // came: the two minutes count from now.
    m_last_rotation = now;
  } else if (now - m_last_rotation >= seconds(120)) {
    m_last_rotation = now;
    effective = limit - 1;
  }
  if (int(connected.size()) > effective) {
    const auto average = [&](const peer* p) {
      const double secs = std::chrono::duration<double>(now - p->connected).count();
      return double(p->conn->total_payload_download()) / (std::max(secs, 0.0) + 1.0);
    };
    std::stable_sort(connected.begin(), connected.end(),
                     [&](const peer* a, const peer* b) { return average(a) < average(b); });
    connected.resize(connected.size() - std::size_t(std::max(effective, 0)));
    std::vector<connection*> victims;
    for (peer* p : connected) victims.push_back(p->conn);
    for (connection* c : victims) m_torrent.disconnect(*c, "too many connections");
  }
}

std::optional<policy::time_point> policy::next_work() const {
  // What pulse does for records without a connection.
  std::optional<time_point> at;
  const auto sooner = [&](time_point t) { at = at ? std::min(*at, t) : t; };
  for (const peer& p : m_peers) {
    if (p.conn || (p.type == 1 && !p.banned && p.ip.port != 0)) return time_point::min();
    if (p.connected != never) sooner(p.connected + seconds(1800));
    if (p.retry_port != 0 && !p.banned) sooner(p.retry_at);
  }
  return at;
}

void policy::pulse() {
  if (m_torrent.is_paused()) return;
  const time_point now = m_torrent.now();

  // Records without a connection are forgotten 30 minutes after it closed.
  const auto before = m_peers.size();
  std::erase_if(m_peers, [&](const peer& p) {
    return !p.conn && p.connected != never && now - p.connected > seconds(1800);
  });
  if (m_peers.size() != before) {
    rebuild_index();
    while (m_peers.size() < max_peers && take_waiting(nullptr)) {
    }
  }

  rotate_connections(now);

  // Peers whose connection failed are connectable again once their wait
  // is over.
  for (auto& p : m_peers) {
    if (p.retry_port == 0 || p.conn || p.banned || now < p.retry_at) continue;
    p.ip.port = p.retry_port;
    p.type = 1;
    p.retry_port = 0;
  }

  dial_candidates();

  const bool ratio = m_torrent.ratio() != 0.0f;
  if (ratio) share_free_upload();

  const int slots = m_torrent.max_uploads();
  if (m_torrent.is_seed()) {
    // A seed gives its slots round the interested peers in turn.
    rechoke(slots, true, m_num_unchoked > 0, &policy::seed_choke_candidate, &policy::optimistic_candidate);
    return;
  }
  if (ratio) {
    for (auto& p : m_peers)
      if (live(p) && !p.conn->is_choked() && p.conn->share_diff() < -owe_limit) choke(p);
  }
  // A downloader trades with the peers that give most; the choking moves
  // only while not every connection can have a slot.
  const bool crowded = slots < m_torrent.num_connections();
  rechoke(slots, crowded, crowded, &policy::choke_candidate, &policy::unchoke_candidate);
}

void policy::rechoke(int slots, bool trim, bool swap, pick out, pick in) {
  if (trim && m_num_unchoked > slots) {
    while (m_num_unchoked > slots) {
      peer* p = (this->*out)();
      if (!p) break;
      choke(*p);
    }
  } else if (swap) {
    peer* next = (this->*in)();
    peer* gone = next ? (this->*out)() : nullptr;
    if (next && gone) {
      choke(*gone);
      unchoke(*next);
    }
  }
  while (m_num_unchoked < slots) {
    peer* p = (this->*in)();
    if (!p) break;
    unchoke(*p);
  }
}

}  // namespace engine
