#pragma once
// Scripted stand-ins for the session as a whole and for the DHT node, and a
// record of what the main timer asks of its window.

#include "client/torrents/dht_control.h"
#include "client/app/main_timer.h"
#include "client/app/session_control.h"

#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace client_test {

struct FakeSession : client::SessionControl {
  engine::session_status figures;
  std::deque<std::unique_ptr<engine::alert>> alerts;
  std::uint16_t port = 6881;
  std::vector<int> upload_limits;  // every set_upload_rate_limit
  bool failing = false;  // status() throws

  engine::session_status status() const override {
    if (failing) throw std::runtime_error("session closing");
    return figures;
  }
  std::unique_ptr<engine::alert> pop_alert() override {
    if (alerts.empty()) return nullptr;
    std::unique_ptr<engine::alert> a = std::move(alerts.front());
    alerts.pop_front();
    return a;
  }
  std::uint16_t listen_port() const override { return port; }
  void set_upload_rate_limit(int bytes_per_second) override { upload_limits.push_back(bytes_per_second); }

  template <class Kind, class... Args>
  void Post(Args&&... args) {
    alerts.push_back(std::make_unique<Kind>(std::forward<Args>(args)...));
  }
};

struct FakeDht : client::DhtControl {
  dht::Statistics figures;
  std::vector<std::string> external_addresses;
  std::vector<engine::address> peers;
  int peer_requests = 0;

  bool SetExternalAddress(std::string_view host) override {
    external_addresses.emplace_back(host);
    return true;
  }
  dht::Statistics GetStatistics() override { return figures; }
  std::vector<engine::address> GetPeers(const engine::sha1_hash&) override {
    ++peer_requests;
    return peers;
  }

  struct Registered {
    engine::sha1_hash info_hash;
    bool is_private, own;
  };
  std::vector<Registered> registered;
  std::vector<engine::sha1_hash> bootstrapped;
  bool AddInfoHash(const engine::sha1_hash& h, bool is_private, bool own) override {
    registered.push_back({h, is_private, own});
    return true;
  }
  void AddBootstrapNodes(const engine::entry&, const engine::sha1_hash& h) override { bootstrapped.push_back(h); }
};

// The window's side: a log line becomes the status text with a stamp.
struct RecordingSink : client::MainTimerSink {
  std::vector<std::wstring> log;
  std::wstring status;
  std::vector<std::pair<client::TorrentItem*, std::wstring>> torrent_log;
  std::vector<client::TorrentItem*> metadata;
  std::vector<std::wstring> downloads;
  std::vector<engine::address> bans;

  void AddLogLine(const std::wstring& text) override {
    log.push_back(text);
    status = L"[stamp] - " + text;
  }
  std::wstring StatusText() const override { return status; }
  void AppendTorrentLog(client::TorrentItem& t, const std::wstring& line) override { torrent_log.emplace_back(&t, line); }
  void MetadataReceived(client::TorrentItem& t) override {
    metadata.push_back(&t);
    // The metadata handling may log; the torrent's log gets the latest line.
    AddLogLine(L"metadata stored");
  }
  void AppendDownloadsLog(const std::wstring& name) override { downloads.push_back(name); }
  void BanPeer(const engine::address& peer) override { bans.push_back(peer); }
};

}  // namespace client_test
