#pragma once
// What a torrent implements to hear from its trackers. Tracker connections
// hold it by weak pointer: a torrent that goes away drops its requests
// without being told.

#include <string>
#include <vector>

#include "engine/net/address.h"
#include "engine/tracker/tracker_query.h"

namespace engine {

class tracker_dispatcher;

class request_callback {
 public:
  virtual ~request_callback() = default;

  virtual void tracker_warning(const std::string& message) = 0;
  // complete and incomplete are -1 when the tracker did not give them.
  virtual void tracker_response(const tracker_query& q, std::vector<tracker_peer> peers, int interval,
                                int complete, int incomplete) = 0;
  virtual void tracker_request_timed_out(const tracker_query& q) = 0;
  // status_code: the HTTP status, or -1.
  virtual void tracker_request_error(const tracker_query& q, int status_code, const std::string& message) = 0;

  // The tracker last connected to, written when a connection's look-up ends.
  const address& tracker_address() const { return m_tracker_address; }
  void set_tracker_address(const address& a) { m_tracker_address = a; }
  // The dispatcher while a request of this requester runs, else null.
  tracker_dispatcher* dispatcher() const { return m_dispatcher; }
  void set_dispatcher(tracker_dispatcher* d) { m_dispatcher = d; }

 private:
  address m_tracker_address;
  tracker_dispatcher* m_dispatcher = nullptr;
};

}  // namespace engine
