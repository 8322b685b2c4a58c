#include "client/net/network_setup.h"

#include <cwchar>

#include "client/net/miniupnp_mapper.h"
#include "dht/dht_service.h"
#include "engine/session/session.h"

namespace client {

NetworkSetup::NetworkSetup(Host& host, UpnpWorker::Sink sink) : NetworkSetup(host, std::move(sink), Options{}) {}

NetworkSetup::NetworkSetup(Host& host, UpnpWorker::Sink sink, Options options)
    : m_host(host), m_sink(std::move(sink)), m_options(std::move(options)) {
  if (!m_options.make_mapper) m_options.make_mapper = [] { return std::make_unique<MiniupnpMapper>(); };
}

NetworkSetup::~NetworkSetup() = default;

bool NetworkSetup::Apply(const NetworkSettings& settings, engine::session* session, CDHTService* dht) {
  if (!session) return false;

  if (!settings.upnp_port_forwarding) {
    m_local_address = "0.0.0.0";
  } else {
    const auto interfaces = m_options.read_interfaces();
    if (!interfaces) {
      m_host.AddLogLine(L"Local ip address(es) not found.");
      return false;
    }
    const auto chosen = ChooseLocalAddress(LocalAddressList(*interfaces), settings.ip_address_index);
    if (!chosen) {
      m_host.AddLogLine(L"Local ip address not found.");
      return false;
    }
    m_local_address = *chosen;
  }
  m_external_address = m_local_address;

  // A session that is not listening (an earlier attempt found no free port)
  // tries again even when its last port lies inside the range.
  const unsigned port = session->listen_port();
  if (port < settings.min_port || port > settings.max_port || !session->is_listening()) {
    if (!session->listen_on({static_cast<int>(settings.min_port), static_cast<int>(settings.max_port)},
                            m_local_address.c_str())) {
      wchar_t text[96];
      std::swprintf(text, sizeof text / sizeof *text, L"Quillfern - no available port between %u to %u",
                    settings.min_port, settings.max_port);
      m_host.ShowStatus(text);
      return false;
    }
  }
  const std::uint16_t listen_port = session->listen_port();

  if (!settings.upnp_port_forwarding) {
    m_waiting = false;  // a round still on its way no longer decides the DHT port
    StartDht(dht, m_local_address, settings.dht_port, listen_port);
    return true;
  }
  if (!m_worker) m_worker = std::make_unique<UpnpWorker>(m_options.make_mapper(), m_sink, m_options.pause);
  m_pending = {++m_round, m_local_address, listen_port, static_cast<std::uint16_t>(settings.dht_port)};
  m_waiting = true;
  m_worker->MapPorts(m_pending);
  return true;
}

void NetworkSetup::OnMappingReport(const MappingReport& report, CDHTService* dht) {
  for (const auto& line : report.log_lines) m_host.AddLogLine(line);
  if (!m_waiting || report.round != m_round) return;
  m_waiting = false;
  m_tcp_mapped = report.tcp_mapped;
  m_udp_mapped = report.udp_mapped;
  m_external_address = report.external_address;
  // A failed mapping does not keep the DHT node from its port: it then
  // announces the local address.
  StartDht(dht, m_pending.local_address, m_pending.dht_port, m_pending.listen_port);
}

void NetworkSetup::StartDht(CDHTService* dht, const std::string& local_address, unsigned dht_port,
                            std::uint16_t listen_port) {
  if (!dht || dht_port == 0 || dht->GetPort() == dht_port) return;
  if (dht->Start(local_address, m_udp_mapped ? m_external_address : local_address,
                 static_cast<std::uint16_t>(dht_port), listen_port))
    m_host.DhtStarted();
}

void NetworkSetup::QueryExternalAddress() {
  if (m_worker) m_worker->QueryExternalAddress();
}

void NetworkSetup::DisableMappings() {
  m_waiting = false;
  m_tcp_mapped = m_udp_mapped = false;
  if (m_worker) m_worker->DisableMappings();
}

}  // namespace client
