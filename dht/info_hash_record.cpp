#include "dht/info_hash_record.h"

#include "platform/clock.h"

namespace dht {

InfoHashRecord::InfoHashRecord(const engine::sha1_hash& hash, std::uint32_t capacity, bool is_private_, bool own_,
                               std::uint32_t now)
    : info_hash(hash), table(hash), is_private(is_private_), own(own_), created(now), refreshed(now) {
  peers.reserve(capacity);
}

void InfoHashRecord::store_peer(const engine::address& peer, std::uint32_t capacity, std::uint32_t now) {
  refreshed = now;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    if (peers[i].ip == peer.ip) {
      peers[i].port = peer.port;
      peer_seen[i] = now;
      return;
    }
  }
  if (peers.size() < capacity) {
    peers.push_back(peer);
    peer_seen.push_back(now);
    ring_cursor = 0;
    return;
  }
  if (ring_cursor >= peers.size()) ring_cursor = 0;
  peers[ring_cursor] = peer;
  peer_seen[ring_cursor] = now;
  if (++ring_cursor >= capacity) ring_cursor = 0;
}

std::vector<engine::address> InfoHashRecord::next_values() {
  const auto n = static_cast<std::uint32_t>(peers.size());
  std::uint32_t start = 0, length = n;
  if (n <= values_per_reply) {
    values_cursor = 0;
  } else {
    start = values_cursor;
    if (start + values_per_reply > n) start = n - values_per_reply;
    length = values_per_reply;
  }
  std::vector<engine::address> out(peers.begin() + start, peers.begin() + start + length);
  if (length < n) {
    values_cursor += length;
    if (values_cursor >= n) values_cursor = 0;
  }
  return out;
}

void InfoHashRecord::expire_peers(std::uint32_t now, std::uint32_t max_age) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    const std::uint32_t age = platform::elapsed_ms(now, peer_seen[i]);
    if (age < max_age || platform::is_future(now, peer_seen[i])) {
      peers[kept] = peers[i];
      peer_seen[kept] = peer_seen[i];
      ++kept;
    }
  }
  if (kept == peers.size()) return;
  peers.resize(kept);
  peer_seen.resize(kept);
  ring_cursor = 0;
  values_cursor = 0;
}

}  // namespace dht
