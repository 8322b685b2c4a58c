#pragma once
// Contacts of the DHT node and the Kademlia routing table that holds them.
//
// A table has 161 buckets: 0-159 by the length of the prefix a contact's id
// shares with the table's reference id (the own node id for the main table,
// the info-hash for a per-torrent table), bucket 160 for contacts known by
// address only. A bucket holds at most 8 contacts. One table holds at most
// one contact per IPv4 address; ports never take part in a comparison.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"

namespace dht {

inline constexpr int bucket_count = 161;
inline constexpr int idless_bucket = 160;
inline constexpr std::size_t bucket_size = 8;  // K

struct Node {
  engine::sha1_hash id;               // all zero while unknown
  engine::address address;
  std::uint32_t last_find_node = 0;   // ms; 0 = never
  std::uint32_t last_contact = 0;     // ms; may lie a little in the future
  std::uint32_t last_get_peers = 0;   // ms; 0 = never
  std::uint32_t last_announce = 0;    // ms; 0 = never
  // Kind of the last query sent, or state: '*' new, 'p' ping, 'f' find_node,
  // 'g' get_peers, 'a' announce_peer, 't' timed out.
  char pending = '*';
  std::uint8_t transaction = 1;       // "t" of the last query sent
  bool confirmed = false;             // a reply arrived since the last ping
  bool awaiting = false;              // a query is outstanding
  std::string token;                  // last token handed out by the contact, as given; empty = none
  engine::sha1_hash query_hash;       // info-hash of the last get_peers sent to it
};

using Bucket = std::vector<Node>;

// 159 minus the number of leading zero bits of id XOR reference; 0 when
// both are equal.
int bucket_index(const engine::sha1_hash& id, const engine::sha1_hash& reference);

// True when a is closer to target than b by XOR distance.
bool closer(const engine::sha1_hash& a, const engine::sha1_hash& b, const engine::sha1_hash& target);

class RoutingTable {
 public:
  // A bucket gets its room for 8 contacts with its first one, so that a
  // contact stays where it is while its bucket fills; a table of a
  // torrent that meets no contacts costs next to nothing.
  explicit RoutingTable(const engine::sha1_hash& reference) : m_reference(reference) {}

  const engine::sha1_hash& reference() const { return m_reference; }
  Bucket& operator[](int bucket) { return m_buckets[static_cast<std::size_t>(bucket)]; }
  const Bucket& operator[](int bucket) const { return m_buckets[static_cast<std::size_t>(bucket)]; }
  int bucket_for(const engine::sha1_hash& id) const { return bucket_index(id, m_reference); }

  // Puts `node` into `bucket`: at the end while the bucket holds fewer than
  // 8, else over its first timed-out ('t') contact, else not at all.
  // Returns where it went, or null.
  Node* place(int bucket, const Node& node);

  Node* find_by_id(const engine::sha1_hash& id);  // buckets 0-159
  const Node* find_by_id(const engine::sha1_hash& id) const;
  Node* find_by_ip(std::uint32_t ip, int first = 0, int last = idless_bucket);
  const Node* find_by_ip(std::uint32_t ip, int first = 0, int last = idless_bucket) const;
  bool contains_ip(std::uint32_t ip) const { return find_by_ip(ip) != nullptr; }

  // At most 8 contacts of buckets 0-159 nearest to `target` by XOR distance,
  // nearest first; never the target itself, a timed-out contact or an id-less
  // one.
  std::vector<const Node*> closest(const engine::sha1_hash& target) const;

  std::size_t size() const;
  void clear();

 private:
  engine::sha1_hash m_reference;
  std::array<Bucket, bucket_count> m_buckets;
};

// A fresh contact: pending '*', transaction 1, unconfirmed, all times 0 but
// last_contact = now + jitter (0..32767 ms).
Node new_contact(const engine::address& address, const engine::sha1_hash& id, std::uint32_t now,
                 std::uint32_t jitter);

}  // namespace dht
