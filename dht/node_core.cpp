#include "dht/node_core.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "dht/krpc.h"
#include "engine/formats/sha1.h"
#include "platform/clock.h"

namespace dht {

using engine::entry;
using engine::sha1_hash;

namespace {

// Time since `then`; a difference that puts `then` in the future counts as 0.
std::uint32_t silence(std::uint32_t now, std::uint32_t then) {
  return platform::is_future(now, then) ? 0 : platform::elapsed_ms(now, then);
}

// Silence since a time that is 0 when the event never happened.
std::uint32_t silence_since(std::uint32_t now, std::uint32_t then) {
  return then == 0 ? std::numeric_limits<std::uint32_t>::max() : silence(now, then);
}

}  // namespace

NodeCore::NodeCore(const sha1_hash& node_id, std::uint32_t peer_capacity, std::uint32_t now, Io io)
    : m_io(std::move(io)),
      m_id(node_id),
      m_secret_made(now),
      m_capacity(std::max<std::uint32_t>(peer_capacity, values_per_reply)),
      m_table(node_id),
      m_last_expiry(now),
      m_rates_updated(now) {
  m_io.random(m_secret.data(), sha1_hash::size);
  m_previous_secret = m_secret;
  m_stats.upload_limit = answer_limit;
  m_stats.download_limit = answer_limit;
  m_stats.record_limit = record_limit;
  m_records.reserve(100);
}

std::uint32_t NodeCore::jitter() {
  std::uint16_t v;
  m_io.random(&v, sizeof v);
  return v & 0x7FFF;
}

std::string NodeCore::token_for(std::uint32_t ip, const sha1_hash& secret) const {
  const char ip_bytes[4] = {char(ip >> 24), char(ip >> 16), char(ip >> 8), char(ip)};
  engine::hasher h;
  h.update(reinterpret_cast<const char*>(secret.data()), sha1_hash::size);
  h.update(ip_bytes, 4);
  return h.final().to_string();
}

bool NodeCore::token_valid(std::string_view token, std::uint32_t ip) const {
  return token == token_for(ip, m_secret) || token == token_for(ip, m_previous_secret);
}

void NodeCore::send(const engine::address& to, const std::string& datagram) {
  if (m_io.send(to, datagram)) m_sent_since += static_cast<std::uint32_t>(datagram.size());
}

std::uint8_t NodeCore::start_query(Node& n, char kind, std::uint32_t now) {
  n.last_contact = now;
  n.awaiting = true;
  n.pending = kind;
  return ++n.transaction;
}

bool NodeCore::usable(const sha1_hash& id, const engine::address& a) const {
  return !id.is_all_zeros() && id != m_id && a != m_own && a.ip != 0 && a.port != 0;
}

// ---------------------------------------------------------------- records

InfoHashRecord* NodeCore::find_record(const sha1_hash& info_hash) {
  const auto it = m_index.find(info_hash);
  return it == m_index.end() ? nullptr : it->second;
}

const InfoHashRecord* NodeCore::find_record(const sha1_hash& info_hash) const {
  const auto it = m_index.find(info_hash);
  return it == m_index.end() ? nullptr : it->second;
}

InfoHashRecord* NodeCore::add_info_hash(const sha1_hash& info_hash, bool is_private, bool own, std::uint32_t now) {
  if (InfoHashRecord* r = find_record(info_hash)) {
    if (own) {
      r->own = true;
      // A private torrent stays private even when others announced it first:
      // its peers are never handed out and it is never announced.
      if (is_private) r->is_private = true;
    }
    return r;
  }
  if (!own && m_records.size() >= record_limit) return nullptr;
  auto record = std::make_unique<InfoHashRecord>(info_hash, m_capacity, own && is_private, own, now);
  InfoHashRecord* r = record.get();
  m_records.push_back(std::move(record));
  m_index.emplace(info_hash, r);
  return r;
}

void NodeCore::release_info_hash(const sha1_hash& info_hash, std::uint32_t now) {
  if (InfoHashRecord* r = find_record(info_hash)) {
    r->own = false;
    r->table.clear();
    r->refreshed = now;
  }
}

std::vector<engine::address> NodeCore::peers(const sha1_hash& info_hash) const {
  const InfoHashRecord* r = find_record(info_hash);
  return r ? r->peers : std::vector<engine::address>{};
}

void NodeCore::add_node(const engine::address& a, const sha1_hash& info_hash, std::uint32_t now) {
  if (a.ip == 0 || a.port == 0 || a == m_own) return;
  InfoHashRecord* r = find_record(info_hash);
  RoutingTable& table = r && r->own ? r->table : m_table;
  if (table.contains_ip(a.ip)) return;
  table.place(idless_bucket, new_contact(a, sha1_hash(), now, jitter()));
}

Statistics NodeCore::statistics() const {
  Statistics s = m_stats;
  s.records = static_cast<std::uint32_t>(m_records.size());
  return s;
}

void NodeCore::rebuild_index() {
  m_index.clear();
  for (auto& r : m_records) m_index.emplace(r->info_hash, r.get());
}

void NodeCore::expire_records(std::uint32_t now) {
  if (silence(now, m_last_expiry) < expiry_every) return;
  m_last_expiry = now;
  const auto before = m_records.size();
  std::erase_if(m_records, [&](const std::unique_ptr<InfoHashRecord>& r) {
    if (r->own) return false;
    r->expire_peers(now, foreign_lifetime);
    return r->peers.empty() && silence(now, r->refreshed) >= foreign_lifetime;
  });
  if (m_records.size() != before) {
    rebuild_index();
    if (m_get_peers_cursor >= m_records.size()) m_get_peers_cursor = 0;
  }
}

// ---------------------------------------------------------------- receiving

void NodeCore::receive(std::string_view datagram, const engine::address& from, std::uint32_t now) {
  m_received_since += static_cast<std::uint32_t>(datagram.size());
  try {
    const entry msg = engine::bdecode(datagram);
    dispatch(msg, from, now);
  } catch (const engine::invalid_encoding&) {
    // Undecodable: dropped.
  } catch (const engine::type_error&) {
    // A key missing or of the wrong kind: dropped.
  }
}

void NodeCore::dispatch(const entry& msg, const engine::address& from, std::uint32_t now) {
  const std::string& y = msg["y"].string();
  if (y == "r") handle_reply(msg, from, now);
  else if (y == "q") handle_query(msg, from, now);
}

void NodeCore::handle_query(const entry& msg, const engine::address& from, std::uint32_t now) {
  m_stats.query_flag = 1;
  if (m_stats.upload_rate > answer_limit || m_stats.download_rate > answer_limit) return;
  const entry& args = msg["a"];
  args.dict();  // must be a dictionary
  const std::string& q = msg["q"].string();
  const entry* t = msg.find_key("t");
  using Handler = const char* (NodeCore::*)(const entry&, const entry*, const engine::address&, std::uint32_t);
  struct Query {
    std::string_view name;
    Handler handler;
    const char* internal_error;
  };
  static constexpr Query queries[] = {
      {"ping", &NodeCore::on_ping, krpc::ping_internal},
      {"find_node", &NodeCore::on_find_node, krpc::find_node_internal},
      {"get_peers", &NodeCore::on_get_peers, krpc::get_peers_internal},
      {"announce_peer", &NodeCore::on_announce_peer, krpc::announce_internal},
  };
  const auto query = std::find_if(std::begin(queries), std::end(queries), [&](const Query& k) { return k.name == q; });
  if (query == std::end(queries)) return;
  // A handler that throws (a key of the wrong kind, no memory) still
  // answers, with its query's own error text.
  const char* error = nullptr;
  try {
    error = (this->*query->handler)(args, t, from, now);
  } catch (const std::exception&) {
    error = query->internal_error;
  }
  if (error) send(from, krpc::error(t, error));
}

NodeCore::Found NodeCore::find_by_id(const sha1_hash& id) {
  if (Node* n = m_table.find_by_id(id)) return {nullptr, &m_table, n};
  for (auto& r : m_records)
    if (Node* n = r->table.find_by_id(id)) return {r.get(), &r->table, n};
  return {};
}

const char* NodeCore::on_ping(const entry& args, const entry* t, const engine::address& from, std::uint32_t now) {
  const auto id = krpc::hash_field(args, "id");
  if (!id) return krpc::ping_missing_id;
  const Found f = find_by_id(*id);
  if (f.node) {
    // A contact keeps its address unless another contact of its table
    // already sits there.
    if (f.node->address.ip == from.ip || !f.table->contains_ip(from.ip)) f.node->address = from;
  } else if (usable(*id, from) && !m_table.contains_ip(from.ip)) {
    m_table.place(m_table.bucket_for(*id), new_contact(from, *id, now, jitter()));
  }
  send(from, krpc::reply(t, {{"id", m_id.to_string()}}));
  return nullptr;
}

const char* NodeCore::on_find_node(const entry& args, const entry* t, const engine::address& from, std::uint32_t) {
  const auto target = krpc::hash_field(args, "target");
  if (!target) return krpc::find_node_missing_target;
  send(from, krpc::reply(t, {{"id", m_id.to_string()}, {"nodes", krpc::compact_nodes(m_table.closest(*target))}}));
  return nullptr;
}

const char* NodeCore::on_get_peers(const entry& args, const entry* t, const engine::address& from, std::uint32_t) {
  const auto info_hash = krpc::hash_field(args, "info_hash");
  if (!info_hash) return krpc::get_peers_missing_info_hash;
  entry::dictionary_type r{{"id", m_id.to_string()}, {"token", write_token(from.ip)}};
  InfoHashRecord* record = find_record(*info_hash);
  if (record && !record->is_private && !record->peers.empty()) {
    entry::list_type values;
    for (const auto& peer : record->next_values()) values.emplace_back(krpc::compact_peer(peer));
    r.emplace("values", std::move(values));
  } else {
    std::vector<const Node*> nodes;
    if (record) nodes = record->table.closest(*info_hash);
    if (nodes.empty()) nodes = m_table.closest(*info_hash);
    r.emplace("nodes", krpc::compact_nodes(nodes));
  }
  send(from, krpc::reply(t, std::move(r)));
  return nullptr;
}

const char* NodeCore::on_announce_peer(const entry& args, const entry* t, const engine::address& from,
                                       std::uint32_t now) {
  const std::string* token = krpc::string_field(args, "token");
  if (!token || !token_valid(*token, from.ip)) return krpc::invalid_write_token;
  const entry* port = args.find_key("port");
  if (!port || port->type() != entry::int_t) return krpc::announce_missing_port;
  if (!krpc::hash_field(args, "id")) return krpc::announce_missing_id;
  const auto info_hash = krpc::hash_field(args, "info_hash");
  if (!info_hash) return krpc::announce_missing_info_hash;
  InfoHashRecord* record = add_info_hash(*info_hash, false, false, now);
  if (!record) return krpc::announce_no_resources;
  const auto peer_port = static_cast<std::uint16_t>(port->integer() & 0xFFFF);
  if (from.ip != m_own.ip && peer_port != 0) record->store_peer({from.ip, peer_port}, m_capacity, now);
  send(from, krpc::reply(t, {{"id", m_id.to_string()}}));
  return nullptr;
}

// Only a contact that awaits a reply, at the sender's address, with the
// reply's transaction byte is matched; buckets 0-159 first, then the id-less
// contacts.
NodeCore::Found NodeCore::find_awaiting(std::uint8_t transaction, std::uint32_t ip) {
  const auto in = [&](RoutingTable& table, int first, int last) -> Node* {
    for (int b = first; b <= last; ++b)
      for (Node& n : table[b])
        if (n.awaiting && n.transaction == transaction && n.address.ip == ip) return &n;
    return nullptr;
  };
  if (Node* n = in(m_table, 0, idless_bucket - 1)) return {nullptr, &m_table, n};
  for (auto& r : m_records)
    if (r->own)
      if (Node* n = in(r->table, 0, idless_bucket - 1)) return {r.get(), &r->table, n};
  if (Node* n = in(m_table, idless_bucket, idless_bucket)) return {nullptr, &m_table, n};
  for (auto& r : m_records)
    if (r->own)
      if (Node* n = in(r->table, idless_bucket, idless_bucket)) return {r.get(), &r->table, n};
  return {};
}

void NodeCore::handle_reply(const entry& msg, const engine::address& from, std::uint32_t now) {
  const entry& r = msg["r"];
  r.dict();
  const std::string* t = krpc::string_field(msg, "t");
  if (!t || t->size() != 1) return;
  Found f = find_awaiting(static_cast<std::uint8_t>((*t)[0]), from.ip);
  if (!f.node) return;

  if (f.node->id.is_all_zeros()) {
    // An id-less contact tells its id: it moves to its bucket, or goes.
    if (const auto id = krpc::hash_field(r, "id")) {
      Bucket& idless = (*f.table)[idless_bucket];
      Node moved = *f.node;
      idless.erase(idless.begin() + (f.node - idless.data()));
      moved.id = *id;
      if (!usable(*id, moved.address) || f.table->find_by_id(*id)) return;
      f.node = f.table->place(f.table->bucket_for(*id), moved);
      if (!f.node) return;
    }
  }

  Node& n = *f.node;
  n.confirmed = true;
  n.awaiting = false;
  n.last_contact += jitter();
  if (const std::string* token = krpc::string_field(r, "token"); token && !token->empty() &&
                                                                 token->size() <= krpc::max_token_size)
    n.token = *token;
  const std::string* nodes = krpc::string_field(r, "nodes");
  switch (n.pending) {
    case 'f':
      n.last_find_node = n.last_contact;
      if (nodes) add_nodes(*f.table, *nodes, now);
      break;
    case 'g': {
      n.last_get_peers = n.last_contact;
      InfoHashRecord* record = f.record ? f.record : find_record(n.query_hash);
      RoutingTable& into = record && record->own ? record->table : *f.table;
      if (nodes) add_nodes(into, *nodes, now);
      if (record)
        if (const entry* values = r.find_key("values"); values && values->type() == entry::list_t)
          store_values(*record, *values, now);
      break;
    }
    case 'a':
      n.last_announce = n.last_contact;
      break;
    default:
      break;
  }
}

void NodeCore::add_nodes(RoutingTable& table, std::string_view compact, std::uint32_t now) {
  for (const auto& c : krpc::decode_nodes(compact)) {
    if (!usable(c.id, c.address) || table.contains_ip(c.address.ip)) continue;
    table.place(table.bucket_for(c.id), new_contact(c.address, c.id, now, jitter()));
  }
}

void NodeCore::store_values(InfoHashRecord& record, const entry& values, std::uint32_t now) {
  for (const entry& v : values.list()) {
    if (v.type() != entry::string_t) continue;
    const auto peer = krpc::decode_peer(v.string());
    if (peer && peer->ip != m_own.ip && peer->ip != 0 && peer->port != 0) record.store_peer(*peer, m_capacity, now);
  }
}

// ---------------------------------------------------------------- the tick

void NodeCore::tick(std::uint32_t now) {
  ping_choice(m_table, now);
  find_node_sweep(m_table, now);
  get_peers_sweep(m_table, nullptr, now);
  for (auto& r : m_records) {
    if (!r->own) continue;
    ping_choice(r->table, now);
    find_node_sweep(r->table, now);
    get_peers_sweep(r->table, r.get(), now);
    if (!r->is_private) announce_sweep(*r, now);
  }
  timeout_sweep(m_table, now);
  for (auto& r : m_records)
    if (r->own) timeout_sweep(r->table, now);
  update_rates(now);
  if (silence(now, m_secret_made) >= secret_lifetime) {
    m_previous_secret = m_secret;
    m_io.random(m_secret.data(), sha1_hash::size);
    m_secret_made = now;
  }
  expire_records(now);
}

void NodeCore::ping_choice(RoutingTable& table, std::uint32_t now) {
  Node* chosen = nullptr;
  std::uint32_t longest = 0;
  for (int b = idless_bucket; b >= 0; --b) {
    for (Node& n : table[b]) {
      if (n.confirmed || n.awaiting || platform::is_future(now, n.last_contact)) continue;
      const std::uint32_t s = platform::elapsed_ms(now, n.last_contact);
      if (!chosen || s > longest) {
        chosen = &n;
        longest = s;
      }
    }
  }
  if (!chosen || longest < ping_after) return;
  const std::uint8_t t = start_query(*chosen, 'p', now);
  chosen->confirmed = false;
  send(chosen->address, krpc::ping_query(t, m_id));
}

namespace {

// The candidate (confirmed, not awaiting) of buckets 1-159 to ask next: the
// first never asked, else the one silent longest since `last` (silence 0 is
// passed over); at most 16 candidates are looked at.
Node* choose(RoutingTable& table, std::uint32_t Node::*last, std::uint32_t now, std::size_t max_examined) {
  Node* chosen = nullptr;
  std::uint32_t longest = 0;
  std::size_t examined = 0;
  for (int b = 1; b < idless_bucket; ++b) {
    for (Node& n : table[b]) {
      if (!n.confirmed || n.awaiting) continue;
      if (++examined > max_examined) return chosen;
      if (n.*last == 0) return &n;
      const std::uint32_t s = silence(now, n.*last);
      if (s > longest) {
        chosen = &n;
        longest = s;
      }
    }
  }
  return chosen;
}

}  // namespace

void NodeCore::find_node_sweep(RoutingTable& table, std::uint32_t now) {
  Node* chosen = choose(table, &Node::last_find_node, now, max_examined);
  if (!chosen) return;
  sha1_hash target = chosen->id;
  if (chosen->last_find_node != 0) {
    if (silence(now, chosen->last_find_node) < find_node_every) return;
    bool found = false;
    for (int b = 1; b < idless_bucket && !found; ++b)
      for (const Node& n : table[b])
        if (&n != chosen) {
          target = n.id;
          found = true;
          break;
        }
  }
  chosen->last_find_node = now;
  const std::uint8_t t = start_query(*chosen, 'f', now);
  send(chosen->address, krpc::find_node_query(t, m_id, target));
}

void NodeCore::get_peers_sweep(RoutingTable& table, InfoHashRecord* record, std::uint32_t now) {
  Node* chosen = choose(table, &Node::last_get_peers, now, max_examined);
  if (!chosen) return;
  const std::uint32_t s = silence_since(now, chosen->last_get_peers);
  if (record && s < get_peers_when_full && record->peers.size() >= m_capacity) return;
  if (s < get_peers_every) return;
  InfoHashRecord* target = record;
  if (!target) {
    if (m_records.empty()) return;
    if (m_get_peers_cursor >= m_records.size()) m_get_peers_cursor = 0;
    InfoHashRecord* r = m_records[m_get_peers_cursor++].get();
    if (!r->own || r->peers.size() >= m_capacity) return;
    target = r;
  }
  chosen->last_get_peers = now;
  chosen->query_hash = target->info_hash;
  const std::uint8_t t = start_query(*chosen, 'g', now);
  send(chosen->address, krpc::get_peers_query(t, m_id, target->info_hash));
}

void NodeCore::announce_sweep(InfoHashRecord& record, std::uint32_t now) {
  Node* chosen = nullptr;
  std::uint32_t longest = 0;
  int replaced = 0;
  for (int b = 0; b < idless_bucket && replaced < 10; ++b) {
    for (Node& n : record.table[b]) {
      if (!n.confirmed || n.awaiting || n.token.empty() || n.pending == 'a') continue;
      const std::uint32_t s = silence_since(now, n.last_announce);
      if (chosen && s <= longest) continue;
      if (chosen) ++replaced;
      chosen = &n;
      longest = s;
      if (n.last_announce == 0 || replaced >= 10) {
        replaced = 10;
        break;
      }
    }
  }
  if (!chosen || longest < announce_every) return;
  chosen->last_announce = now;
  const std::uint8_t t = start_query(*chosen, 'a', now);
  send(chosen->address, krpc::announce_peer_query(t, m_id, record.info_hash, m_listen_port, chosen->token));
}

void NodeCore::timeout_sweep(RoutingTable& table, std::uint32_t now) {
  for (int b = 0; b < bucket_count; ++b) {
    for (Node& n : table[b]) {
      if (!n.awaiting) continue;
      const std::uint32_t d = platform::elapsed_ms(now, n.last_contact);
      if (d > reply_timeout && d <= 0x80000000u) {
        n.confirmed = false;
        n.awaiting = false;
        n.last_announce = n.last_get_peers = n.last_find_node = 0;
        n.pending = 't';
      }
    }
  }
}

void NodeCore::update_rates(std::uint32_t now) {
  const std::uint32_t elapsed = platform::elapsed_ms(now, m_rates_updated);
  if (elapsed <= 1000) return;
  const double s = elapsed / 1000.0;
  m_stats.upload_rate = static_cast<float>(0.9 * m_stats.upload_rate + 0.1 * (m_sent_since / s));
  m_stats.download_rate = static_cast<float>(0.9 * m_stats.download_rate + 0.1 * (m_received_since / s));
  m_stats.total_sent += m_sent_since;
  m_stats.total_received += m_received_since;
  m_sent_since = m_received_since = 0;
  m_stats.query_flag = 0;
  m_rates_updated = now;
}

}  // namespace dht
