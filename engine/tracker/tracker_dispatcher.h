#pragma once
// Runs every tracker request of a session: creates the connection that the
// URL's scheme asks for and drives it from the network thread until it is
// done. Used only under the session lock, so it has no lock of its own.
//
// Attached to the session's selector, it has the connections' sockets
// watched there and serves each connection as soon as its socket is ready
// or its look-up has ended (the look-up worker wakes the selector); the tick
// then only keeps the time-outs and resends. Without a selector the tick
// does all of it.

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/net/selector.h"
#include "engine/tracker/request_callback.h"
#include "engine/tracker/tracker_connection.h"
#include "engine/tracker/tracker_query.h"

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

  // Has the connections' sockets watched by `s` from now on. The selector
  // must outlive the requests, or be detached before it goes.
  void attach(selector& s);
  // Serves the connections whose sockets the selector found ready, taking
  // those sockets out of the three lists (what is left belongs to others),
  // and the connections whose look-up has ended.
  void serve(selector::socket_list& readable, selector::socket_list& writable, selector::socket_list& errored,
             clock::time_point now = clock::now());

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
  using connection_list = std::list<std::shared_ptr<tracker_connection>>;
  // Runs one step of a connection (`step` returns whether it is done; what
  // it throws is reported as an error) and drops it when it is done, else
  // updates what the selector watches. Returns the next position.
  template <class Step>
  connection_list::iterator advance(connection_list::iterator i, Step step);
  void remove(connection_list::iterator i);
  // The selector watches the connection's socket as it now needs.
  void watch(tracker_connection& c);
  void unwatch(tracker_connection& c);

  const http_settings& m_settings;
  address m_local_address;
  // A list: connections queued while ticking (redirections) leave the
  // iteration intact.
  connection_list m_connections;

  selector* m_selector = nullptr;
  std::function<void()> m_wake;
  struct watched {
    tracker_connection* connection;
    bool writing;  // watched for writability too
  };
  std::unordered_map<const socket*, watched> m_watched;
};

}  // namespace engine
