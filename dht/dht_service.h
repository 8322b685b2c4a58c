#pragma once
// The program's DHT node: a UDP socket, a receive thread and a maintenance
// thread (one tick every 340 ms) around dht::NodeCore, all of whose state
// sits under one mutex. One instance per process, reachable through
// g_pDHTService while it is running. Failures are reported by return
// values, never by exceptions (DumpTables excepted).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "dht/node_core.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "platform/mutex.h"
#include "platform/profile.h"

class CDHTService {
 public:
  using Node = dht::Node;
  using Bucket = dht::Bucket;
  using RoutingTable = dht::RoutingTable;
  using InfoHashRecord = dht::InfoHashRecord;
  using Statistics = dht::Statistics;

  static constexpr std::uint32_t tick_interval_ms = 340;
  static constexpr std::size_t max_datagram = 2048;
  // Datagrams taken in one go before the receive thread waits again.
  static constexpr int max_datagrams_per_round = 256;

  struct Options {
    // Where "DHT ID" (section "Configuration") is kept; default: the
    // application profile.
    std::optional<platform::profile> profile;
    // Where DumpTables writes; default: "dht_logs" beside the profile file.
    std::filesystem::path dump_folder;
    // The 32-bit millisecond clock; default: platform::timeGetTime.
    std::function<std::uint32_t()> clock;
  };

  // `peer_capacity`: peers kept per info-hash (at least 32).
  explicit CDHTService(std::uint32_t peer_capacity);
  CDHTService(std::uint32_t peer_capacity, Options options);
  virtual ~CDHTService();
  CDHTService(const CDHTService&) = delete;
  CDHTService& operator=(const CDHTService&) = delete;

  // Binds the UDP socket to bind_address:udp_port (an empty or unreadable
  // bind address: all interfaces) and starts the threads on the first call.
  // `own_host` (dotted quad or host name, looked up before the lock is
  // taken; empty: 0.0.0.0) is the address others know us by; a host that
  // cannot be looked up keeps the previous one. `listen_port` is the
  // BitTorrent port announced for our torrents. A second call closes the
  // socket and binds a new one. False when the socket could not be bound
  // (the node then stays silent).
  bool Start(std::string_view bind_address, std::string_view own_host, std::uint16_t udp_port,
             std::uint16_t listen_port);
  // The address others know us by (the port mapping's external address);
  // the port stays. False when the host cannot be looked up.
  bool SetExternalAddress(std::string_view host);
  Statistics GetStatistics();
  // Registers a torrent of this program (own = true; private when the
  // torrent has no "nodes" list: it is then never announced and its peers
  // never handed out). False when no record could be made.
  bool AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own = true);
  // The torrent is no longer active: its contacts go, its peers stay.
  void ReleaseInfoHash(const engine::sha1_hash& info_hash);
  // A torrent's "nodes" list ([host, port] pairs); hosts are looked up
  // before the lock is taken, pairs of another shape or unknown hosts are
  // skipped.
  void AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash);
  // One contact (a peer's address with its DHT port) for a torrent. Called
  // by the engine's network thread while it holds the session lock; takes
  // only the DHT's own lock and never calls out.
  void AddNode(const engine::address& a, const engine::sha1_hash& info_hash);
  std::vector<engine::address> GetPeers(const engine::sha1_hash& info_hash);
  // Writes "nodes.txt" and "info_hashs.txt" into the dump folder; throws
  // std::filesystem::filesystem_error when a file cannot be written.
  void DumpTables();

  // The UDP port of the last Start (0 before the first).
  std::uint16_t GetPort();
  engine::sha1_hash GetNodeId();
  const std::filesystem::path& DumpFolder() const { return m_dump_folder; }
  // Runs `f` on the node's state under the lock (tests, diagnostics).
  void Inspect(const std::function<void(const dht::NodeCore&)>& f);

 private:
  bool send(const engine::address& to, std::string_view datagram) REQUIRES(m_mutex);
  void receive_loop() EXCLUDES(m_mutex);
  void maintenance_loop() EXCLUDES(m_mutex);
  void drain_socket() EXCLUDES(m_mutex);
  void close_socket() REQUIRES(m_mutex);

  std::function<std::uint32_t()> m_clock;
  std::filesystem::path m_dump_folder;
  // Taken after the engine's session lock where both are held, never before.
  platform::mutex m_mutex;
  // Made by the constructor; all the node's state is in it.
  std::unique_ptr<dht::NodeCore> m_core PT_GUARDED_BY(m_mutex);
  int m_socket GUARDED_BY(m_mutex) = -1;
  bool m_bound GUARDED_BY(m_mutex) = false;
  std::uint16_t m_port GUARDED_BY(m_mutex) = 0;
  int m_stop_event = -1;    // set once, at destruction
  int m_rebind_event = -1;  // the socket changed
  std::thread m_receive_thread;
  std::thread m_maintenance_thread;
};

// The process's DHT node while one is running; null before it is ready and
// from the start of its destruction on.
extern std::atomic<CDHTService*> g_pDHTService;
