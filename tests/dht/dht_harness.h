#pragma once
// Drives a dht::NodeCore in memory: an injected clock, a deterministic
// random source and a record of every datagram sent.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "dht/node_core.h"
#include "engine/formats/entry.h"

namespace dht_test {

struct Sent {
  engine::address to;
  std::string bytes;
  engine::entry message() const { return engine::bdecode(bytes); }
};

// An id of 20 equal bytes.
inline engine::sha1_hash id_of(unsigned char fill) {
  engine::sha1_hash h;
  std::memset(h.data(), fill, h.size);
  return h;
}

// An id that differs from `base` first at bit `bit` (0 = most significant).
inline engine::sha1_hash flip(engine::sha1_hash base, int bit) {
  base[static_cast<std::size_t>(bit / 8)] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
  return base;
}

inline std::string bstr(const std::string& s) { return std::to_string(s.size()) + ":" + s; }

// The reply of a node to the query `query`, with the bencoded members
// `result` (keys in order) in "r".
inline std::string reply_to(const Sent& query, const std::string& result) {
  return "d1:rd" + result + "e1:t" + bstr(query.message()["t"].string()) + "1:y1:re";
}

class CoreHarness {
 public:
  explicit CoreHarness(engine::sha1_hash id = id_of(0x11), std::uint32_t start = 1000, std::uint32_t capacity = 40)
      : now(start), core(id, capacity, start, io()) {
    core.set_own_endpoint(engine::address(127, 0, 0, 1, 6881));
    core.set_listen_port(6882);
  }

  dht::NodeCore::Io io() {
    return {[this](const engine::address& to, std::string_view d) {
              if (fail_next_send) {
                fail_next_send = false;
                throw std::runtime_error("send failed");
              }
              sent.push_back({to, std::string(d)});
              return true;
            },
            [this](void* out, std::size_t n) {
              auto* p = static_cast<unsigned char*>(out);
              for (std::size_t i = 0; i < n; ++i) p[i] = random_byte;
            }};
  }

  void receive(const std::string& bytes, const engine::address& from) { core.receive(bytes, from, now); }
  void tick(std::uint32_t advance = 340) {
    now += advance;
    core.tick(now);
  }
  // The last datagram, removed from the record.
  Sent take() {
    Sent s = sent.at(sent.size() - 1);
    sent.pop_back();
    return s;
  }

  bool fail_next_send = false;
  // The queries sent to `to` since the record was last cleared.
  std::vector<Sent> sent_to(const engine::address& to) const {
    std::vector<Sent> out;
    for (const auto& s : sent)
      if (s.to == to) out.push_back(s);
    return out;
  }

  unsigned char random_byte = 0;
  std::uint32_t now;
  std::vector<Sent> sent;
  dht::NodeCore core;
};

}  // namespace dht_test
