#pragma once
// The engine session as the main window owns it: besides what the timer
// asks (SessionControl), whether it listens, the limits, the extensions, the tracker
// settings and the filter, and the session's torrents. RealMainSession owns
// a real engine::session; tests record the calls of a stand-in.

#include "client/torrents/engine_torrent_control.h"
#include "client/app/session_control.h"
#include "engine/net/ip_filter.h"
#include "engine/tracker/tracker_query.h"
#include "engine/wire/fingerprint.h"

#include <memory>

namespace client {

class MainSession : public SessionControl {
 public:
  virtual bool is_listening() const = 0;

  virtual void set_http_settings(const engine::http_settings& settings) = 0;
  virtual void set_ip_filter(const engine::ip_filter& filter) = 0;
  virtual void set_download_rate_limit(int bytes_per_second) = 0;
  virtual void set_severity_level(engine::alert::severity_t threshold) = 0;
  virtual void set_max_connections(int limit) = 0;
  virtual void set_max_uploads(int limit) = 0;
  virtual void disable_extensions() = 0;
  virtual void enable_extension(int index) = 0;
  virtual void set_max_half_open_connections(int limit) = 0;

  // The session's torrents.
  virtual TorrentControl& Torrents() = 0;
  // The engine's own session; null for a stand-in.
  virtual engine::session* Engine() { return nullptr; }
};

class RealMainSession : public MainSession {
 public:
  // The session's threads start here; nothing listens yet.
  explicit RealMainSession(const engine::fingerprint& id)
      : m_session(std::make_unique<engine::session>(id)), m_torrents(*m_session) {}

  engine::session_status status() const override { return m_session->status(); }
  std::unique_ptr<engine::alert> pop_alert() override { return m_session->pop_alert(); }
  std::uint16_t listen_port() const override { return m_session->listen_port(); }
  void set_upload_rate_limit(int v) override { m_session->set_upload_rate_limit(v); }

  bool is_listening() const override { return m_session->is_listening(); }
  void set_http_settings(const engine::http_settings& s) override { m_session->set_http_settings(s); }
  void set_ip_filter(const engine::ip_filter& f) override { m_session->set_ip_filter(f); }
  void set_download_rate_limit(int v) override { m_session->set_download_rate_limit(v); }
  void set_severity_level(engine::alert::severity_t t) override { m_session->set_severity_level(t); }
  void set_max_connections(int v) override { m_session->set_max_connections(v); }
  void set_max_uploads(int v) override { m_session->set_max_uploads(v); }
  void disable_extensions() override { m_session->disable_extensions(); }
  void enable_extension(int index) override { m_session->enable_extension(index); }
  void set_max_half_open_connections(int v) override { m_session->set_max_half_open_connections(v); }
  TorrentControl& Torrents() override { return m_torrents; }
  engine::session* Engine() override { return m_session.get(); }

 private:
  std::unique_ptr<engine::session> m_session;
  EngineTorrentControl m_torrents;
};

}  // namespace client
