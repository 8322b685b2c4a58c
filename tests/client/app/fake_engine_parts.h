#pragma once
// Stand-ins for the engine's parts of the main window: a session that
// records every call in one shared log (with its arguments), made and
// destroyed under the test's eye, and torrents "loaded" by a test's loader.

#include "client/app/main_window_core.h"
#include "dht/dht_service.h"
#include "tests/client/torrents/fake_torrent_control.h"
#include "store/torrent_database.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace client_test {

struct RecordingSession : client::MainSession {
  std::vector<std::string>& log;
  FakeTorrentControl torrents;
  std::uint16_t port = 0;
  bool listening = false;
  bool throw_on_http = false;
  std::function<void()> on_destroy;

  explicit RecordingSession(std::vector<std::string>& l) : log(l) {}
  ~RecordingSession() override {
    log.push_back("~session");
    if (on_destroy) on_destroy();
  }

  void Put(std::string call) { log.push_back(std::move(call)); }
  void Put(const std::string& call, long long value) { log.push_back(call + " " + std::to_string(value)); }

  std::uint16_t listen_port() const override { return port; }
  bool is_listening() const override { return listening; }
  std::unique_ptr<engine::alert> pop_alert() override { return nullptr; }
  void set_http_settings(const engine::http_settings& s) override {
    if (throw_on_http) throw std::runtime_error("engine refused");
    Put("http " + s.user_agent + " " + std::to_string(s.tracker_timeout) + " " +
        std::to_string(s.stop_tracker_timeout) + " " + std::to_string(s.tracker_maximum_response_length));
  }
  void set_ip_filter(const engine::ip_filter&) override { Put("ip_filter"); }
  void set_upload_rate_limit(int v) override { Put("upload", v); }
  void set_download_rate_limit(int v) override { Put("download", v); }
  void set_severity_level(engine::alert::severity_t t) override { Put("severity", t); }
  void set_max_connections(int v) override { Put("connections", v); }
  void set_max_uploads(int v) override { Put("uploads", v); }
  void disable_extensions() override { Put("disable_extensions"); }
  void enable_extension(int index) override { Put("extension", index); }
  void set_max_half_open_connections(int v) override { Put("half_open", v); }
  engine::session_status status() const override { return status_figures; }
  client::TorrentControl& Torrents() override { return torrents; }

  engine::session_status status_figures;
};

// Records its rounds in the log; `ok` false stops a round as a missing
// address or port would.
struct FakeNetworkStep : client::NetworkStep {
  std::vector<std::string>& log;
  bool ok = true;
  explicit FakeNetworkStep(std::vector<std::string>& l) : log(l) {}
  bool Apply(const client::Settings& s, client::MainSession&, CDHTService*) override {
    log.push_back("network " + std::to_string(s.min_port) + "-" + std::to_string(s.max_port));
    return ok;
  }
  std::string LocalAddress() const override { return "0.0.0.0"; }
  client::MappedAddress Mapped() const override { return {}; }
  void QueryExternalAddress() override { log.push_back("query_external_address"); }
  void DisableMappings() override { log.push_back("disable_mappings"); }
};

struct FakeEngineParts : client::EngineParts {
  std::vector<std::string> log;
  RecordingSession* session = nullptr;  // the one made last, while it lives
  std::function<void(RecordingSession&)> setup;
  bool throw_on_make = false;
  // Loads a torrent: false when it does not load (also without a loader).
  std::function<bool(client::TorrentItem&)> loader;
  std::vector<std::wstring> loaded;
  FakeNetworkStep* network = nullptr;

  std::unique_ptr<client::MainSession> MakeSession(const engine::fingerprint& id) override {
    log.push_back("make_session " + id.to_string());
    if (throw_on_make) throw std::runtime_error("no engine");
    auto s = std::make_unique<RecordingSession>(log);
    session = s.get();
    s->on_destroy = [this] { session = nullptr; };
    if (setup) setup(*s);
    return s;
  }
  std::unique_ptr<CDHTService> MakeDht(std::uint32_t) override { return nullptr; }
  std::unique_ptr<client::NetworkStep> MakeNetworkStep(client::NetworkStep::Host&) override {
    auto step = std::make_unique<FakeNetworkStep>(log);
    network = step.get();
    return step;
  }
  // Connects the store (none: no store).
  std::function<std::unique_ptr<CTorrentDatabase>(const client::StartupValues&)> connect;
  // Torrents load as the program loads them, from their sections or rows.
  bool real_load = false;

  std::unique_ptr<CTorrentDatabase> ConnectStore(const client::StartupValues& values) override {
    return connect ? connect(values) : nullptr;
  }
  bool LoadTorrent(client::TorrentItem& torrent, const client::Utf16IniFile& list,
                   client::DhtControl* dht) override {
    loaded.push_back(torrent.Path());
    if (real_load) return torrent.Load(list, dht);
    return loader && loader(torrent);
  }
};

}  // namespace client_test
