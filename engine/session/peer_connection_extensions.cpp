// The peer connection's side of the wire extensions: what its
// peer_extensions asks of the session, the torrent and its policy.

#include "engine/net/ip_filter.h"
#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/session/torrent.h"

namespace engine {

bool peer_connection::send_chat_message(std::string_view text) {
  if (!m_extensions.send_chat_message(m_send, text)) return false;
  update_writability();
  return true;
}

extension_settings peer_connection::extension_config() const { return m_ses.extension_config(); }

bool peer_connection::extension_enabled(int index) const { return m_ses.extension_enabled(index); }

std::string_view peer_connection::metadata() { return m_torrent->metadata_bytes(); }

std::optional<wire::metadata_range> peer_connection::choose_metadata_range() {
  if (!m_torrent->wants_metadata()) return std::nullopt;
  const auto [start, count] = m_torrent->metadata_request();
  return wire::metadata_range{start, count};
}

void peer_connection::metadata_request_ended(wire::metadata_range r) {
  if (m_torrent) m_torrent->cancel_metadata_request({r.start, r.count});
}

void peer_connection::metadata_received(std::span<const char> bytes, int offset, int total) {
  // A part may still arrive while the complete metadata is being checked.
  if (m_torrent->wants_metadata()) m_torrent->received_metadata(bytes.data(), int(bytes.size()), offset, total);
}

void peer_connection::peer_learnt(const address& a, const peer_id& id) {
  if (m_torrent) m_torrent->get_policy().peer_from_tracker(a, id);
}

int peer_connection::num_connections() const { return m_torrent ? m_torrent->num_peers() : 0; }

std::vector<address> peer_connection::outgoing_peers() const {
  std::vector<address> peers;
  if (!m_torrent) return peers;
  // Connections we opened lead to where their peers listen.
  for (const auto& [a, c] : m_torrent->peers())
    if (c->is_local() && !c->is_connecting()) peers.push_back(a);
  return peers;
}

const ip_filter* peer_connection::filter() const { return &m_ses.filter(); }

void peer_connection::chat_message(std::string text) {
  if (m_torrent)
    m_ses.alerts().post_if([&] { return chat_message_alert(m_torrent->get_handle(), m_remote, std::move(text)); });
}

}  // namespace engine
