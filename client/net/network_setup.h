#pragma once
// The network half of applying the settings: the local address, the listen
// port, the router's port mappings and the DHT node's port. Runs on the GUI
// thread; the router is only ever talked to by the UPnP worker, whose
// answers come back through OnMappingReport.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "client/net/local_addresses.h"
#include "client/net/upnp_worker.h"

class CDHTService;
namespace engine {
class session;
}

namespace client {

struct NetworkSettings {
  bool upnp_port_forwarding = false;  // "UPnPPortForwarding"
  int ip_address_index = 0;           // "IpAddressIndex"
  unsigned min_port = 1500;           // "MinPort"
  unsigned max_port = 1504;           // "MaxPort"
  unsigned dht_port = 1500;           // "DHTPort", 0: no DHT
};

class NetworkSetup {
 public:
  // What the main window offers.
  class Host {
   public:
    virtual ~Host() = default;
    virtual void AddLogLine(const std::wstring& line) = 0;
    // Makes `text` the status text and the caption.
    virtual void ShowStatus(const std::wstring& text) = 0;
    // The DHT node was started on its port (at once or after a mapping
    // round): the engine can hand it its peers' contacts now.
    virtual void DhtStarted() {}
  };

  struct Options {
    InterfaceReader read_interfaces = ReadInterfaceAddresses;
    // Made when port forwarding is first wanted; the default talks to the
    // router through miniupnpc.
    std::function<std::unique_ptr<UpnpMapper>()> make_mapper;
    UpnpWorker::Pause pause = SleepMs;
  };

  // `sink` receives the worker's answers on the worker thread.
  NetworkSetup(Host& host, UpnpWorker::Sink sink);
  NetworkSetup(Host& host, UpnpWorker::Sink sink, Options options);
  ~NetworkSetup();
  NetworkSetup(const NetworkSetup&) = delete;
  NetworkSetup& operator=(const NetworkSetup&) = delete;

  // Settles the local address, makes the session listen inside the port
  // range, and either queues the port mapping (the DHT node follows in
  // OnMappingReport) or, without port forwarding, restarts the DHT node
  // when its port changed. False when the round stopped early (no local
  // address, no free port): nothing further is to be applied then. Nothing
  // happens without a session.
  bool Apply(const NetworkSettings& settings, engine::session* session, CDHTService* dht);

  // A mapping round's report, on the GUI thread: its log lines; for the
  // latest round also the mappings, the external address and the DHT node.
  void OnMappingReport(const MappingReport& report, CDHTService* dht);

  // Asks the router for the public address (answered with an
  // ExternalAddressAnswer); nothing without a worker.
  void QueryExternalAddress();
  // Shut-down: the mappings are disabled by the worker, which finishes
  // before this object is gone. Reports still on their way change nothing.
  void DisableMappings();

  const std::string& LocalAddress() const { return m_local_address; }
  const std::string& ExternalAddress() const { return m_external_address; }
  bool HasTcpMapping() const { return m_tcp_mapped; }
  bool HasUdpMapping() const { return m_udp_mapped; }

 private:
  void StartDht(CDHTService* dht, const std::string& local_address, unsigned dht_port, std::uint16_t listen_port);

  Host& m_host;
  UpnpWorker::Sink m_sink;
  Options m_options;
  std::string m_local_address = "0.0.0.0";
  std::string m_external_address;
  bool m_tcp_mapped = false;
  bool m_udp_mapped = false;
  std::uint32_t m_round = 0;  // the latest mapping round queued
  MappingRequest m_pending;   // its request, until its report came
  bool m_waiting = false;
  std::unique_ptr<UpnpWorker> m_worker;  // last: its thread may still call m_sink
};

}  // namespace client
