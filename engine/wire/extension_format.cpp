#include "engine/wire/extension_format.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "engine/formats/entry.h"
#include "engine/net/ip_filter.h"
#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"

namespace engine::wire {

namespace {

std::string encoded(const entry& e) {
  std::string s;
  bencode(std::back_inserter(s), e);
  return s;
}

// Decodes a bencoded body, turning its faults into the extension's texts.
entry decode(std::string_view body, const char* invalid_text) {
  try {
    return bdecode(body);
  } catch (const invalid_encoding&) {
    throw protocol_error(invalid_text);
  }
}

// The integer at `key` of `d` inside [low, high], -1 outside it, nothing
// when absent; a value of another kind throws type_error.
std::optional<int> number_at(const entry& d, std::string_view key, std::int64_t low, std::int64_t high) {
  const entry* e = d.find_key(key);
  if (!e) return std::nullopt;
  const std::int64_t v = e->integer();
  if (v < low || v > high) return -1;
  return int(v);
}

constexpr const char* invalid_extensions = "'extensions' packet contains invalid bencoding";
constexpr const char* incorrect_extensions = "'extensions' packet contains incorrect types";

}  // namespace

byte_range metadata_bytes(metadata_range r, std::int64_t size) {
  auto part_start = [size](std::int64_t part) { return (part * size + 255) / 256; };
  return {part_start(r.start), part_start(std::int64_t(r.start) + r.count)};
}

// --- extension lists

void write_extension_list(send_buffer& out, const extension_switches& enabled) {
  entry list(entry::dictionary_t);
  for (int i = 0; i < num_extensions; ++i)
    if (enabled[i]) list[extension_names[i]] = entry::integer_type(i);
  const std::string body = encoded(list);
  char* p = out.append_space(5 + body.size());
  p = write_uint32(p, std::uint32_t(1 + body.size()));
  *p++ = char(msg_extensions);
  std::memcpy(p, body.data(), body.size());
}

void write_extension_handshake(send_buffer& out, const extension_switches& enabled, std::uint16_t listen_port,
                               std::string_view user_agent) {
  entry handshake(entry::dictionary_t);
  entry& m = handshake["m"];
  m = entry(entry::dictionary_t);
  for (int i = 0; i < num_extensions; ++i)
    if (enabled[i]) m[extension_protocol_names[i]] = entry::integer_type(i + 1);
  handshake["p"] = entry::integer_type(listen_port);
  handshake["v"] = std::string(user_agent);
  const std::string body = encoded(handshake);
  char* p = out.append_space(6 + body.size());
  p = write_uint32(p, std::uint32_t(2 + body.size()));
  *p++ = char(msg_extensions);
  *p++ = 0;
  std::memcpy(p, body.data(), body.size());
}

std::array<std::optional<int>, num_extensions> read_extension_list(std::string_view body) {
  const entry list = decode(body, invalid_extensions);
  std::array<std::optional<int>, num_extensions> ids;
  try {
    if (list.type() != entry::dictionary_t) throw protocol_error(incorrect_extensions);
    for (int i = 0; i < num_extensions; ++i) ids[i] = number_at(list, extension_names[i], 0, INT_MAX);
  } catch (const type_error&) {
    throw protocol_error(incorrect_extensions);
  }
  return ids;
}

extension_handshake read_extension_handshake(std::string_view body) {
  const entry handshake = decode(body, invalid_extensions);
  extension_handshake result;
  try {
    if (handshake.type() != entry::dictionary_t) throw protocol_error(incorrect_extensions);
    const entry* m = handshake.find_key("m");
    if (m && m->type() != entry::dictionary_t) throw protocol_error(incorrect_extensions);
    result.has_m = m != nullptr;
    // Numbers in "m" name the extension in the one-byte form, so they must
    // fit one byte; 0 means the peer has it switched off.
    const entry& names = m ? *m : handshake;
    const std::int64_t highest = m ? 255 : INT_MAX;
    for (int i = 0; i < num_extensions; ++i) {
      const std::optional<int> n = number_at(names, extension_protocol_names[i], 1, highest);
      result.ids[i] = n && *n > 0 ? *n - 1 : -1;
    }
    if (const std::optional<int> port = number_at(handshake, "p", 1, 65535); port && *port > 0)
      result.listen_port = std::uint16_t(*port);
  } catch (const type_error&) {
    throw protocol_error(incorrect_extensions);
  }
  return result;
}

// --- extended messages

char* write_extended_header(send_buffer& out, bool one_byte_form, int peer_ext, std::size_t body_size) {
  const std::size_t header = one_byte_form ? one_byte_header : four_byte_header;
  char* p = out.append_space(4 + header + body_size);
  p = write_uint32(p, std::uint32_t(header + body_size));
  if (one_byte_form) {
    *p++ = char(msg_extensions);
    *p++ = char(peer_ext + 1);
  } else {
    *p++ = char(msg_extended);
    p = write_uint32(p, std::uint32_t(peer_ext));
  }
  return p;
}

void write_chat(send_buffer& out, bool one_byte_form, int peer_ext, std::string_view text) {
  entry chat(entry::dictionary_t);
  chat["msg"] = std::string(text);
  const std::string body = encoded(chat);
  char* p = write_extended_header(out, one_byte_form, peer_ext, body.size());
  std::memcpy(p, body.data(), body.size());
}

std::string read_chat(std::string_view body) {
  const entry chat = decode(body, "invalid bencoding in CHAT message");
  try {
    return chat["msg"].string();
  } catch (const type_error&) {
    throw protocol_error("invalid types in bencoded CHAT message");
  }
}

void write_metadata_request(send_buffer& out, bool one_byte_form, int peer_ext, metadata_range r) {
  char* p = write_extended_header(out, one_byte_form, peer_ext, 3);
  p[0] = char(metadata_request);
  p[1] = char(r.start);
  p[2] = char(r.count - 1);
}

void write_metadata(send_buffer& out, bool one_byte_form, int peer_ext, std::string_view metadata,
                    metadata_range r) {
  const byte_range bytes = metadata_bytes(r, std::int64_t(metadata.size()));
  const std::size_t n = std::size_t(bytes.last - bytes.first);
  char* p = write_extended_header(out, one_byte_form, peer_ext, 9 + n);
  *p++ = char(metadata_data);
  p = write_uint32(p, std::uint32_t(metadata.size()));
  p = write_uint32(p, std::uint32_t(bytes.first));
  std::memcpy(p, metadata.data() + bytes.first, n);
}

void write_metadata_lacking(send_buffer& out, bool one_byte_form, int peer_ext) {
  *write_extended_header(out, one_byte_form, peer_ext, 1) = char(metadata_lacking);
}

void write_peer_exchange_request(send_buffer& out, int peer_ext, int count) {
  char* p = write_extended_header(out, true, peer_ext, 5);
  *p++ = char(peer_exchange_request);
  write_uint32(p, std::uint32_t(count));
}

void write_peer_list(send_buffer& out, int peer_ext, std::span<const address> peers, int max_count) {
  entry list(entry::list_t);
  const std::size_t n = std::min(peers.size(), std::size_t(std::max(max_count, 0)));
  for (const address& a : peers.first(n)) {
    entry::dictionary_type peer;
    peer.emplace("ip", entry(a.as_string()));
    peer.emplace("port", entry(entry::integer_type(a.port)));
    list.list().emplace_back(std::move(peer));
  }
  const std::string body = encoded(list);
  char* p = write_extended_header(out, true, peer_ext, 1 + body.size());
  *p++ = char(peer_exchange_list);
  std::memcpy(p, body.data(), body.size());
}

void write_peer_exchange_none(send_buffer& out, int peer_ext) {
  *write_extended_header(out, true, peer_ext, 1) = char(peer_exchange_none);
}

std::vector<address> read_peer_list(std::string_view body, const ip_filter* filter) {
  const entry list = decode(body, "invalid peer exchange message");
  if (list.type() != entry::list_t) throw protocol_error("invalid peer exchange message");
  std::vector<address> peers;
  for (const entry& e : list.list()) {
    if (e.type() != entry::dictionary_t) continue;
    const entry* ip = e.find_key("ip");
    const entry* port = e.find_key("port");
    if (!ip || !port || ip->type() != entry::string_t || port->type() != entry::int_t) continue;
    if (port->integer() < 1 || port->integer() > 65535) continue;
    const std::optional<address> a = address::parse_dotted(ip->string(), std::uint16_t(port->integer()));
    if (!a || a->ip == 0) continue;
    if (filter && (filter->access(*a) & ip_filter::blocked)) continue;
    peers.push_back(*a);
  }
  return peers;
}

void write_listen_port(send_buffer& out, bool one_byte_form, int peer_ext, std::uint16_t port) {
  char* p = write_extended_header(out, one_byte_form, peer_ext, 2);
  p[0] = char(port >> 8);
  p[1] = char(port);
}

}  // namespace engine::wire
