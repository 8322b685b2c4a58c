#pragma once
// What the main window and the torrents ask of the program's DHT node.
// DhtServiceControl passes every call to a running CDHTService; tests
// script the answers. Where the program has no DHT node it passes none.

#include "dht/dht_service.h"
#include "dht/node_core.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"

#include <string_view>
#include <vector>

namespace client {

class DhtControl {
 public:
  virtual ~DhtControl() = default;
  // The address others know us by; false when it cannot be looked up.
  virtual bool SetExternalAddress(std::string_view host) = 0;
  virtual dht::Statistics GetStatistics() = 0;
  // The peers the node keeps for the torrent.
  virtual std::vector<engine::address> GetPeers(const engine::sha1_hash& info_hash) = 0;
  // Registers a torrent of this program (`own`); a private one (its
  // .torrent has no "nodes" list) is never announced and its peers never
  // handed out.
  virtual bool AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own) = 0;
  // A torrent's "nodes" list of [host, port] pairs.
  virtual void AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash) = 0;
  // The torrent left the program (removed, or seeding ended): the node
  // stops announcing it.
  virtual void ReleaseInfoHash(const engine::sha1_hash&) {}
};

class DhtServiceControl : public DhtControl {
 public:
  explicit DhtServiceControl(CDHTService& service) : m_service(service) {}

  bool SetExternalAddress(std::string_view host) override { return m_service.SetExternalAddress(host); }
  dht::Statistics GetStatistics() override { return m_service.GetStatistics(); }
  std::vector<engine::address> GetPeers(const engine::sha1_hash& info_hash) override {
    return m_service.GetPeers(info_hash);
  }
  bool AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own) override {
    return m_service.AddInfoHash(info_hash, is_private, own);
  }
  void AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash) override {
    m_service.AddBootstrapNodes(nodes, info_hash);
  }
  void ReleaseInfoHash(const engine::sha1_hash& info_hash) override { m_service.ReleaseInfoHash(info_hash); }

 private:
  CDHTService& m_service;
};

}  // namespace client
