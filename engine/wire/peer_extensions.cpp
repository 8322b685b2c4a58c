#include "engine/wire/peer_extensions.h"

#include <string>

#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"

namespace engine {

namespace {

std::string_view as_view(std::span<const char> s) { return {s.data(), s.size()}; }

}  // namespace

void peer_extensions::handshake_received(bool extension_protocol, bool ext_mark, send_buffer& out) {
  m_extension_protocol = extension_protocol;
  const extension_settings cfg = m_host.extension_config();
  if (extension_protocol)
    wire::write_extension_handshake(out, cfg.enabled, cfg.listen_port, cfg.user_agent);
  else if (ext_mark)
    wire::write_extension_list(out, cfg.enabled);
}

// ---------------------------------------------------------------- receive

void peer_extensions::on_packet(std::span<const char> packet, send_buffer& out, clock::time_point now) {
  if (std::uint8_t(packet[0]) == wire::msg_extended) return on_extended(packet, out, now);

  // Id 20 with a non-zero second byte is an extended message in the
  // one-byte form once the peer's handshake has set that form up. Such a
  // message has the limits of its extension (a metadata reply is larger than
  // any list); everything else sent as id 20 is a list and has the 100 kB one.
  const bool extended = m_extension_protocol && packet.size() >= 2 && packet[1] != 0;
  if (extended && m_handshake_received) return on_extended(packet, out, now);
  if (packet.size() > std::size_t(wire::max_extensions_size))
    throw protocol_error("'extensions' message size > 100kB");
  if (extended) return;  // one-byte form before the handshake that sets it up
  on_extension_list(packet);
}

void peer_extensions::on_extension_list(std::span<const char> packet) {
  if (!m_extension_protocol) {
    const auto ids = wire::read_extension_list(as_view(packet.subspan(1)));
    for (int i = 0; i < wire::num_extensions; ++i)
      if (ids[i]) m_ids[i] = *ids[i];
    return;
  }
  const wire::extension_handshake hs = wire::read_extension_handshake(as_view(packet.subspan(std::min<std::size_t>(2, packet.size()))));
  m_ids = hs.ids;
  if (hs.has_m) m_handshake_received = true;
  if (m_handshake_received) {
    // A later handshake without "m" must not name an extension by a
    // number the one-byte form cannot carry.
    for (int& id : m_ids)
      if (id > 254) id = -1;
  }
  if (hs.listen_port) m_host.peer_learnt(address(m_host.remote().ip, *hs.listen_port), m_host.remote_id());
}

std::optional<peer_extensions::extended_frame> peer_extensions::frame(std::span<const char> packet) const {
  const bool one_byte = std::uint8_t(packet[0]) == wire::msg_extensions;
  const std::size_t header = one_byte ? wire::one_byte_header : wire::four_byte_header;
  if (packet.size() < header) return std::nullopt;
  const int index = one_byte ? int(std::uint8_t(packet[1])) - 1 : wire::read_int32(packet.data() + 1);
  return extended_frame{index, packet.subspan(header)};
}

void peer_extensions::on_extended(std::span<const char> packet, send_buffer& out, clock::time_point now) {
  const std::optional<extended_frame> f = frame(packet);
  if (!f) throw protocol_error("'extended' message smaller than 2(5) bytes");
  if (!m_host.has_torrent()) throw protocol_error("'extended' message sent before proper handshake");
  if (f->index >= 0 && f->index < wire::num_extensions && !enabled(f->index))
    throw protocol_error("'extended' message using disabled extension");
  switch (f->index) {
    case wire::ext_chat: return on_chat(packet, f->body);
    case wire::ext_metadata: return on_metadata(packet, f->body, out, now);
    case wire::ext_peer_exchange: return on_peer_exchange(packet, f->body, out);
    case wire::ext_listen_port: return on_listen_port(f->body);
    default: throw protocol_error("unknown extended message id: " + std::to_string(f->index));
  }
}

void peer_extensions::on_chat(std::span<const char> packet, std::span<const char> body) {
  if (packet.size() > std::size_t(wire::max_chat_packet)) throw protocol_error("CHAT message larger than 2 kB");
  m_host.chat_message(wire::read_chat(as_view(body)));
}

void peer_extensions::on_metadata(std::span<const char> packet, std::span<const char> body, send_buffer& out,
                                  clock::time_point now) {
  if (packet.size() > std::size_t(wire::max_metadata_packet))
    throw protocol_error("metadata message larger than 500 kB");
  if (body.empty()) throw protocol_error("invalid metadata message");
  const int type = std::uint8_t(body[0]);
  switch (type) {
    case wire::metadata_request: {
      if (body.size() != 3) throw protocol_error("invalid metadata request");
      // Parts past the 256th lie beyond the dictionary.
      const wire::metadata_range r{std::uint8_t(body[1]), std::uint8_t(body[2]) + 1};
      if (!wire::valid_metadata_range(r)) throw protocol_error("invalid metadata request");
      if (m_ids[wire::ext_metadata] < 0) return;  // no number to answer under
      if (out.size() > max_reply_backlog) return;
      if (m_host.has_metadata()) send_metadata(out, r);
      else wire::write_metadata_lacking(out, one_byte_form(), m_ids[wire::ext_metadata]);
      return;
    }
    case wire::metadata_data: {
      if (body.size() < 9) throw protocol_error("invalid metadata message");
      const std::int32_t total = wire::read_int32(body.data() + 1);
      const std::int32_t offset = wire::read_int32(body.data() + 5);
      const std::span<const char> bytes = body.subspan(9);
      if (total > wire::max_metadata_size) throw protocol_error("metadata size larger than 500 kB");
      if (total < 1) throw protocol_error("invalid metadata size");
      if (offset < 0 || offset > total) throw protocol_error("invalid metadata offset");
      if (std::int64_t(offset) + std::int64_t(bytes.size()) > total) throw protocol_error("invalid metadata message");
      if (m_metadata_request) end_metadata_request();
      m_host.metadata_received(bytes, offset, total);
      return;
    }
    case wire::metadata_lacking:
      m_peer_lacks_metadata = now;
      if (m_metadata_request) end_metadata_request();
      return;
    default: throw protocol_error("unknown metadata extension message: " + std::to_string(type));
  }
}

void peer_extensions::on_peer_exchange(std::span<const char> packet, std::span<const char> body,
                                       send_buffer& out) {
  if (packet.size() > std::size_t(wire::max_peer_exchange_packet))
    throw protocol_error("peer exchange message larger than 500 kB");
  if (body.empty()) throw protocol_error("invalid peer exchange message");
  const int type = std::uint8_t(body[0]);
  switch (type) {
    case wire::peer_exchange_request: {
      if (body.size() != 5) throw protocol_error("invalid peer exchange request");
      const std::int32_t count = wire::read_int32(body.data() + 1);
      if (!can_send_peer_exchange()) return;  // no number to answer under
      if (out.size() > max_reply_backlog) return;
      if (count <= 0 || m_host.num_connections() < 2)
        wire::write_peer_exchange_none(out, m_ids[wire::ext_peer_exchange]);
      else
        send_peer_list(out, count);
      return;
    }
    case wire::peer_exchange_list: {
      const std::vector<address> peers = wire::read_peer_list(as_view(body.subspan(1)), m_host.filter());
      m_pex_request_time.reset();
      for (const address& a : peers) m_host.peer_learnt(a, peer_id());
      return;
    }
    case wire::peer_exchange_none: m_pex_request_time.reset(); return;
    default: throw protocol_error("unknown peer exchange extension message: " + std::to_string(type));
  }
}

void peer_extensions::on_listen_port(std::span<const char> body) {
  if (body.size() != 2) throw protocol_error("invalid listen_port message");
  const std::uint16_t port = wire::read_uint16(body.data());
  // Where a peer we dialled listens is known already.
  if (m_host.is_outgoing() || port == 0) return;
  m_host.peer_learnt(address(m_host.remote().ip, port), m_host.remote_id());
}

// ---------------------------------------------------------------- send

void peer_extensions::end_metadata_request() {
  const wire::metadata_range r = m_metadata_request->range;
  m_metadata_request.reset();
  m_host.metadata_request_ended(r);
}

void peer_extensions::second_tick(send_buffer& out, clock::time_point now) {
  if (m_metadata_request && now - m_metadata_request->sent >= request_timeout) end_metadata_request();
  if (m_pex_request_time && now - *m_pex_request_time >= request_timeout) m_pex_request_time.reset();
  if (!m_host.has_torrent()) return;

  // We ask only for what we take: a reply for an extension switched off
  // here would end the connection.
  if (!m_host.has_metadata() && supports(wire::ext_metadata) && enabled(wire::ext_metadata) && !m_metadata_request &&
      (!m_peer_lacks_metadata || now - *m_peer_lacks_metadata >= lacking_retry)) {
    if (const std::optional<wire::metadata_range> r = m_host.choose_metadata_range())
      send_metadata_request(out, *r, now);
  }
  if (m_pex_wanted > 0 && can_send_peer_exchange() && enabled(wire::ext_peer_exchange) &&
      !m_pex_request_time) {
    send_peer_exchange_request(out, m_pex_wanted, now);
    m_pex_wanted = 0;
  }
}

// Peer exchange always takes the one-byte form, so the peer's number for it
// must fit one byte.
bool peer_extensions::can_send_peer_exchange() const {
  return m_ids[wire::ext_peer_exchange] >= 0 && m_ids[wire::ext_peer_exchange] <= 254;
}

bool peer_extensions::send_chat_message(send_buffer& out, std::string_view text) {
  if (!supports(wire::ext_chat)) return false;
  wire::write_chat(out, one_byte_form(), m_ids[wire::ext_chat], text);
  return true;
}

void peer_extensions::send_metadata_request(send_buffer& out, wire::metadata_range r, clock::time_point now) {
  if (!supports(wire::ext_metadata) || !wire::valid_metadata_range(r)) return;
  wire::write_metadata_request(out, one_byte_form(), m_ids[wire::ext_metadata], r);
  m_metadata_request = pending_metadata{r, now};
}

void peer_extensions::send_metadata(send_buffer& out, wire::metadata_range r) {
  if (!supports(wire::ext_metadata) || !wire::valid_metadata_range(r)) return;
  wire::write_metadata(out, one_byte_form(), m_ids[wire::ext_metadata], m_host.metadata(), r);
}

void peer_extensions::send_peer_list(send_buffer& out, int max_count) {
  if (!can_send_peer_exchange()) return;
  const std::vector<address> peers = m_host.outgoing_peers();
  wire::write_peer_list(out, m_ids[wire::ext_peer_exchange], peers, max_count);
}

void peer_extensions::send_peer_exchange_request(send_buffer& out, int count, clock::time_point now) {
  if (!can_send_peer_exchange()) return;
  wire::write_peer_exchange_request(out, m_ids[wire::ext_peer_exchange], count);
  m_pex_request_time = now;
}

}  // namespace engine
