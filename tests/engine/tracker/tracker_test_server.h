#pragma once
// Scripted trackers on 127.0.0.1 for the tracker tests: an HTTP one that
// answers each request with the reply its script gives, and a UDP one that
// answers each datagram likewise. Each records what it received and stops
// with the object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tracker_test {

class scripted_server {
 public:
  // script(request, index) gives the reply; an empty reply means "say
  // nothing" (the HTTP server then keeps the connection open until it stops).
  using script = std::function<std::string(const std::string& request, int index)>;

  scripted_server(bool udp, script s) : m_udp(udp), m_script(std::move(s)) {
    m_fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    if (!udp) ::listen(m_fd, 16);
    m_thread = std::thread([this] { udp_or_tcp(); });
  }
  ~scripted_server() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_silent) ::close(fd);
    ::close(m_fd);
  }

  std::uint16_t port() const { return m_port; }
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_requests;
  }
  // The source address (dotted) of each request.
  std::vector<std::string> sources() const {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_sources;
  }

 private:
  bool wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }

  void udp_or_tcp() {
    while (!m_stop) {
      if (!wait_readable(m_fd, 20)) continue;
      if (m_udp)
        serve_datagram();
      else
        serve_connection();
    }
  }

  int record(const std::string& request, const sockaddr_in& from) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    std::lock_guard<std::mutex> l(m_mutex);
    m_sources.push_back(text);
    m_requests.push_back(request);
    return int(m_requests.size()) - 1;
  }

  void serve_datagram() {
    char buf[4096];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const auto n = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    const std::string request(buf, std::size_t(n));
    const std::string reply = m_script(request, record(request, from));
    if (!reply.empty()) ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }

  void serve_connection() {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const int c = ::accept(m_fd, reinterpret_cast<sockaddr*>(&from), &len);
    if (c < 0) return;
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && !m_stop) {
      if (!wait_readable(c, 20)) continue;
      char buf[4096];
      const auto n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, std::size_t(n));
    }
    const std::string reply = m_script(request, record(request, from));
    if (reply.empty()) {
      m_silent.push_back(c);
      return;
    }
    for (std::size_t sent = 0; sent < reply.size();) {
      const auto n = ::send(c, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += std::size_t(n);
    }
    ::close(c);
  }

  bool m_udp;
  script m_script;
  int m_fd = -1;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requests;
  std::vector<std::string> m_sources;
  std::vector<int> m_silent;
  std::thread m_thread;
};

}  // namespace tracker_test
