// The torrent's side of the peer wire extensions: the metadata it serves
// and the peers it asks for through peer exchange.

#include "engine/session/peer_connection.h"
#include "engine/session/torrent.h"

namespace engine {

std::string_view torrent::metadata_bytes() {
  if (m_served_metadata.empty()) m_served_metadata = m_info.info_dictionary_bytes();
  return m_served_metadata;
}

void torrent::request_peers_from_swarm(int count) {
  for (auto& [a, c] : m_connections) c->set_peer_exchange_wanted(count);
}

}  // namespace engine
