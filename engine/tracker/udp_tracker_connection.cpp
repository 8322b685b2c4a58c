#include "engine/tracker/udp_tracker_connection.h"

namespace engine {

udp_tracker_connection::udp_tracker_connection(const tracker_query& q, const std::string& host, int port,
                                               std::weak_ptr<request_callback> requester,
                                               const http_settings& settings, bool variant, const address& local,
                                               std::function<void()> resolved, clock::time_point now)
    : tracker_connection(q, std::move(requester)),
      m_settings(settings),
      m_protocol(q, variant, settings),
      m_socket(std::make_shared<socket>(socket::udp)),
      m_local(local),
      m_created(now) {
  m_lookup = async_lookup(host, std::uint16_t(port), std::move(resolved));
}

bool udp_tracker_connection::step(clock::time_point now, const readiness* seen) {
  const bool alive = requester() != nullptr;
  if (m_lookup) {
    if (!m_lookup->done.load(std::memory_order_acquire)) {
      // Nobody waits for a request whose requester is gone.
      return !alive && now - m_created > std::chrono::seconds(m_settings.stop_tracker_timeout);
    }
    if (!m_lookup->error.empty()) {
      fail(-1, m_lookup->error);
      return true;
    }
    if (auto r = requester()) r->set_tracker_address(m_lookup->address);
    m_socket->connect(m_lookup->address, m_local);
    m_lookup.reset();
    return carry_out(m_protocol.start(now));
  }

  if (carry_out(m_protocol.tick(now, alive))) return true;
  // A refused datagram shows as an error on the socket, which the receive
  // below reports.
  if (seen && !seen->readable && !seen->error) return false;

  char buffer[udp_tracker_protocol::receive_buffer_size];
  const int received = m_socket->receive(buffer, int(sizeof buffer));
  if (received < 0) {
    const int error = socket::last_error();
    if (error == network_error::would_block) return false;
    throw network_error(error);
  }
  if (received == 0) return false;
  return carry_out(m_protocol.receive(buffer, received, now));
}

bool udp_tracker_connection::carry_out(udp_tracker_protocol::step s) {
  // A lost datagram is resent by the protocol's time-outs; a refused one
  // shows at the next receive.
  if (!s.send.empty()) m_socket->send(s.send.data(), int(s.send.size()));
  switch (s.kind) {
    case udp_tracker_protocol::step::pending:
      return false;
    case udp_tracker_protocol::step::response:
      if (auto r = requester()) r->tracker_response(m_req, std::move(s.peers), s.interval, s.complete, s.incomplete);
      return true;
    case udp_tracker_protocol::step::failed:
      fail(-1, s.error);
      return true;
    case udp_tracker_protocol::step::timed_out:
      timed_out();
      return true;
  }
  return true;
}

bool udp_tracker_connection::send_finished(clock::time_point now) const {
  if (m_lookup) return now - m_created > std::chrono::seconds(m_settings.tracker_timeout);
  return m_protocol.send_finished(now);
}

}  // namespace engine
