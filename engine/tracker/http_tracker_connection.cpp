#include "engine/tracker/http_tracker_connection.h"

#include "engine/formats/entry.h"
#include "engine/tracker/gzip.h"
#include "engine/tracker/http_tracker_request.h"
#include "engine/tracker/tracker_dispatcher.h"
#include "engine/tracker/tracker_reply.h"

namespace engine {

http_tracker_connection::http_tracker_connection(tracker_dispatcher& dispatcher, const tracker_query& q,
                                                 const std::string& host, int port, const std::string& path,
                                                 std::weak_ptr<request_callback> requester,
                                                 const http_settings& settings, const std::string& login,
                                                 const address& local, std::function<void()> resolved,
                                                 clock::time_point now)
    : tracker_connection(q, std::move(requester)),
      m_dispatcher(dispatcher),
      m_settings(settings),
      m_login(login),
      m_local(local),
      m_send_buffer(build_http_tracker_request(q, host, port, path, settings, login)),
      m_reader(settings.tracker_maximum_response_length),
      m_started(now) {
  if (settings.proxy_ip.empty())
    m_lookup = async_lookup(host, std::uint16_t(port), std::move(resolved));
  else
    m_lookup = async_lookup(settings.proxy_ip, std::uint16_t(settings.proxy_port == 0 ? 80 : settings.proxy_port),
                            std::move(resolved));
}

// False while the look-up runs; true when it failed (and was reported).
bool http_tracker_connection::connect_when_resolved(clock::time_point now) {
  if (!m_lookup->done.load(std::memory_order_acquire)) return false;
  if (!m_lookup->error.empty()) {
    fail(-1, m_lookup->error);
    return true;
  }
  if (auto r = requester()) r->set_tracker_address(m_lookup->address);
  m_socket = std::make_shared<socket>(socket::tcp);
  m_socket->connect(m_lookup->address, m_local);
  m_lookup.reset();
  // The time-out counts from the connect, not from the queuing of the
  // look-up, which may have waited behind others.
  m_started = now;
  return false;
}

bool http_tracker_connection::step(clock::time_point now, const readiness* seen) {
  const bool alive = requester() != nullptr;
  if (m_lookup) {
    // Nobody waits for a request whose requester is gone: it may not hang
    // on a slow name server either.
    if (!alive && now - m_started > std::chrono::seconds(m_settings.stop_tracker_timeout)) return true;
    if (connect_when_resolved(now)) return true;
    // With a selector, the next step comes when the connect has ended.
    if (m_lookup || seen) return false;
  }

  // The limit is for the whole request: a tracker that trickles its reply a
  // byte at a time must not hold the torrent from its other trackers.
  const int limit = alive ? m_settings.tracker_timeout : m_settings.stop_tracker_timeout;
  if (now - m_started > std::chrono::seconds(limit)) {
    timed_out();
    return true;
  }

  // Before sending: a send on a refused connection would take the error
  // away and leave only the hang-up.
  if (seen ? seen->error : m_socket->has_error()) {
    fail(-1, "connection refused");
    return true;
  }

  if (!m_send_buffer.empty() && (seen ? seen->writable : m_socket->is_writable())) {
    const int sent = m_socket->send(m_send_buffer.data(), int(m_send_buffer.size()));
    if (sent > 0) m_send_buffer.erase(0, std::size_t(sent));
  }

  // Everything that has arrived, as long as the reader wants more.
  if (seen ? !seen->readable : !m_socket->is_readable()) return false;
  for (;;) {
    char buffer[4096];
    int received = m_socket->receive(buffer, int(sizeof buffer));
    if (received < 0 && socket::last_error() == network_error::would_block) return false;
    // A failed receive ends the reply like a closed connection.
    if (received < 0) received = 0;
    const http_reply_reader::result r = m_reader.feed(buffer, received);
    if (r.kind != http_reply_reader::result::pending) return handle_reply(r);
    if (received == 0) return false;
  }
}

bool http_tracker_connection::handle_reply(const http_reply_reader::result& r) {
  switch (r.kind) {
    case http_reply_reader::result::failed:
      fail(-1, r.text);
      return true;
    case http_reply_reader::result::redirect:
      return redirect(r.text);
    case http_reply_reader::result::complete:
      parse_body();
      return true;
    case http_reply_reader::result::pending:
      break;
  }
  return false;
}

bool http_tracker_connection::redirect(const std::string& location) {
  // A tracker that sends us round in circles gets a few turns only.
  if (m_req.redirects >= tracker_dispatcher::max_redirects) {
    fail(-1, "too many redirections from tracker");
    return true;
  }
  tracker_query q = m_req;
  q.url = location;
  ++q.redirects;
  m_dispatcher.start_tracker_request(q, m_requester, m_login);
  return true;
}

void http_tracker_connection::parse_body() {
  auto r = requester();
  if (!r) return;
  std::string& body = m_reader.body();
  if (m_reader.gzipped()) {
    const std::string error = gunzip(body, m_settings.tracker_maximum_response_length);
    if (!error.empty()) {
      r->tracker_request_error(m_req, 200, error);
      return;
    }
  }
  entry reply;
  try {
    reply = bdecode(body);
  } catch (const std::exception& e) {
    r->tracker_request_error(m_req, -1, e.what());
    return;
  }
  deliver_tracker_reply(*r, m_req, parse_tracker_reply(reply, m_req, m_reader.status_code()));
}

}  // namespace engine
