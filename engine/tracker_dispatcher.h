#pragma once
// Runs every tracker request of a session: creates the connection that the
// URL's scheme asks for and drives it from the network thread until it is
// done. Used only under the session lock, so it has no lock of its own.

#include <chrono>
#include <list>
#include <memory>
#include <string>

#include "engine/request_callback.h"
#include "engine/tracker_connection.h"
#include "engine/tracker_query.h"

namespace engine {

class tracker_dispatcher {
 public:
  using clock = std::chrono::steady_clock;

  // `settings` is the session's, read at each new request.
  explicit tracker_dispatcher(const http_settings& settings) : m_settings(settings) {}
  tracker_dispatcher(const tracker_dispatcher&) = delete;
  tracker_dispatcher& operator=(const tracker_dispatcher&) = delete;

  // Queues an announce or scrape. `login` is empty or "user:password" for
  // HTTP basic authentication. A request that cannot start is reported to
  // the requester as an error with status -1 right away.
  void start_tracker_request(tracker_query q, std::weak_ptr<request_callback> requester,
                             const std::string& login = std::string());

  // Advances every connection and drops those that are done.
  void tick(clock::time_point now = clock::now());
  // Drops every request whose requester is still there, without telling it;
  // the requests nobody waits for (stopped announces of removed torrents)
  // still run.
  void abort_all();
  // True when every running request has gone out.
  bool send_finished(clock::time_point now = clock::now()) const;

  // New requests leave from this address (port 0: any port), so that the
  // tracker hands out the address the session listens on; 0.0.0.0 leaves
  // the choice to the system.
  void set_local_address(const address& a) { m_local_address = a; }
  const address& local_address() const { return m_local_address; }

  bool empty() const { return m_connections.empty(); }
  std::size_t size() const { return m_connections.size(); }

  // A redirection followed this many times is not followed again.
  static constexpr int max_redirects = 5;

 private:
  void remove(std::list<std::shared_ptr<tracker_connection>>::iterator i);

  const http_settings& m_settings;
  address m_local_address;
  // A list: connections queued while ticking (redirections) leave the
  // iteration intact.
  std::list<std::shared_ptr<tracker_connection>> m_connections;
};

}  // namespace engine
