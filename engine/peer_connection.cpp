#include "engine/peer_connection.h"

#include <algorithm>
#include <stdexcept>

#include "engine/selector.h"
#include "engine/session_impl.h"
#include "engine/torrent.h"

namespace engine {

namespace {

resource_request quota_for(int limit) {
  return resource_request(0, 10, resource_request::inf, limit == resource_request::inf ? resource_request::inf : 400);
}

}  // namespace

peer_connection::peer_connection(session_impl& ses, selector& sel, std::shared_ptr<socket> s)
    : m_ses(ses), m_selector(sel), m_socket(std::move(s)), m_remote(m_socket->remote_address()) {
  m_ul_bandwidth_quota = quota_for(resource_request::inf);
  m_dl_bandwidth_quota = quota_for(resource_request::inf);
}

peer_connection::peer_connection(session_impl& ses, selector& sel, torrent* t, std::shared_ptr<socket> s,
                                 const address& remote)
    : m_ses(ses),
      m_selector(sel),
      m_socket(std::move(s)),
      m_remote(remote),
      m_torrent(t),
      m_attached(true),
      m_outgoing(true),
      m_connecting(true),
      m_queued(true) {
  m_ul_bandwidth_quota = quota_for(t->upload_limit());
  m_dl_bandwidth_quota = quota_for(t->download_limit());
}

peer_connection::~peer_connection() {
  m_disconnecting = true;
  m_selector.remove(m_socket);
  if (m_attached && m_torrent) m_torrent->remove_peer(this);
}

void peer_connection::attach_to_torrent(torrent* t) {
  m_torrent = t;
  m_attached = true;
  t->attach_peer(this);
}

void peer_connection::connect() {
  m_queued = false;
  m_socket->connect(m_remote);
  m_selector.monitor_writability(m_socket);
  m_selector.monitor_errors(m_socket);
}

void peer_connection::connection_established() {
  m_connecting = false;
  m_selector.remove_writable(m_socket);
  m_selector.monitor_readability(m_socket);
}

void peer_connection::receive_data() {
  char buffer[4096];
  for (;;) {
    const int n = m_socket->receive(buffer, sizeof buffer);
    if (n == 0) throw std::runtime_error("connection closed by remote host");
    if (n < 0) {
      const int err = socket::last_error();
      if (err == network_error::would_block) return;
      throw network_error(err);
    }
    m_stat.received_bytes(0, n);
    m_last_receive = clock::now();
  }
}

void peer_connection::send_data() { m_selector.remove_writable(m_socket); }

void peer_connection::second_tick() { m_stat.second_tick(); }

bool peer_connection::has_timed_out() const {
  return !m_connecting && clock::now() - m_last_receive > m_timeout;
}

void peer_connection::keep_alive() {}

void peer_connection::reset_quota() {
  m_dl_bandwidth_quota.used = 0;
  if (!m_connecting && !m_disconnecting) m_selector.monitor_readability(m_socket);
}

void peer_connection::disconnect() {
  if (m_disconnecting) return;
  m_disconnecting = true;
  m_ses.m_disconnect_peer.push_back(shared_from_this());
}

}  // namespace engine
