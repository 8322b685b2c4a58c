#pragma once
// What the main window's timer asks of the engine session as a whole: its
// transfer figures, its alerts, its listen port and its upload limit.
// EngineSessionControl passes every call to a real
// engine::session; tests script the answers.

#include "engine/session/alert.h"
#include "engine/session/session.h"

#include <cstdint>
#include <memory>

namespace client {

class SessionControl {
 public:
  virtual ~SessionControl() = default;
  virtual engine::session_status status() const = 0;
  // The oldest queued alert; null when none is left.
  virtual std::unique_ptr<engine::alert> pop_alert() = 0;
  virtual std::uint16_t listen_port() const = 0;
  // -1 is unlimited.
  virtual void set_upload_rate_limit(int bytes_per_second) = 0;
};

class EngineSessionControl : public SessionControl {
 public:
  explicit EngineSessionControl(engine::session& session) : m_session(session) {}

  engine::session_status status() const override { return m_session.status(); }
  std::unique_ptr<engine::alert> pop_alert() override { return m_session.pop_alert(); }
  std::uint16_t listen_port() const override { return m_session.listen_port(); }
  void set_upload_rate_limit(int bytes_per_second) override { m_session.set_upload_rate_limit(bytes_per_second); }

 private:
  engine::session& m_session;
};

}  // namespace client
