#pragma once
// Runs opentracker on 127.0.0.1 for a test: HTTP and UDP on one free port,
// with a whitelist of the info-hashes the test uses (Debian's build only
// serves whitelisted torrents). Stopped with the object.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/sha1_hash.h"

namespace tracker_test {

class opentracker {
 public:
  static constexpr const char* program = "/usr/bin/opentracker";
  static bool available() { return ::access(program, X_OK) == 0; }

  explicit opentracker(const std::vector<engine::sha1_hash>& whitelist) {
    char dir_template[] = "/tmp/qf-opentracker-XXXXXX";
    m_dir = ::mkdtemp(dir_template);
    ::chmod(m_dir.c_str(), 0755);  // it may drop to an unprivileged user
    {
      std::ofstream wl(m_dir + "/whitelist.txt");
      for (const auto& h : whitelist) wl << h.to_hex() << "\n";
    }
    ::chmod((m_dir + "/whitelist.txt").c_str(), 0644);
    m_port = free_port();
    const std::string port = std::to_string(m_port);
    m_pid = ::fork();
    if (m_pid == 0) {
      const int null = ::open("/dev/null", 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(program, program, "-i", "127.0.0.1", "-p", port.c_str(), "-P", port.c_str(), "-d",
              m_dir.c_str(), "-w", "whitelist.txt", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    m_ready = wait_until_listening();
  }

  ~opentracker() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      ::waitpid(m_pid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }

  bool ready() const { return m_ready; }
  std::uint16_t port() const { return m_port; }
  std::string http_url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/announce"; }
  std::string udp_url() const { return "udp://127.0.0.1:" + std::to_string(m_port); }

 private:
  static sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
  }

  // A port free for TCP and UDP alike.
  static std::uint16_t free_port() {
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

  bool wait_until_listening() const {
    for (int i = 0; i < 250; ++i) {
      const int s = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in sa = loopback(m_port);
      const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
      ::close(s);
      if (up) return true;
      if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::string m_dir;
  std::uint16_t m_port = 0;
  pid_t m_pid = -1;
  bool m_ready = false;
};

}  // namespace tracker_test
