#pragma once
// Programs the tracker tests run beside themselves (opentracker,
// transmission-daemon): started with fork and exec, stopped with the object;
// and free loopback ports for them.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace tracker_test {

inline sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

// A loopback port that is free for TCP and UDP alike.
inline std::uint16_t free_port() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int t = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = loopback(0);
    ::bind(t, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(t, reinterpret_cast<sockaddr*>(&sa), &len);
    const int u = ::socket(AF_INET, SOCK_DGRAM, 0);
    const bool udp_free = ::bind(u, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(u);
    ::close(t);
    if (udp_free) return ntohs(sa.sin_port);
  }
  return 0;
}

class child_process {
 public:
  // Runs `argv` (argv[0] the program's path) with its output thrown away,
  // or written to `log` when given.
  explicit child_process(const std::vector<std::string>& argv, const std::string& log = "") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
      const int out = log.empty() ? ::open("/dev/null", O_WRONLY) : ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~child_process() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  pid_t pid() const { return m_pid; }
  // False once it has ended (and been reaped: its pid is not ours any more).
  bool running() {
    if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) != 0) m_pid = -1;
    return m_pid > 0;
  }

  // Waits until the program accepts TCP connections on the loopback port;
  // false when it ended first, or the deadline passed.
  bool wait_for_tcp(std::uint16_t port) {
    bool up = false;
    test_support::wait_until([&] {
      const int s = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in sa = loopback(port);
      up = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
      ::close(s);
      return up || !running();
    });
    return up;
  }

 private:
  pid_t m_pid = -1;
};

// The whole reply to an HTTP/1.0 GET of `target` from the loopback port;
// empty when there is none before the deadline.
inline std::string http_get(std::uint16_t port, const std::string& target) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa = loopback(port);
  std::string reply;
  if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    const test_support::deadline end;
    char buf[4096];
    for (ssize_t n; test_support::readable_before(s, end) && (n = ::recv(s, buf, sizeof buf, 0)) > 0;)
      reply.append(buf, std::size_t(n));
  }
  ::close(s);
  return reply;
}

// A fresh folder under /tmp, removed with the object.
class temp_dir {
 public:
  explicit temp_dir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    m_path = ::mkdtemp(pattern.data());
  }
  ~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace tracker_test
