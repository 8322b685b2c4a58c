#pragma once
// One announce or scrape with the UDP tracker protocol ("udp", and the
// "bcudp" variant), driven by the dispatcher on the network thread. Never
// blocks.

#include <functional>
#include <memory>
#include <string>

#include "engine/tracker/tracker_connection.h"
#include "engine/tracker/udp_tracker_protocol.h"

namespace engine {

class udp_tracker_connection : public tracker_connection {
 public:
  udp_tracker_connection(const tracker_query& q, const std::string& host, int port,
                         std::weak_ptr<request_callback> requester, const http_settings& settings, bool variant,
                         const address& local = address(), std::function<void()> resolved = {},
                         clock::time_point now = clock::now());

  bool tick(clock::time_point now) override { return step(now, nullptr); }
  bool on_ready(readiness seen, clock::time_point now) override { return step(now, &seen); }
  bool send_finished(clock::time_point now) const override;
  std::shared_ptr<socket> watched_socket() const override { return m_lookup ? nullptr : m_socket; }

 private:
  // `seen` null: the socket is asked (by trying to receive).
  bool step(clock::time_point now, const readiness* seen);
  // Sends the step's packet; true when the step ended the request.
  bool carry_out(udp_tracker_protocol::step s);

  http_settings m_settings;
  udp_tracker_protocol m_protocol;
  std::shared_ptr<socket> m_socket;
  address m_local;
  clock::time_point m_created;
};

}  // namespace engine
