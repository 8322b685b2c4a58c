#pragma once
// The DHT node without any I/O: fed received datagrams and the time (the
// 32-bit millisecond clock), it answers queries, matches replies to the
// contacts it awaits, keeps the routing tables and the per-info-hash
// records, and on each maintenance tick sends its own queries. Sending and
// randomness come from its user. Not thread-safe: its user serialises calls.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dht/info_hash_record.h"
#include "dht/routing_table.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"

namespace dht {

// The figures that GetStatistics copies out: twelve 32-bit words.
struct Statistics {
  float upload_rate = 0;        // bytes/s
  float download_rate = 0;      // bytes/s
  float upload_limit = 0;       // queries are answered only below both limits
  float download_limit = 0;
  std::uint64_t total_sent = 0;
  std::uint64_t total_received = 0;
  std::uint32_t records = 0;
  std::uint32_t record_limit = 0;
  std::uint32_t query_flag = 0;  // a query arrived since the last rate update
  std::uint32_t reserved = 0;
};
static_assert(sizeof(Statistics) == 48);

class NodeCore {
 public:
  struct Io {
    // Sends one datagram; true when all of it went out. Must not call back
    // into the core.
    std::function<bool(const engine::address& to, std::string_view datagram)> send;
    // Fills bytes from a random source (node jitter and token secrets).
    std::function<void(void* out, std::size_t size)> random;
  };

  static constexpr std::uint32_t record_limit = 5000;
  static constexpr float answer_limit = 2000.0f;
  // Contact rules, in ms.
  static constexpr std::uint32_t reply_timeout = 90000;       // awaiting longer than this: 't'
  static constexpr std::uint32_t ping_after = 300000;         // silence before a ping
  static constexpr std::uint32_t find_node_every = 600000;
  static constexpr std::uint32_t get_peers_every = 900000;
  static constexpr std::uint32_t get_peers_when_full = 1800000;
  static constexpr std::uint32_t announce_every = 3600000;
  static constexpr std::uint32_t secret_lifetime = 300000;    // tokens stay valid for one to two of these
  static constexpr std::uint32_t foreign_lifetime = 7200000;  // unannounced foreign peers and records go
  static constexpr std::uint32_t expiry_every = 60000;
  static constexpr std::size_t max_examined = 16;             // candidates a find_node/get_peers sweep looks at

  NodeCore(const engine::sha1_hash& node_id, std::uint32_t peer_capacity, std::uint32_t now, Io io);

  const engine::sha1_hash& node_id() const { return m_id; }
  std::uint32_t peer_capacity() const { return m_capacity; }
  const engine::address& own_endpoint() const { return m_own; }
  void set_own_endpoint(const engine::address& a) { m_own = a; }
  std::uint16_t listen_port() const { return m_listen_port; }
  void set_listen_port(std::uint16_t port) { m_listen_port = port; }

  // One datagram from `from`. Never throws; malformed input is dropped.
  void receive(std::string_view datagram, const engine::address& from, std::uint32_t now);
  // The maintenance work, run every 340 ms.
  void tick(std::uint32_t now);

  // A record for the info-hash. own = true marks it as a torrent of this
  // program (made when missing; the private flag of an existing one stays);
  // own = false returns an existing one or makes a foreign one while fewer
  // than record_limit exist. Null when none can be made.
  InfoHashRecord* add_info_hash(const engine::sha1_hash& info_hash, bool is_private, bool own, std::uint32_t now);
  // Clears the own flag and empties the record's table; its peers stay.
  void release_info_hash(const engine::sha1_hash& info_hash, std::uint32_t now);
  // A contact known only by address, for the info-hash's own record table
  // or, without such a record, the main table.
  void add_node(const engine::address& a, const engine::sha1_hash& info_hash, std::uint32_t now);
  std::vector<engine::address> peers(const engine::sha1_hash& info_hash) const;
  Statistics statistics() const;

  InfoHashRecord* find_record(const engine::sha1_hash& info_hash);
  const InfoHashRecord* find_record(const engine::sha1_hash& info_hash) const;
  const std::vector<std::unique_ptr<InfoHashRecord>>& records() const { return m_records; }
  RoutingTable& main_table() { return m_table; }
  const RoutingTable& main_table() const { return m_table; }

  // The write token that a querier at `ip` must echo (current secret).
  std::string write_token(std::uint32_t ip) const { return token_for(ip, m_secret); }
  bool token_valid(std::string_view token, std::uint32_t ip) const;

  // For tests: the rates that gate answering.
  void set_rates(float upload, float download) {
    m_stats.upload_rate = upload;
    m_stats.download_rate = download;
  }

 private:
  struct Found {
    InfoHashRecord* record = nullptr;  // null: main table
    RoutingTable* table = nullptr;
    Node* node = nullptr;
  };

  std::uint32_t jitter();
  std::string token_for(std::uint32_t ip, const engine::sha1_hash& secret) const;
  void send(const engine::address& to, const std::string& datagram);
  // Marks `n` as asked (kind, awaiting, last_contact) and returns the new
  // transaction byte.
  static std::uint8_t start_query(Node& n, char kind, std::uint32_t now);

  void dispatch(const engine::entry& msg, const engine::address& from, std::uint32_t now);
  void handle_reply(const engine::entry& msg, const engine::address& from, std::uint32_t now);
  void handle_query(const engine::entry& msg, const engine::address& from, std::uint32_t now);
  // The query handlers: null, or the error text to answer with. Their
  // exceptions are caught by handle_query.
  const char* on_ping(const engine::entry& args, const engine::entry* t, const engine::address& from, std::uint32_t now);
  const char* on_find_node(const engine::entry& args, const engine::entry* t, const engine::address& from,
                           std::uint32_t now);
  const char* on_get_peers(const engine::entry& args, const engine::entry* t, const engine::address& from,
                           std::uint32_t now);
  const char* on_announce_peer(const engine::entry& args, const engine::entry* t, const engine::address& from,
                               std::uint32_t now);

  Found find_awaiting(std::uint8_t transaction, std::uint32_t ip);
  Found find_by_id(const engine::sha1_hash& id);
  void add_nodes(RoutingTable& table, std::string_view compact, std::uint32_t now);
  void store_values(InfoHashRecord& record, const engine::entry& values, std::uint32_t now);
  bool usable(const engine::sha1_hash& id, const engine::address& a) const;

  void ping_choice(RoutingTable& table, std::uint32_t now);
  void find_node_sweep(RoutingTable& table, std::uint32_t now);
  void get_peers_sweep(RoutingTable& table, InfoHashRecord* record, std::uint32_t now);
  void announce_sweep(InfoHashRecord& record, std::uint32_t now);
  void timeout_sweep(RoutingTable& table, std::uint32_t now);
  void update_rates(std::uint32_t now);
  void expire_records(std::uint32_t now);
  void rebuild_index();

  Io m_io;
  engine::sha1_hash m_id;
  engine::sha1_hash m_secret;
  engine::sha1_hash m_previous_secret;
  std::uint32_t m_secret_made;
  std::uint32_t m_capacity;
  engine::address m_own;
  std::uint16_t m_listen_port = 0;
  RoutingTable m_table;
  std::vector<std::unique_ptr<InfoHashRecord>> m_records;
  std::unordered_map<engine::sha1_hash, InfoHashRecord*> m_index;
  std::uint32_t m_get_peers_cursor = 0;
  std::uint32_t m_last_expiry;

  Statistics m_stats;
  std::uint32_t m_sent_since = 0;
  std::uint32_t m_received_since = 0;
  std::uint32_t m_rates_updated;
};

}  // namespace dht
