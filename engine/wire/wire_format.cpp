#include "engine/wire/wire_format.h"

#include "engine/wire/extension_format.h"
#include "engine/wire/protocol_error.h"

namespace engine::wire {

void write_handshake(send_buffer& out, const sha1_hash& info_hash, const peer_id& id) {
  char* p = out.append_space(handshake_size);
  *p++ = char(protocol_name.size());
  for (char c : protocol_name) *p++ = c;
  for (int i = 0; i < 8; ++i) p[i] = 0;
  p[extension_byte] = char(extension_bit);
  p[dht_byte] = char(dht_bit);
  p += 8;
  for (auto b : info_hash) *p++ = char(b);
  for (auto b : id) *p++ = char(b);
}

void write_keep_alive(send_buffer& out) {
  char* p = out.append_space(4);
  write_uint32(p, 0);
}

void write_simple(send_buffer& out, message_id id) {
  char* p = out.append_space(5);
  p = write_uint32(p, 1);
  *p = char(id);
}

void write_have(send_buffer& out, int piece) {
  char* p = out.append_space(9);
  p = write_uint32(p, 5);
  *p++ = char(msg_have);
  write_uint32(p, std::uint32_t(piece));
}

void write_bitfield(send_buffer& out, const std::vector<bool>& pieces) {
  const std::size_t bytes = (pieces.size() + 7) / 8;
  char* p = out.append_space(5 + bytes);
  p = write_uint32(p, std::uint32_t(1 + bytes));
  *p++ = char(msg_bitfield);
  for (std::size_t i = 0; i < bytes; ++i) p[i] = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i)
    if (pieces[i]) p[i / 8] = char(std::uint8_t(p[i / 8]) | (0x80 >> (i % 8)));
}

void write_request(send_buffer& out, message_id id, const peer_request& r) {
  char* p = out.append_space(17);
  p = write_uint32(p, 13);
  *p++ = char(id);
  p = write_uint32(p, std::uint32_t(r.piece));
  p = write_uint32(p, std::uint32_t(r.start));
  write_uint32(p, std::uint32_t(r.length));
}

char* write_piece(send_buffer& out, const peer_request& r) {
  char* p = out.append_space(std::size_t(piece_header_size) + std::size_t(r.length));
  p = write_uint32(p, std::uint32_t(9 + r.length));
  *p++ = char(msg_piece);
  p = write_uint32(p, std::uint32_t(r.piece));
  return write_uint32(p, std::uint32_t(r.start));
}

void write_dht_port(send_buffer& out, std::uint16_t port) {
  char* p = out.append_space(7);
  p = write_uint32(p, 3);
  *p++ = char(msg_dht_port);
  *p++ = char(port >> 8);
  *p = char(port);
}

namespace {

void expect(int size, int wanted, const char* text) {
  if (size != wanted) throw protocol_error(text);
}

}  // namespace

void check_packet_size(int id, int size, int num_pieces) {
  switch (id) {
    case msg_choke: return expect(size, 1, "'choke' message size != 1");
    case msg_unchoke: return expect(size, 1, "'unchoke' message size != 1");
    case msg_interested: return expect(size, 1, "'interested' message size != 1");
    case msg_not_interested: return expect(size, 1, "'not interested' message size != 1");
    case msg_have: return expect(size, 5, "'have' message size != 5");
    case msg_bitfield:
      if (num_pieces >= 0) expect(size, 1 + (num_pieces + 7) / 8, "bitfield with invalid size");
      return;
    case msg_request: return expect(size, 13, "'request' message size != 13");
    case msg_piece:
      if (size < 9) throw protocol_error("invalid piece packet");
      return;
    case msg_cancel: return expect(size, 13, "'cancel' message size != 13");
    case msg_dht_port: return expect(size, 3, "'dht_port' message size != 3");
    case msg_extensions:
      // Id 20 also carries extended messages in the one-byte form, a whole
      // metadata reply among them; which it is shows only in the packet's
      // second byte, so the extension handler applies the 100 kB limit of
      // the lists itself.
      if (size > max_metadata_packet) throw protocol_error("'extensions' message size > 100kB");
      return;
    case msg_extended: return;
    default:
      throw protocol_error("unknown message id: " + std::to_string(id) + " size: " + std::to_string(size));
  }
}

}  // namespace engine::wire
