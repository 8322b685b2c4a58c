#pragma once
// Runs opentracker on 127.0.0.1 for a test: HTTP and UDP on one free port,
// with a whitelist of the info-hashes the test uses (Debian's build only
// serves whitelisted torrents). Stopped with the object.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/sha1_hash.h"
#include "tracker_process.h"

namespace tracker_test {

class opentracker {
 public:
  static constexpr const char* program = "/usr/bin/opentracker";
  static bool available() { return ::access(program, X_OK) == 0; }

  // On `port` (HTTP and UDP), or on a free one when it is 0.
  explicit opentracker(const std::vector<engine::sha1_hash>& whitelist, std::uint16_t port_number = 0)
      : m_dir("qf-opentracker") {
    // It may drop to an unprivileged user inside its folder.
    ::chmod(m_dir.path().c_str(), 0755);
    {
      std::ofstream wl(m_dir.path() + "/whitelist.txt");
      for (const auto& h : whitelist) wl << h.to_hex() << "\n";
    }
    ::chmod((m_dir.path() + "/whitelist.txt").c_str(), 0644);
    m_port = port_number != 0 ? port_number : free_port();
    const std::string port = std::to_string(m_port);
    m_process = std::make_unique<child_process>(std::vector<std::string>{
        program, "-i", "127.0.0.1", "-p", port, "-P", port, "-d", m_dir.path(), "-w", "whitelist.txt"});
    m_ready = m_process->wait_for_tcp(m_port);
  }

  bool ready() const { return m_ready; }
  std::uint16_t port() const { return m_port; }
  std::string http_url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/announce"; }
  std::string udp_url() const { return "udp://127.0.0.1:" + std::to_string(m_port); }

 private:
  temp_dir m_dir;
  std::uint16_t m_port = 0;
  std::unique_ptr<child_process> m_process;
  bool m_ready = false;
};

}  // namespace tracker_test
