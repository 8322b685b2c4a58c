#pragma once
// KRPC: the bencoded messages of the DHT, their compact encodings and the
// careful reading of fields from messages that may be hostile.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dht/routing_table.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"

namespace dht::krpc {

inline constexpr std::size_t compact_node_size = 26;
inline constexpr std::size_t compact_peer_size = 6;
// Tokens handed out by other nodes are echoed as given, up to this length.
inline constexpr std::size_t max_token_size = 64;

// Error texts of the query handlers.
inline constexpr const char* ping_missing_id = "ping: 'id' entry not found";
inline constexpr const char* ping_internal = "ping: fatal internal error";
inline constexpr const char* find_node_missing_target = "find_node: 'target' entry not found";
inline constexpr const char* find_node_internal = "find_node:\tfatal internal error";
inline constexpr const char* get_peers_missing_info_hash = "get_peers: 'info_hash' entry not found";
inline constexpr const char* get_peers_internal = "get_peers:\tfatal internal error";
inline constexpr const char* invalid_write_token = "Invalid write token";
inline constexpr const char* announce_missing_port = "announce_peer: 'port' entry not found";
inline constexpr const char* announce_missing_id = "announce_peer: 'id' entry not found";
inline constexpr const char* announce_missing_info_hash = "announce_peer: 'info_hash' entry not found";
inline constexpr const char* announce_no_resources = "announce_peer: no more free resources";
inline constexpr const char* announce_internal = "announce_peer: fatal internal error";

struct CompactNode {
  engine::sha1_hash id;
  engine::address address;
};

// 20-byte id, IPv4 address and port, both in network byte order.
void append_compact_node(std::string& out, const engine::sha1_hash& id, const engine::address& a);
std::string compact_nodes(const std::vector<const Node*>& nodes);
// IPv4 address and port in network byte order.
std::string compact_peer(const engine::address& a);
// Empty unless the length is a non-zero multiple of 26.
std::vector<CompactNode> decode_nodes(std::string_view s);
// None unless exactly 6 bytes.
std::optional<engine::address> decode_peer(std::string_view s);

// The first 20 bytes of a string member of `dict`; none when the member is
// missing, no string, or shorter than 20 bytes.
std::optional<engine::sha1_hash> hash_field(const engine::entry& dict, std::string_view key);
// A string member, or none.
const std::string* string_field(const engine::entry& dict, std::string_view key);

// Queries: {"a": args, "q": name, "t": one byte, "y": "q"}.
std::string ping_query(std::uint8_t t, const engine::sha1_hash& id);
std::string find_node_query(std::uint8_t t, const engine::sha1_hash& id, const engine::sha1_hash& target);
std::string get_peers_query(std::uint8_t t, const engine::sha1_hash& id, const engine::sha1_hash& info_hash);
std::string announce_peer_query(std::uint8_t t, const engine::sha1_hash& id, const engine::sha1_hash& info_hash,
                                std::uint16_t port, std::string_view token);

// {"r": result, "t": copy of the query's "t", "y": "r"}; no "t" when the
// query had none.
std::string reply(const engine::entry* t, engine::entry::dictionary_type result);
// {"e": text, "t": copy, "y": "e"}.
std::string error(const engine::entry* t, std::string_view text);

std::string encode(const engine::entry& e);

}  // namespace dht::krpc
