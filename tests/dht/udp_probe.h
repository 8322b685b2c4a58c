#pragma once
// A plain UDP socket on a loopback address for talking to a DHT node in
// tests; every wait ends by itself.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "engine/net/address.h"

namespace dht_test {

class UdpProbe {
 public:
  explicit UdpProbe(const engine::address& local) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = to_sockaddr(local);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      socklen_t len = sizeof sa;
      ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len);
      m_local = engine::address(ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port));
    }
  }
  ~UdpProbe() { ::close(m_fd); }
  UdpProbe(const UdpProbe&) = delete;
  UdpProbe& operator=(const UdpProbe&) = delete;

  const engine::address& local() const { return m_local; }

  void send(const engine::address& to, const std::string& bytes) {
    sockaddr_in sa = to_sockaddr(to);
    ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  }
  // The next datagram within `timeout_ms`, or none.
  std::optional<std::string> receive(int timeout_ms, engine::address* from = nullptr) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    char buf[4096];
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const ssize_t n = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0) return std::nullopt;
    if (from) *from = engine::address(ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port));
    return std::string(buf, static_cast<std::size_t>(n));
  }

  static sockaddr_in to_sockaddr(const engine::address& a) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(a.ip);
    sa.sin_port = htons(a.port);
    return sa;
  }

 private:
  int m_fd = -1;
  engine::address m_local;
};

// A free UDP port on `ip` (bound once and released).
inline std::uint16_t free_udp_port(std::uint32_t ip) {
  UdpProbe p(engine::address(ip, 0));
  return p.local().port;
}

}  // namespace dht_test
