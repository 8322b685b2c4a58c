#include "client/net/upnp_worker.h"

#include <chrono>
#include <utility>

namespace client {

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

namespace {

// Adds `wanted` and gives up the earlier mapping kept in `kept`. False
// (with the failure line logged) ends the round.
bool Replace(UpnpMapper& mapper, std::optional<PortMapping>& kept, const PortMapping& wanted, const wchar_t* failure,
             MappingReport& report, const std::function<void(unsigned)>& pause) {
  if (!mapper.AddMapping(wanted).ok) {
    kept.reset();
    report.log_lines.emplace_back(failure);
    return false;
  }
  const std::optional<PortMapping> earlier = std::exchange(kept, wanted);
  if (!earlier) return true;
  // The router holds one entry per port and protocol: an earlier mapping
  // of the same port is the entry just renewed and must stay enabled.
  if (!earlier->SameEntry(wanted) && !mapper.DisableMapping(*earlier).ok) {
    report.log_lines.emplace_back(failure);
    return false;
  }
  pause(kMappingPauseMs);
  return true;
}

PortMapping Mapping(std::uint16_t port, const char* protocol, const std::string& client) {
  return {port, protocol, port, client, kMappingDescription};
}

}  // namespace

MappingReport RunMappingRound(UpnpMapper& mapper, MappingState& state, const MappingRequest& request,
                              const std::function<void(unsigned)>& pause) {
  MappingReport report;
  report.round = request.round;
  report.external_address = request.local_address;
  [&] {
    if (!mapper.Open(request.local_address).ok) {
      report.log_lines.emplace_back(L"UPnP Interface failed to initialize.");
      return;
    }
    if (!Replace(mapper, state.tcp, Mapping(request.listen_port, "TCP", request.local_address),
                 L"BT port forwarding failed.", report, pause))
      return;
    std::string external;
    if (!mapper.ExternalAddress(external).ok) {
      report.log_lines.emplace_back(L"BT port forwarding failed.");
      return;
    }
    report.external_address = external;
    if (request.dht_port != 0)
      Replace(mapper, state.udp, Mapping(request.dht_port, "UDP", request.local_address),
              L"DHT port forwarding failed.", report, pause);
  }();
  report.tcp_mapped = state.tcp.has_value();
  report.udp_mapped = state.udp.has_value();
  return report;
}

UpnpWorker::UpnpWorker(std::unique_ptr<UpnpMapper> mapper, Sink sink, Pause pause)
    : m_mapper(std::move(mapper)), m_sink(std::move(sink)), m_pause(std::move(pause)), m_thread([this] { Run(); }) {}

UpnpWorker::~UpnpWorker() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

void UpnpWorker::Post(std::function<void()> job) {
  {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
  }
  m_wake.notify_one();
}

void UpnpWorker::Run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
      if (m_jobs.empty()) return;
      job = std::move(m_jobs.front());
      m_jobs.pop_front();
    }
    job();
  }
}

void UpnpWorker::MapPorts(MappingRequest request) {
  Post([this, request = std::move(request)] { m_sink(RunMappingRound(*m_mapper, m_state, request, m_pause)); });
}

void UpnpWorker::QueryExternalAddress() {
  Post([this] {
    ExternalAddressAnswer answer;
    if (!m_state.tcp) {
      answer.error = "no port mapping";
    } else {
      const UpnpResult r = m_mapper->ExternalAddress(answer.address);
      answer.ok = r.ok;
      answer.error = r.error;
    }
    m_sink(std::move(answer));
  });
}

void UpnpWorker::DisableMappings() {
  Post([this] {
    for (auto* kept : {&m_state.tcp, &m_state.udp}) {
      if (*kept) m_mapper->DisableMapping(**kept);
      kept->reset();
    }
  });
}

}  // namespace client
