#pragma once
// Runs transmission-daemon on 127.0.0.1 as an independent peer for a test:
// DHT, local peer discovery, uTP, peer exchange and port mapping off, driven
// through transmission-remote. Stopped with the object.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "tests/engine/tracker/tracker_process.h"

namespace tracker_test {

class transmission {
 public:
  static constexpr const char* daemon = "/usr/bin/transmission-daemon";
  static constexpr const char* remote = "/usr/bin/transmission-remote";
  static bool available() { return ::access(daemon, X_OK) == 0 && ::access(remote, X_OK) == 0; }

  // Keeps its downloads in `download_dir`; listens on `bind_address`, from
  // which its HTTP announces leave as well.
  explicit transmission(const std::string& download_dir, const std::string& bind_address = "127.0.0.1")
      : m_config("qf-transmission") {
    m_peer_port = free_port();
    m_rpc_port = free_port();
    std::ofstream(m_config.path() + "/settings.json")
        << "{\n"
           "  \"dht-enabled\": false,\n"
           "  \"lpd-enabled\": false,\n"
           "  \"utp-enabled\": false,\n"
           "  \"pex-enabled\": false,\n"
           "  \"port-forwarding-enabled\": false,\n"
           "  \"peer-port\": "
        << m_peer_port
        << ",\n"
           "  \"peer-port-random-on-start\": false,\n"
           "  \"bind-address-ipv4\": \""
        << bind_address
        << "\",\n"
           "  \"encryption\": 0,\n"
           "  \"rpc-enabled\": true,\n"
           "  \"rpc-port\": "
        << m_rpc_port
        << ",\n"
           "  \"rpc-bind-address\": \"127.0.0.1\",\n"
           "  \"rpc-authentication-required\": false,\n"
           "  \"rpc-whitelist-enabled\": false,\n"
           "  \"rpc-host-whitelist-enabled\": false,\n"
           "  \"download-dir\": \""
        << download_dir
        << "\",\n"
           "  \"incomplete-dir-enabled\": false,\n"
           "  \"watch-dir-enabled\": false,\n"
           "  \"blocklist-enabled\": false,\n"
           "  \"ratio-limit-enabled\": false,\n"
           "  \"idle-seeding-limit-enabled\": false,\n"
           "  \"speed-limit-up-enabled\": false,\n"
           "  \"speed-limit-down-enabled\": false,\n"
           "  \"start-added-torrents\": true,\n"
           "  \"message-level\": 2\n"
           "}\n";
    m_process = std::make_unique<child_process>(
        std::vector<std::string>{daemon, "-f", "-g", m_config.path()}, m_config.path() + "/log.txt");
    m_ready = m_process->wait_for_tcp(m_rpc_port);
  }

  bool ready() const { return m_ready; }
  std::uint16_t peer_port() const { return m_peer_port; }

  // Runs transmission-remote with `args`; its output.
  std::string remote_call(const std::string& args) const {
    const std::string command =
        std::string(remote) + " 127.0.0.1:" + std::to_string(m_rpc_port) + " " + args + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }

  // Adds a .torrent whose data is (or goes) in `dir`; true when accepted.
  bool add(const std::string& torrent_file, const std::string& dir) const {
    return remote_call("-a '" + torrent_file + "' -w '" + dir + "'").find("success") != std::string::npos;
  }

  // "Percent Done" of its first torrent, -1 when it has none.
  double percent_done() const {
    const std::string info = remote_call("-t 1 -i");
    const auto at = info.find("Percent Done: ");
    if (at == std::string::npos) return -1;
    return std::atof(info.c_str() + at + 14);
  }

  // Peers its first torrent is connected to, -1 when it has none.
  int connected_peers() const {
    const std::string info = remote_call("-t 1 -i");
    const auto at = info.find("Peers: connected to ");
    if (at == std::string::npos) return -1;
    return std::atoi(info.c_str() + at + 20);
  }

  std::string log() const {
    std::ifstream in(m_config.path() + "/log.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  temp_dir m_config;
  std::uint16_t m_peer_port = 0;
  std::uint16_t m_rpc_port = 0;
  std::unique_ptr<child_process> m_process;
  bool m_ready = false;
};

}  // namespace tracker_test
