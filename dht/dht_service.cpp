#include "dht/dht_service.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dht/table_dump.h"
#include "engine/net/network_error.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "platform/unexpected_error.h"

std::atomic<CDHTService*> g_pDHTService{nullptr};

namespace {

constexpr const char* profile_section = "Configuration";
constexpr const char* profile_id_value = "DHT ID";

// The stored node id, or a new random one that is stored.
engine::sha1_hash node_id(platform::profile& profile) {
  if (const auto stored = profile.GetProfileBinary(profile_section, profile_id_value);
      stored && stored->size() == engine::sha1_hash::size)
    return engine::sha1_hash(stored->data());
  engine::sha1_hash id;
  platform::random_bytes(id.data(), id.size);
  profile.WriteProfileBinary(profile_section, profile_id_value, id.to_string());
  return id;
}

// The address of a host text, looked up (blocking) when it is no dotted
// quad; none when the look-up fails.
std::optional<engine::address> resolve(std::string_view host, std::uint16_t port) {
  try {
    return engine::address(host, port);
  } catch (const engine::network_error&) {
    return std::nullopt;
  }
}

void signal(int event) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(event, &one, sizeof one);
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out || !out.flush())
    throw std::filesystem::filesystem_error("cannot write the table dump", path,
                                            std::make_error_code(std::errc::io_error));
}

}  // namespace

CDHTService::CDHTService(std::uint32_t peer_capacity) : CDHTService(peer_capacity, Options{}) {}

CDHTService::CDHTService(std::uint32_t peer_capacity, Options options)
    : m_clock(options.clock ? std::move(options.clock) : std::function<std::uint32_t()>(platform::timeGetTime)) {
  platform::profile profile = options.profile ? *options.profile : platform::profile::application();
  m_dump_folder = options.dump_folder.empty() ? profile.file().parent_path() / "dht_logs" : options.dump_folder;
  std::error_code ec;
  std::filesystem::create_directories(m_dump_folder, ec);

  dht::NodeCore::Io io;
  // The core sends from within its own calls, all under the lock.
  io.send = [this](const engine::address& to, std::string_view d) REQUIRES(m_mutex) { return send(to, d); };
  io.random = platform::random_bytes;
  m_core = std::make_unique<dht::NodeCore>(node_id(profile), peer_capacity, m_clock(), std::move(io));

  m_stop_event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  m_rebind_event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  g_pDHTService.store(this);
}

CDHTService::~CDHTService() {
  CDHTService* self = this;
  g_pDHTService.compare_exchange_strong(self, nullptr);
  if (m_stop_event >= 0) signal(m_stop_event);
  if (m_maintenance_thread.joinable()) m_maintenance_thread.join();
  if (m_receive_thread.joinable()) m_receive_thread.join();
  platform::mutex_lock lock(m_mutex);
  close_socket();
  if (m_stop_event >= 0) ::close(m_stop_event);
  if (m_rebind_event >= 0) ::close(m_rebind_event);
}

void CDHTService::close_socket() {
  if (m_socket < 0) return;
  ::shutdown(m_socket, SHUT_RDWR);
  ::close(m_socket);
  m_socket = -1;
  m_bound = false;
}

bool CDHTService::Start(std::string_view bind_address, std::string_view own_host, std::uint16_t udp_port,
                        std::uint16_t listen_port) {
  const auto own = resolve(own_host, udp_port);
  const auto local = engine::address::parse_dotted(bind_address, udp_port).value_or(engine::address(0, udp_port));
  bool bound = false;
  {
    platform::mutex_lock lock(m_mutex);
    m_core->set_own_endpoint(own ? *own : engine::address(m_core->own_endpoint().ip, udp_port));
    m_core->set_listen_port(listen_port);
    m_port = udp_port;
    close_socket();
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket >= 0) {
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_addr.s_addr = htonl(local.ip);
      sa.sin_port = htons(udp_port);
      m_bound = ::bind(m_socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    }
    bound = m_bound;
    if (!m_receive_thread.joinable()) m_receive_thread = std::thread([this] { receive_loop(); });
    if (!m_maintenance_thread.joinable()) m_maintenance_thread = std::thread([this] { maintenance_loop(); });
  }
  signal(m_rebind_event);
  return bound;
}

bool CDHTService::SetExternalAddress(std::string_view host) {
  const auto a = resolve(host, 0);
  if (!a) return false;
  platform::mutex_lock lock(m_mutex);
  m_core->set_own_endpoint(engine::address(a->ip, m_core->own_endpoint().port));
  return true;
}

CDHTService::Statistics CDHTService::GetStatistics() {
  platform::mutex_lock lock(m_mutex);
  return m_core->statistics();
}

bool CDHTService::AddInfoHash(const engine::sha1_hash& info_hash, bool is_private, bool own) {
  platform::mutex_lock lock(m_mutex);
  return m_core->add_info_hash(info_hash, is_private, own, m_clock()) != nullptr;
}

void CDHTService::ReleaseInfoHash(const engine::sha1_hash& info_hash) {
  platform::mutex_lock lock(m_mutex);
  m_core->release_info_hash(info_hash, m_clock());
}

void CDHTService::AddBootstrapNodes(const engine::entry& nodes, const engine::sha1_hash& info_hash) {
  if (nodes.type() != engine::entry::list_t) return;
  std::vector<engine::address> found;
  for (const engine::entry& pair : nodes.list()) {
    if (pair.type() != engine::entry::list_t || pair.list().size() != 2) continue;
    const engine::entry& host = pair.list().front();
    const engine::entry& port = pair.list().back();
    if (host.type() != engine::entry::string_t || port.type() != engine::entry::int_t) continue;
    if (const auto a = resolve(host.string(), static_cast<std::uint16_t>(port.integer() & 0xFFFF)))
      found.push_back(*a);
  }
  platform::mutex_lock lock(m_mutex);
  for (const auto& a : found) m_core->add_node(a, info_hash, m_clock());
}

void CDHTService::AddNode(const engine::address& a, const engine::sha1_hash& info_hash) {
  platform::mutex_lock lock(m_mutex);
  m_core->add_node(a, info_hash, m_clock());
}

std::vector<engine::address> CDHTService::GetPeers(const engine::sha1_hash& info_hash) {
  platform::mutex_lock lock(m_mutex);
  return m_core->peers(info_hash);
}

void CDHTService::DumpTables() {
  std::string nodes, info_hashes;
  {
    platform::mutex_lock lock(m_mutex);
    const std::uint32_t now = m_clock();
    nodes = dht::dump_nodes(m_core->main_table(), now);
    info_hashes = dht::dump_info_hashes(m_core->records(), now);
  }
  write_file(m_dump_folder / "nodes.txt", nodes);
  write_file(m_dump_folder / "info_hashs.txt", info_hashes);
}

std::uint16_t CDHTService::GetPort() {
  platform::mutex_lock lock(m_mutex);
  return m_port;
}

engine::sha1_hash CDHTService::GetNodeId() {
  platform::mutex_lock lock(m_mutex);
  return m_core->node_id();
}

void CDHTService::Inspect(const std::function<void(const dht::NodeCore&)>& f) {
  platform::mutex_lock lock(m_mutex);
  f(*m_core);
}

// Runs under the lock, from within the core. An unbound socket stays
// silent rather than send from a port of the system's choice.
bool CDHTService::send(const engine::address& to, std::string_view datagram) {
  if (m_socket < 0 || !m_bound) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(to.ip);
  sa.sin_port = htons(to.port);
  const ssize_t n = ::sendto(m_socket, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == static_cast<ssize_t>(datagram.size());
}

void CDHTService::receive_loop() {
  for (;;) {
    int socket;
    {
      platform::mutex_lock lock(m_mutex);
      socket = m_bound ? m_socket : -1;
    }
    pollfd fds[3] = {{m_stop_event, POLLIN, 0}, {m_rebind_event, POLLIN, 0}, {socket, POLLIN, 0}};
    const int r = ::poll(fds, socket >= 0 ? 3 : 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (fds[1].revents) {
      std::uint64_t count;
      [[maybe_unused]] const auto n = ::read(m_rebind_event, &count, sizeof count);
    }
    if (socket >= 0 && (fds[2].revents & (POLLIN | POLLERR))) drain_socket();
  }
}

// Hands the waiting datagrams to the core, one at a time under the lock. A
// round takes a bounded number, so that a socket that never runs dry (a
// flood) still lets the receive loop see the stop event.
void CDHTService::drain_socket() {
  char buffer[max_datagram];
  for (int round = 0; round < max_datagrams_per_round; ++round) {
    platform::mutex_lock lock(m_mutex);
    if (m_socket < 0) return;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const ssize_t n =
        ::recvfrom(m_socket, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0) {
      // A refused earlier send is reported here; anything else ends the round.
      if (errno == ECONNREFUSED || errno == EINTR) continue;
      return;
    }
    if (n == 0 || static_cast<std::size_t>(n) > sizeof buffer) continue;  // truncated: dropped
    try {
      const engine::address from(ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port));
      m_core->receive(std::string_view(buffer, static_cast<std::size_t>(n)), from, m_clock());
    } catch (...) {
      // The core drops what it cannot read itself; this is a fault of the
      // node's own. The datagram is lost, the thread goes on.
      platform::report_unexpected_error("the DHT's receive thread");
    }
  }
}

void CDHTService::maintenance_loop() {
  for (;;) {
    pollfd stop{m_stop_event, POLLIN, 0};
    const int r = ::poll(&stop, 1, tick_interval_ms);
    if (r > 0) return;
    if (r < 0 && errno != EINTR) return;
    if (r < 0) continue;
    platform::mutex_lock lock(m_mutex);
    try {
      m_core->tick(m_clock());
    } catch (...) {
      // The next tick tries again.
      platform::report_unexpected_error("the DHT's maintenance tick");
    }
  }
}
