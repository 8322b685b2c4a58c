#pragma once
// One running announce or scrape: the base of the HTTP and UDP kinds.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "engine/net/lookup.h"
#include "engine/net/socket.h"
#include "engine/tracker/request_callback.h"
#include "engine/tracker/tracker_query.h"

namespace engine {

class tracker_connection {
 public:
  using clock = std::chrono::steady_clock;

  // What the selector saw of the connection's socket.
  struct readiness {
    bool readable = false;
    bool writable = false;
    bool error = false;
  };

  tracker_connection(const tracker_query& q, std::weak_ptr<request_callback> requester)
      : m_requester(std::move(requester)), m_req(q) {}
  tracker_connection(const tracker_connection&) = delete;
  tracker_connection& operator=(const tracker_connection&) = delete;

  // One step; true when the connection is finished and may be dropped. Asks
  // the socket itself whether it is ready.
  virtual bool tick(clock::time_point now) = 0;
  // One step with what the selector saw of the socket (nothing at all when
  // the step is for the end of the look-up); true when finished.
  virtual bool on_ready(readiness seen, clock::time_point now) = 0;
  // True when the request has gone out.
  virtual bool send_finished(clock::time_point now) const = 0;
  virtual ~tracker_connection() = default;

  // The socket a selector should watch: none until the look-up ended.
  virtual std::shared_ptr<socket> watched_socket() const = 0;
  // Whether the socket is to be watched for writability as well.
  virtual bool wants_to_send() const { return false; }
  // The look-up has ended and the connection has not acted on it yet.
  bool lookup_ended() const { return m_lookup && m_lookup->done.load(std::memory_order_acquire); }

  const tracker_query& tracker_req() const { return m_req; }
  // The requester, or null when it is gone (or there never was one).
  std::shared_ptr<request_callback> requester() const { return m_requester.lock(); }

 protected:
  // Reports to the requester, when it is still there.
  void fail(int status_code, const std::string& message) const {
    if (auto r = requester()) r->tracker_request_error(m_req, status_code, message);
  }
  void timed_out() const {
    if (auto r = requester()) r->tracker_request_timed_out(m_req);
  }

  std::weak_ptr<request_callback> m_requester;
  tracker_query m_req;
  // The tracker's (or proxy's) address being looked up; null once used.
  std::shared_ptr<detail::lookup_entry> m_lookup;
};

}  // namespace engine
