#pragma once
// The port mapping worker: one thread that owns the router connection and
// the mappings made so far, and runs the GUI's requests one after another.
// Looking for the router takes seconds and each router call may block, so
// the GUI thread only queues; every answer goes to a sink, called on the
// worker thread, which the main window turns into a queued event.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "client/net/upnp_mapper.h"

namespace client {

// The description every mapping carries.
inline constexpr const char* kMappingDescription = "Quillfern";
// The pause after an earlier mapping of the same protocol was given up.
inline constexpr unsigned kMappingPauseMs = 300;

struct MappingRequest {
  std::uint32_t round = 0;  // echoed in the report
  std::string local_address;
  std::uint16_t listen_port = 0;  // mapped as "TCP"
  std::uint16_t dht_port = 0;     // mapped as "UDP"; 0: none
};

// The mappings kept between rounds.
struct MappingState {
  std::optional<PortMapping> tcp;
  std::optional<PortMapping> udp;
};

struct MappingReport {
  std::uint32_t round = 0;
  std::vector<std::wstring> log_lines;  // in order
  bool tcp_mapped = false;              // a mapping is kept afterwards
  bool udp_mapped = false;
  // The router's public address; the local address when it was not read.
  std::string external_address;
};

struct ExternalAddressAnswer {
  bool ok = false;
  std::string address;
  std::string error;  // why it could not be read
};

using UpnpEvent = std::variant<MappingReport, ExternalAddressAnswer>;

// Pauses the calling thread (the worker's pause between mapping steps).
void SleepMs(unsigned ms);

// One mapping round: the router, then the TCP mapping and the public
// address, then (when the request has a DHT port) the UDP mapping. A new
// mapping is added first; an earlier one of the same protocol is then
// disabled (unless the router's entry is the same one, which the new
// mapping has just replaced) and given up, followed by the pause. The
// first failure ends the round with its log line.
MappingReport RunMappingRound(UpnpMapper& mapper, MappingState& state, const MappingRequest& request,
                              const std::function<void(unsigned)>& pause);

class UpnpWorker {
 public:
  using Sink = std::function<void(UpnpEvent)>;
  using Pause = std::function<void(unsigned ms)>;

  // The thread starts at once; `sink` must stay callable until the worker
  // is destroyed.
  UpnpWorker(std::unique_ptr<UpnpMapper> mapper, Sink sink, Pause pause = SleepMs);
  // Runs what is still queued (the last disables at shut-down), then ends.
  ~UpnpWorker();
  UpnpWorker(const UpnpWorker&) = delete;
  UpnpWorker& operator=(const UpnpWorker&) = delete;

  // Answers with a MappingReport.
  void MapPorts(MappingRequest request);
  // Answers with an ExternalAddressAnswer (an error without a TCP mapping).
  void QueryExternalAddress();
  // Disables the TCP and then the UDP mapping and gives both up; no answer.
  void DisableMappings();

 private:
  void Post(std::function<void()> job);
  void Run();

  std::unique_ptr<UpnpMapper> m_mapper;
  Sink m_sink;
  Pause m_pause;
  MappingState m_state;  // worker thread only
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_jobs;
  bool m_stopping = false;
  std::thread m_thread;  // last: starts after everything above exists
};

}  // namespace client
