#pragma once
// One announce or scrape over HTTP/1.0, driven by the dispatcher on the
// network thread: looks the tracker (or proxy) up on the look-up worker,
// sends one GET, reads the reply and hands what it says to the requester.
// Never blocks.

#include <functional>
#include <memory>
#include <string>

#include "engine/tracker/http_reply_reader.h"
#include "engine/tracker/tracker_connection.h"

namespace engine {

class tracker_dispatcher;

class http_tracker_connection : public tracker_connection {
 public:
  // Builds the request (a scrape on a URL without "announce" throws
  // std::runtime_error) and queues the look-up; `resolved` (may be empty)
  // is called on the look-up worker when it ends.
  http_tracker_connection(tracker_dispatcher& dispatcher, const tracker_query& q, const std::string& host,
                          int port, const std::string& path, std::weak_ptr<request_callback> requester,
                          const http_settings& settings, const std::string& login,
                          const address& local = address(), std::function<void()> resolved = {},
                          clock::time_point now = clock::now());

  bool tick(clock::time_point now) override { return step(now, nullptr); }
  bool on_ready(readiness seen, clock::time_point now) override { return step(now, &seen); }
  bool send_finished(clock::time_point) const override { return m_send_buffer.empty(); }
  std::shared_ptr<socket> watched_socket() const override { return m_socket; }
  bool wants_to_send() const override { return !m_send_buffer.empty(); }

 private:
  // `seen` null: the socket is asked.
  bool step(clock::time_point now, const readiness* seen);
  bool connect_when_resolved(clock::time_point now);
  bool handle_reply(const http_reply_reader::result& r);
  bool redirect(const std::string& location);
  void parse_body();

  tracker_dispatcher& m_dispatcher;
  http_settings m_settings;
  std::string m_login;
  address m_local;
  std::shared_ptr<socket> m_socket;
  std::string m_send_buffer;
  http_reply_reader m_reader;
  clock::time_point m_started;  // the connect; the look-up before it
};

}  // namespace engine
