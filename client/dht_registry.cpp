#include "client/dht_registry.h"

#include "dht/dht_service.h"

namespace client {

bool DhtServiceRegistry::AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own) {
  return m_service.AddInfoHash(info_hash, is_private, own);
}

void DhtServiceRegistry::AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash) {
  m_service.AddBootstrapNodes(nodes, info_hash);
}

}  // namespace client
