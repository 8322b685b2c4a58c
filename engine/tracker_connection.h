#pragma once
// One running announce or scrape: the base of the HTTP and UDP kinds.

#include <chrono>
#include <memory>
#include <string>

#include "engine/request_callback.h"
#include "engine/tracker_query.h"

namespace engine {

class tracker_connection {
 public:
  using clock = std::chrono::steady_clock;

  tracker_connection(const tracker_query& q, std::weak_ptr<request_callback> requester)
      : m_requester(std::move(requester)), m_req(q) {}
  tracker_connection(const tracker_connection&) = delete;
  tracker_connection& operator=(const tracker_connection&) = delete;

  // One step; true when the connection is finished and may be dropped.
  virtual bool tick(clock::time_point now) = 0;
  // True when the request has gone out.
  virtual bool send_finished(clock::time_point now) const = 0;
  virtual ~tracker_connection() = default;

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
};

}  // namespace engine
