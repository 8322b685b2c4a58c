#include "dht/krpc.h"

#include <iterator>

namespace dht::krpc {

using engine::entry;

namespace {

void append_ip_port(std::string& out, const engine::address& a) {
  const char bytes[6] = {char(a.ip >> 24), char(a.ip >> 16), char(a.ip >> 8), char(a.ip),
                         char(a.port >> 8), char(a.port)};
  out.append(bytes, sizeof bytes);
}

engine::address read_ip_port(const char* p) {
  const auto b = [p](int i) { return std::uint32_t(static_cast<unsigned char>(p[i])); };
  return engine::address(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3), static_cast<std::uint16_t>(b(4) << 8 | b(5)));
}

std::string query(std::string_view name, std::uint8_t t, entry::dictionary_type args) {
  entry msg(entry::dictionary_t);
  msg["a"] = std::move(args);
  msg["q"] = std::string(name);
  msg["t"] = std::string(1, static_cast<char>(t));
  msg["y"] = std::string("q");
  return encode(msg);
}

}  // namespace

std::string encode(const entry& e) {
  std::string out;
  engine::bencode(std::back_inserter(out), e);
  return out;
}

void append_compact_node(std::string& out, const engine::sha1_hash& id, const engine::address& a) {
  out.append(reinterpret_cast<const char*>(id.data()), id.size);
  append_ip_port(out, a);
}

std::string compact_nodes(const std::vector<const Node*>& nodes) {
  std::string out;
  out.reserve(nodes.size() * compact_node_size);
  for (const Node* n : nodes) append_compact_node(out, n->id, n->address);
  return out;
}

std::string compact_peer(const engine::address& a) {
  std::string out;
  append_ip_port(out, a);
  return out;
}

std::vector<CompactNode> decode_nodes(std::string_view s) {
  std::vector<CompactNode> out;
  if (s.empty() || s.size() % compact_node_size != 0) return out;
  out.reserve(s.size() / compact_node_size);
  for (std::size_t i = 0; i < s.size(); i += compact_node_size)
    out.push_back({engine::sha1_hash(s.data() + i), read_ip_port(s.data() + i + 20)});
  return out;
}

std::optional<engine::address> decode_peer(std::string_view s) {
  if (s.size() != compact_peer_size) return std::nullopt;
  return read_ip_port(s.data());
}

const std::string* string_field(const entry& dict, std::string_view key) {
  const entry* e = dict.find_key(key);
  return e && e->type() == entry::string_t ? &e->string() : nullptr;
}

std::optional<engine::sha1_hash> hash_field(const entry& dict, std::string_view key) {
  const std::string* s = string_field(dict, key);
  if (!s || s->size() < engine::sha1_hash::size) return std::nullopt;
  return engine::sha1_hash(s->data());
}

std::string ping_query(std::uint8_t t, const engine::sha1_hash& id) {
  return query("ping", t, {{"id", id.to_string()}});
}

std::string find_node_query(std::uint8_t t, const engine::sha1_hash& id, const engine::sha1_hash& target) {
  return query("find_node", t, {{"id", id.to_string()}, {"target", target.to_string()}});
}

std::string get_peers_query(std::uint8_t t, const engine::sha1_hash& id, const engine::sha1_hash& info_hash) {
  return query("get_peers", t, {{"id", id.to_string()}, {"info_hash", info_hash.to_string()}});
}

std::string announce_peer_query(std::uint8_t t, const engine::sha1_hash& id, const engine::sha1_hash& info_hash,
                                std::uint16_t port, std::string_view token) {
  return query("announce_peer", t,
               {{"id", id.to_string()},
                {"info_hash", info_hash.to_string()},
                {"port", entry::integer_type(port)},
                {"token", std::string(token)}});
}

std::string reply(const entry* t, entry::dictionary_type result) {
  entry msg(entry::dictionary_t);
  msg["r"] = std::move(result);
  if (t) msg["t"] = *t;
  msg["y"] = std::string("r");
  return encode(msg);
}

std::string error(const entry* t, std::string_view text) {
  entry msg(entry::dictionary_t);
  msg["e"] = std::string(text);
  if (t) msg["t"] = *t;
  msg["y"] = std::string("e");
  return encode(msg);
}

}  // namespace dht::krpc
