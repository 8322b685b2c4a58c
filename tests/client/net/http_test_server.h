#pragma once
// A small HTTP server on 127.0.0.1 (a port the kernel picks) for the URL
// download and update check tests. Each connection runs on a thread of its
// own: the request head is read and recorded, then the test's handler
// writes the reply through the connection, in as many pieces and with as
// many waits as it likes, and the connection is closed. Every wait ends
// when the server stops, so the server always ends with the object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/wait.h"

namespace client_test {

// Waits until `condition` holds; false when the deadline passes or `stop`
// is set first.
inline bool wait_until(const std::function<bool()>& condition,
                       std::chrono::milliseconds deadline = std::chrono::seconds(20),
                       const std::atomic<bool>* stop = nullptr) {
  bool met = false;
  test_support::wait_until(
      [&] {
        met = condition();
        return met || (stop && *stop);
      },
      deadline, std::chrono::milliseconds(5));
  return met;
}

// A TCP socket listening on 127.0.0.1 at a port the kernel picked.
inline int loopback_listener(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  port = ntohs(sa.sin_port);
  ::listen(fd, 16);
  return fd;
}

class http_test_server {
 public:
  class connection {
   public:
    connection(http_test_server& server, int fd) : m_server(server), m_fd(fd) {}

    // False once the client is gone or the server stops.
    bool send(std::string_view bytes) {
      while (!bytes.empty()) {
        if (!wait(POLLOUT, 50)) {
          if (m_server.m_stop) return false;
          continue;
        }
        const auto n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(std::size_t(n));
      }
      return true;
    }
    // A whole reply with the given status line, headers and body.
    bool reply(const std::string& status, const std::string& headers, const std::string& body) {
      return send("HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body);
    }
    // Waits until `condition` holds; false when the server stops first or
    // the deadline passes.
    bool wait_until(const std::function<bool()>& condition) {
      return client_test::wait_until(condition, std::chrono::seconds(20), &m_server.m_stop);
    }
    // Waits until the client closes the connection; false when the server
    // stops first.
    bool wait_closed() {
      while (!m_server.m_stop) {
        if (!wait(POLLIN, 50)) continue;
        char buf[4096];
        if (::recv(m_fd, buf, sizeof buf, 0) <= 0) return true;
      }
      return false;
    }

   private:
    bool wait(short events, int ms) {
      pollfd p{m_fd, events, 0};
      return ::poll(&p, 1, ms) > 0;
    }
    http_test_server& m_server;
    int m_fd;
  };

  // handler(path, connection) writes the reply for the request of `path`.
  using handler = std::function<void(const std::string& path, connection& c)>;

  explicit http_test_server(handler h) : m_handler(std::move(h)) {
    m_fd = loopback_listener(m_port);
    m_accept_thread = std::thread([this] { accept_loop(); });
  }
  ~http_test_server() {
    m_stop = true;
    m_accept_thread.join();
    for (auto& t : m_connection_threads) t.join();
    ::close(m_fd);
  }
  http_test_server(const http_test_server&) = delete;
  http_test_server& operator=(const http_test_server&) = delete;

  std::uint16_t port() const { return m_port; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

  // The request heads received so far.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }

 private:
  void accept_loop() {
    while (!m_stop) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int c = ::accept(m_fd, nullptr, nullptr);
      if (c < 0) continue;
      m_connection_threads.emplace_back([this, c] { serve(c); });
    }
  }

  void serve(int fd) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && !m_stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      const auto n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      head.append(buf, std::size_t(n));
    }
    if (head.find("\r\n\r\n") != std::string::npos) {
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(head);
      }
      // "GET /path HTTP/1.1"
      const auto start = head.find(' ') + 1;
      const std::string path = head.substr(start, head.find(' ', start) - start);
      connection c(*this, fd);
      m_handler(path, c);
    }
    ::close(fd);
  }

  handler m_handler;
  int m_fd = -1;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requests;
  std::thread m_accept_thread;
  std::list<std::thread> m_connection_threads;  // touched by the accept thread only, then by the destructor
};

// An https server on 127.0.0.1 (Python's http.server with the given
// certificate and key) that answers every GET with `body`. The test makes
// the listening socket, so the port is known before the server runs; the
// server ends with the object.
class https_test_server {
 public:
  https_test_server(const std::filesystem::path& cert, const std::filesystem::path& key, const std::string& body) {
    m_fd = loopback_listener(m_port);  // inherited by the server
    static const char* const script =
        "import http.server, socket, ssl, sys\n"
        "body = sys.argv[4].encode()\n"
        "class H(http.server.BaseHTTPRequestHandler):\n"
        "    def do_GET(self):\n"
        "        self.send_response(200)\n"
        "        self.send_header('Content-Length', str(len(body)))\n"
        "        self.end_headers()\n"
        "        self.wfile.write(body)\n"
        "    def log_message(self, *args):\n"
        "        pass\n"
        "server = http.server.HTTPServer(('127.0.0.1', 0), H, bind_and_activate=False)\n"
        "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
        "context.load_cert_chain(sys.argv[2], sys.argv[3])\n"
        "server.socket = context.wrap_socket(socket.socket(fileno=int(sys.argv[1])), server_side=True)\n"
        "server.serve_forever()\n";
    const std::string fd = std::to_string(m_fd);
    const std::string cert_text = cert.string(), key_text = key.string();
    const char* argv[] = {"/usr/bin/python3", "-c", script, fd.c_str(), cert_text.c_str(), key_text.c_str(),
                          body.c_str(), nullptr};
    m_pid = ::fork();
    if (m_pid == 0) {
      ::execv(argv[0], const_cast<char* const*>(argv));
      ::_exit(127);
    }
  }
  ~https_test_server() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      ::waitpid(m_pid, nullptr, 0);
    }
    ::close(m_fd);
  }
  https_test_server(const https_test_server&) = delete;
  https_test_server& operator=(const https_test_server&) = delete;

  bool ok() const { return m_pid > 0 && m_port != 0; }
  std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(m_port) + path; }

 private:
  int m_fd = -1;
  std::uint16_t m_port = 0;
  pid_t m_pid = -1;
};

}  // namespace client_test
