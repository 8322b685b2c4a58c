#pragma once
// One info-hash known to the DHT node: the peers announced for it and, for
// the program's own torrents, a routing table ordered around the info-hash.

#include <cstdint>
#include <vector>

#include "dht/routing_table.h"
#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"

namespace dht {

// At most this many peers go into one "values" reply.
inline constexpr std::uint32_t values_per_reply = 32;

struct InfoHashRecord {
  InfoHashRecord(const engine::sha1_hash& hash, std::uint32_t capacity, bool is_private_, bool own_,
                 std::uint32_t now);

  engine::sha1_hash info_hash;
  std::vector<engine::address> peers;     // never more than the peer capacity
  std::vector<std::uint32_t> peer_seen;   // when each peer was last announced or learned
  RoutingTable table;
  bool is_private = false;                // never hands out "values", never announces
  bool own = false;                       // a torrent of this program that is active
  std::uint32_t ring_cursor = 0;          // where the next peer overwrites when full
  std::uint32_t values_cursor = 0;        // start of the next "values" window
  std::uint32_t created = 0;              // ms
  std::uint32_t refreshed = 0;            // ms of creation, release or the last stored peer

  // Stores `peer` (its address and port): an address already held takes the
  // new port; else it is appended, or overwrites at the ring cursor when the
  // list holds `capacity` peers.
  void store_peer(const engine::address& peer, std::uint32_t capacity, std::uint32_t now);

  // The next window of at most 32 peers for a "values" reply.
  std::vector<engine::address> next_values();

  // Drops peers not seen for `max_age` ms or more.
  void expire_peers(std::uint32_t now, std::uint32_t max_age);
};

}  // namespace dht
