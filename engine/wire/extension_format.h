#pragma once
// The bytes of the peer wire extensions: the two extension lists, chat,
// metadata exchange, peer exchange and the listen port. Free of I/O: the
// writers append to a send_buffer, the readers take one complete packet
// and throw protocol_error with the connection's fixed texts.
//
// An extension message comes in one of two frames: the one-byte form (id 20,
// then one byte naming the extension in the receiver's numbering, which is
// its index + 1) once the peer's extension handshake has arrived, else the
// four-byte form (id 21, then the receiver's index as a 32-bit integer).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/net/address.h"
#include "engine/wire/send_buffer.h"

namespace engine {

class ip_filter;

namespace wire {

enum extension_index : int {
  ext_chat = 0,
  ext_metadata = 1,
  ext_peer_exchange = 2,
  ext_listen_port = 3,
  num_extensions = 4,
};

// The names in the older list and in the extension handshake, by index.
inline constexpr std::array<std::string_view, num_extensions> extension_names = {"chat", "metadata",
                                                                                 "peer_exchange", "listen_port"};
inline constexpr std::array<std::string_view, num_extensions> extension_protocol_names = {
    "QF_chat", "QF_metadata", "QF_peer_exchange", "QF_listen_port"};

using extension_switches = std::array<bool, num_extensions>;
// The peer's number for each extension, -1 when it does not support it.
using extension_ids = std::array<int, num_extensions>;
inline constexpr extension_ids no_extension_ids = {-1, -1, -1, -1};

inline constexpr int one_byte_header = 2;   // id 20, extension
inline constexpr int four_byte_header = 5;  // id 21, 32-bit index

inline constexpr int max_chat_packet = 2048;
// The largest info dictionary we take from the swarm.
inline constexpr int max_metadata_size = 512000;
// A reply that carries the whole of the largest dictionary must fit.
inline constexpr int max_metadata_packet = max_metadata_size + four_byte_header + 9;
inline constexpr int max_peer_exchange_packet = 512000;

enum metadata_type : std::uint8_t { metadata_request = 0, metadata_data = 1, metadata_lacking = 2 };
enum peer_exchange_type : std::uint8_t { peer_exchange_request = 0, peer_exchange_list = 1, peer_exchange_none = 2 };

// A part of the info dictionary in 256ths of its size: `count` parts from
// part `start`.
struct metadata_range {
  int start = 0;
  int count = 0;
  friend bool operator==(const metadata_range&, const metadata_range&) = default;
};

// The bytes [first, last) of a dictionary of `size` bytes that `r` stands
// for: ceil(start * size / 256) up to ceil((start + count) * size / 256).
struct byte_range {
  std::int64_t first;
  std::int64_t last;
};
byte_range metadata_bytes(metadata_range r, std::int64_t size);
// Whether `r` lies inside the 256 parts and is not empty.
inline bool valid_metadata_range(metadata_range r) {
  return r.start >= 0 && r.count >= 1 && r.start + r.count <= 256;
}

// --- the lists sent right after the handshake

// Id 20, then a dictionary of each enabled extension's older name -> index.
void write_extension_list(send_buffer& out, const extension_switches& enabled);
// Id 20, a zero byte, then {"m": {name: index + 1}, "p": listen port,
// "v": user agent}.
void write_extension_handshake(send_buffer& out, const extension_switches& enabled, std::uint16_t listen_port,
                               std::string_view user_agent);

// The peer's older list: the number given for each older name present.
std::array<std::optional<int>, num_extensions> read_extension_list(std::string_view body);

struct extension_handshake {
  // Set for the names present (with a usable number), -1 for the others.
  extension_ids ids = no_extension_ids;
  // "m" was present: the peer takes the one-byte form from now on.
  bool has_m = false;
  // "p": where the peer listens, when it gave a usable port.
  std::optional<std::uint16_t> listen_port;
};
// `body` is the dictionary after id 20 and the zero byte.
extension_handshake read_extension_handshake(std::string_view body);

// --- extended messages; `peer_ext` is the peer's number for the extension

// The frame of an extended message with a body of `body_size` bytes;
// returns where the body goes.
char* write_extended_header(send_buffer& out, bool one_byte_form, int peer_ext, std::size_t body_size);

void write_chat(send_buffer& out, bool one_byte_form, int peer_ext, std::string_view text);
// The text of a chat body {"msg": text}.
std::string read_chat(std::string_view body);

void write_metadata_request(send_buffer& out, bool one_byte_form, int peer_ext, metadata_range r);
// The bytes of `r` out of the whole dictionary `metadata`, with its size
// and their offset.
void write_metadata(send_buffer& out, bool one_byte_form, int peer_ext, std::string_view metadata,
                    metadata_range r);
void write_metadata_lacking(send_buffer& out, bool one_byte_form, int peer_ext);

// Peer exchange always uses the one-byte form.
void write_peer_exchange_request(send_buffer& out, int peer_ext, int count);
// A list of at most `max_count` of `peers`, as {"ip": dotted, "port": n}.
void write_peer_list(send_buffer& out, int peer_ext, std::span<const address> peers, int max_count);
void write_peer_exchange_none(send_buffer& out, int peer_ext);
// The addresses of a list body (after the type byte) that can be dialled:
// dotted quads only, ports 1..65535, and not blocked by `filter` (when
// given). Other entries are skipped.
std::vector<address> read_peer_list(std::string_view body, const ip_filter* filter);

void write_listen_port(send_buffer& out, bool one_byte_form, int peer_ext, std::uint16_t port);

}  // namespace wire
}  // namespace engine
