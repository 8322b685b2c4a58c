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

#include "engine/formats/sha1_hash.h"
#include "tests/engine/tracker/tracker_process.h"

namespace tracker_test {

class opentracker {
 public:
  static constexpr const char* program = "/usr/bin/opentracker";
  static bool available() { return ::access(program, X_OK) == 0; }

  // On `port` (HTTP and UDP), or on a free one when it is 0. Ready once it
  // serves the torrents of its whitelist.
  explicit opentracker(const std::vector<engine::sha1_hash>& whitelist, std::uint16_t port_number = 0)
      : m_dir("qf-opentracker") {
    // It may drop to an unprivileged user inside its folder.
    ::chmod(m_dir.path().c_str(), 0755);
    {
      std::ofstream wl(m_dir.path() + "/whitelist.txt");
      for (const auto& h : whitelist) wl << h.to_hex() << "\n";
    }
    ::chmod((m_dir.path() + "/whitelist.txt").c_str(), 0644);
    // A free port may be taken before it binds it: then it ends, and another
    // port is tried.
    const test_support::deadline end;
    do {
      m_port = port_number != 0 ? port_number : free_port();
      const std::string port = std::to_string(m_port);
      m_process = std::make_unique<child_process>(std::vector<std::string>{
          program, "-i", "127.0.0.1", "-p", port, "-P", port, "-d", m_dir.path(), "-w", "whitelist.txt"});
      m_ready = m_process->wait_for_tcp(m_port);
    } while (!m_ready && port_number == 0 && !end.passed());
    // It reads the whitelist only after it has begun to listen, and refuses
    // every torrent until then.
    if (m_ready && !whitelist.empty())
      m_ready = test_support::wait_until([&] { return serves(whitelist.front()); });
  }

  bool ready() const { return m_ready; }
  std::uint16_t port() const { return m_port; }
  std::string http_url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/announce"; }
  std::string udp_url() const { return "udp://127.0.0.1:" + std::to_string(m_port); }

 private:
  // Whether it takes an announce for `ih`: a peer at port 1 joins the swarm
  // and leaves it at once, so that no count changes.
  bool serves(const engine::sha1_hash& ih) const {
    std::string target = "/announce?info_hash=";
    for (const std::uint8_t b : ih) {
      static constexpr char hex[] = "0123456789abcdef";
      target += {'%', hex[b >> 4], hex[b & 15]};
    }
    target += "&peer_id=-QF0100-readiness000&port=1&uploaded=0&downloaded=0&left=1&compact=1&event=";
    const std::string reply = http_get(m_port, target + "started");
    if (reply.find("d8:complete") == std::string::npos) return false;
    http_get(m_port, target + "stopped");
    return true;
  }

  temp_dir m_dir;
  std::uint16_t m_port = 0;
  std::unique_ptr<child_process> m_process;
  bool m_ready = false;
};

}  // namespace tracker_test
