#pragma once
// One TCP connection to another client, driven by the network thread. This
// is the connection's shape as the session and the torrent use it: the wire
// protocol itself is not spoken yet, so an incoming connection only reads
// and drops what it gets until the peer closes or falls silent.

#include <chrono>
#include <memory>

#include "engine/address.h"
#include "engine/resource_request.h"
#include "engine/sha1_hash.h"
#include "engine/socket.h"
#include "engine/stat.h"

namespace engine {

class session_impl;
class selector;
class torrent;

class peer_connection : public std::enable_shared_from_this<peer_connection> {
 public:
  // Incoming: an accepted socket, torrent unknown until the handshake.
  peer_connection(session_impl& ses, selector& sel, std::shared_ptr<socket> s);
  // Outgoing, for a torrent: waits in the session's connection queue until
  // connect() is called.
  peer_connection(session_impl& ses, selector& sel, torrent* t, std::shared_ptr<socket> s, const address& remote);
  ~peer_connection();
  peer_connection(const peer_connection&) = delete;
  peer_connection& operator=(const peer_connection&) = delete;

  // Starts the non-blocking connect.
  void connect();
  void connection_established();
  // Each throws when the connection is to be closed.
  void receive_data();
  void send_data();
  void second_tick();
  bool has_timed_out() const;
  void keep_alive();
  void reset_quota();

  // Binds an incoming connection to the torrent its handshake named.
  void attach_to_torrent(torrent* t);
  // Asks the session to close this connection at its next purge.
  void disconnect();
  void set_failed() { m_failed = true; }
  bool is_connecting() const { return m_connecting; }
  bool is_queued() const { return m_queued; }
  bool is_local() const { return m_outgoing; }

  const std::shared_ptr<socket>& get_socket() const { return m_socket; }
  const address& remote() const { return m_remote; }
  const peer_id& id() const { return m_peer_id; }
  // The torrent this connection is attached to, or null.
  torrent* associated_torrent() const { return m_attached ? m_torrent : nullptr; }
  stat& statistics() { return m_stat; }

  resource_request m_ul_bandwidth_quota;
  resource_request m_dl_bandwidth_quota;

 private:
  using clock = std::chrono::steady_clock;

  session_impl& m_ses;
  selector& m_selector;
  std::shared_ptr<socket> m_socket;
  address m_remote;
  torrent* m_torrent = nullptr;
  bool m_attached = false;
  bool m_outgoing = false;
  bool m_connecting = false;
  bool m_queued = false;
  bool m_failed = false;
  bool m_disconnecting = false;
  peer_id m_peer_id;
  stat m_stat;
  clock::time_point m_last_receive = clock::now();
  clock::time_point m_last_sent = clock::now();
  std::chrono::seconds m_timeout{120};
};

}  // namespace engine
