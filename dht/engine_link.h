#pragma once
// Hands the engine's DHT contacts to this process's node: the application
// sets one on the session (session::set_dht_node) once the node runs, and
// sets none before the node goes away.

#include <cstdint>

#include "dht/dht_service.h"
#include "engine/wire/dht_link.h"

namespace dht {

class EngineLink final : public engine::dht_link {
 public:
  explicit EngineLink(CDHTService& service) : m_service(service) {}

  std::uint16_t dht_port() override { return m_service.GetPort(); }
  void add_node(const engine::address& contact, const engine::sha1_hash& info_hash) override {
    m_service.AddNode(contact, info_hash);
  }

 private:
  CDHTService& m_service;
};

}  // namespace dht
