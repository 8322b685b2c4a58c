#pragma once
// The peer wire protocol's bytes: the handshake, the base messages and their
// size rules. All integers are big-endian.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/wire/peer_request.h"
#include "engine/wire/send_buffer.h"

namespace engine::wire {

enum message_id : std::uint8_t {
  msg_choke = 0,
  msg_unchoke = 1,
  msg_interested = 2,
  msg_not_interested = 3,
  msg_have = 4,
  msg_bitfield = 5,
  msg_request = 6,
  msg_piece = 7,
  msg_cancel = 8,
  msg_dht_port = 9,
  msg_extensions = 20,
  msg_extended = 21,
};

inline constexpr std::string_view protocol_name = "BitTorrent protocol";
inline constexpr std::string_view version_query = "version";
inline constexpr std::string_view version_reply = "Quillfern engine version 1.0.0.0\n";
inline constexpr int handshake_size = 68;
inline constexpr int max_packet_size = 1048576;
inline constexpr int max_extensions_size = 100000;
inline constexpr int piece_header_size = 13;  // length, id, piece, start
inline constexpr std::uint16_t default_dht_port = 1504;

// Reserved handshake bytes: what we send, and the bits we look at.
inline constexpr int extension_byte = 5;
inline constexpr std::uint8_t extension_bit = 0x10;
inline constexpr int dht_byte = 7;
inline constexpr std::uint8_t dht_bit = 0x01;

inline std::uint32_t read_uint32(const char* p) {
  const auto* u = reinterpret_cast<const std::uint8_t*>(p);
  return std::uint32_t(u[0]) << 24 | std::uint32_t(u[1]) << 16 | std::uint32_t(u[2]) << 8 | u[3];
}
inline std::int32_t read_int32(const char* p) { return std::int32_t(read_uint32(p)); }
inline std::uint16_t read_uint16(const char* p) {
  const auto* u = reinterpret_cast<const std::uint8_t*>(p);
  return std::uint16_t(u[0] << 8 | u[1]);
}
inline char* write_uint32(char* p, std::uint32_t v) {
  p[0] = char(v >> 24);
  p[1] = char(v >> 16);
  p[2] = char(v >> 8);
  p[3] = char(v);
  return p + 4;
}

void write_handshake(send_buffer& out, const sha1_hash& info_hash, const peer_id& id);
void write_keep_alive(send_buffer& out);
// choke, unchoke, interested, not interested: [0,0,0,1,id]
void write_simple(send_buffer& out, message_id id);
void write_have(send_buffer& out, int piece);
// bit i = piece i, most significant bit first, spare bits zero.
void write_bitfield(send_buffer& out, const std::vector<bool>& pieces);
// request (6) or cancel (8)
void write_request(send_buffer& out, message_id id, const peer_request& r);
// The piece header for `r`; returns room for the r.length data bytes, which
// the caller fills and marks as payload.
char* write_piece(send_buffer& out, const peer_request& r);
void write_dht_port(send_buffer& out, std::uint16_t port);

// Checks the size of a complete packet (id included) against its id, with
// the connection's fixed texts; throws protocol_error. `num_pieces` is -1
// without metadata.
void check_packet_size(int id, int size, int num_pieces);

// Fields of a request or cancel packet (13 bytes, id included).
inline peer_request read_request(const char* packet) {
  return {read_int32(packet + 1), read_int32(packet + 5), read_int32(packet + 9)};
}

}  // namespace engine::wire
