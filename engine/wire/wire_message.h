#pragma once
// A peer's message after its one decode step: the connection acts on these
// typed values only, never on the packet bytes. Spans point into the
// receive buffer and stay valid while the message is acted on.

#include <cstdint>
#include <span>
#include <variant>

#include "engine/wire/peer_request.h"

namespace engine::wire {

struct choke_message {};
struct unchoke_message {};
struct interested_message {};
struct not_interested_message {};
struct have_message {
  std::int32_t piece;
};
struct bitfield_message {
  std::span<const char> bits;  // bit i = piece i, most significant bit first
  bool has(int i) const { return (std::uint8_t(bits[std::size_t(i / 8)]) & (0x80 >> (i % 8))) != 0; }
  int size() const { return int(bits.size()) * 8; }
};
struct request_message {
  peer_request r;
};
struct piece_message {
  peer_request r;  // r.length is the number of data bytes
  const char* data;
};
struct cancel_message {
  peer_request r;
};
struct dht_port_message {
  std::uint16_t port;
};
// Ids 20 and 21, whole (packet[0] is the id): the extensions decode their own.
struct extension_message {
  std::span<const char> packet;
};

using message = std::variant<choke_message, unchoke_message, interested_message, not_interested_message, have_message,
                             bitfield_message, request_message, piece_message, cancel_message, dht_port_message,
                             extension_message>;

// A piece message from its first 9 bytes (id, piece, start) and its block
// of `length` bytes at `data`, which need not follow the header.
piece_message decode_piece(std::span<const char> header, const char* data, int length);

// Decodes a complete packet (packet[0] is the id) whose size check_packet_size
// has passed; an unknown id throws protocol_error.
message decode(std::span<const char> packet);

}  // namespace engine::wire
