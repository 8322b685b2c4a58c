#pragma once
// What adding a torrent asks of the DHT node: register the torrent's
// info-hash (private when the .torrent carries no "nodes" list) and hand it
// the .torrent's bootstrap nodes. DhtServiceRegistry passes the calls to
// the program's CDHTService; tests record them.

#include "engine/entry.h"
#include "engine/sha1_hash.h"

class CDHTService;

namespace client {

class DhtRegistry {
 public:
  virtual ~DhtRegistry() = default;
  virtual bool AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own) = 0;
  virtual void AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash) = 0;
};

class DhtServiceRegistry : public DhtRegistry {
 public:
  explicit DhtServiceRegistry(CDHTService& service) : m_service(service) {}
  bool AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own) override;
  void AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash) override;

 private:
  CDHTService& m_service;
};

}  // namespace client
