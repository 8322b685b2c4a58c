#pragma once
// One announce or scrape with the UDP tracker protocol ("udp", and the
// "bcudp" variant), driven by the dispatcher's tick on the network thread.
// Never blocks.

#include <memory>
#include <string>

#include "engine/lookup.h"
#include "engine/socket.h"
#include "engine/tracker_connection.h"
#include "engine/udp_tracker_protocol.h"

namespace engine {

class udp_tracker_connection : public tracker_connection {
 public:
  udp_tracker_connection(const tracker_query& q, const std::string& host, int port,
                         std::weak_ptr<request_callback> requester, const http_settings& settings, bool variant,
                         const address& local = address(), clock::time_point now = clock::now());

  bool tick(clock::time_point now) override;
  bool send_finished(clock::time_point now) const override;

 private:
  // Sends the step's packet; true when the step ended the request.
  bool carry_out(udp_tracker_protocol::step s);

  http_settings m_settings;
  udp_tracker_protocol m_protocol;
  std::shared_ptr<detail::lookup_entry> m_lookup;
  std::shared_ptr<socket> m_socket;
  address m_local;
  clock::time_point m_created;
};

}  // namespace engine
