#include "engine/wire/wire_message.h"

#include <string>

#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"

namespace engine::wire {

piece_message decode_piece(std::span<const char> header, const char* data, int length) {
  return {{read_int32(header.data() + 1), read_int32(header.data() + 5), length}, data};
}

message decode(std::span<const char> packet) {
  const char* p = packet.data();
  switch (std::uint8_t(p[0])) {
    case msg_choke: return choke_message{};
    case msg_unchoke: return unchoke_message{};
    case msg_interested: return interested_message{};
    case msg_not_interested: return not_interested_message{};
    case msg_have: return have_message{read_int32(p + 1)};
    case msg_bitfield: return bitfield_message{packet.subspan(1)};
    case msg_request: return request_message{read_request(p)};
    case msg_piece: return decode_piece(packet, p + 9, int(packet.size()) - 9);
    case msg_cancel: return cancel_message{read_request(p)};
    case msg_dht_port: return dht_port_message{read_uint16(p + 1)};
    case msg_extensions:
    case msg_extended: return extension_message{packet};
    default:
      throw protocol_error("unknown message id: " + std::to_string(std::uint8_t(p[0])) +
                           " size: " + std::to_string(packet.size()));
  }
}

}  // namespace engine::wire
