#pragma once
// What the engine needs of the process's DHT node, set on the session by
// the application when a node runs. The engine only hands contacts over;
// the node never calls back into the engine.

#include <cstdint>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "engine/wire/wire_format.h"

namespace engine {

class dht_link {
 public:
  virtual ~dht_link() = default;
  // The node's UDP port, announced to peers that support the DHT.
  virtual std::uint16_t dht_port() = 0;
  // A peer's DHT contact (its IP address with the port from its dht_port
  // message) for the torrent with `info_hash`.
  virtual void add_node(const address& contact, const sha1_hash& info_hash) = 0;
};

// The port of our dht_port message: the node's, or 1504 without a node.
inline std::uint16_t announced_dht_port(dht_link* node) { return node ? node->dht_port() : wire::default_dht_port; }

// The port of a peer's dht_port message on a connection of the torrent
// `info_hash`: its contact (the peer's IP address with that port) goes to
// the node, when there is one. Port 0 names no contact.
inline void dht_port_received(dht_link* node, const address& remote, std::uint16_t port, const sha1_hash& info_hash) {
  if (node && port != 0) node->add_node(address(remote.ip, port), info_hash);
}

}  // namespace engine
