// KRPC dispatch of the DHT node on hostile datagrams: queries, replies to
// contacts that await one, and maintenance ticks in between.
//
// Input: one flag byte (bits 0-1: which of four contacts sends, bit 2: tick
// afterwards, bit 3: the datagram comes twice), then the datagram.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dht/node_core.h"

namespace {

struct Fixture {
  std::uint32_t now = 0xFFFF0000u;  // the clock wraps while ticking
  std::uint8_t counter = 0;
  dht::NodeCore core;

  Fixture()
      : core(engine::sha1_hash::from_bytes("fuzzing-node-id-0001"), 40, now,
             {[](const engine::address&, std::string_view d) { return !d.empty(); },
              [this](void* out, std::size_t n) {
                auto* p = static_cast<unsigned char*>(out);
                for (std::size_t i = 0; i < n; ++i) p[i] = ++counter;
              }}) {
    core.set_own_endpoint(engine::address(127, 0, 0, 1, 6881));
    core.add_info_hash(engine::sha1_hash::from_bytes("own-public-info-hash"), false, true, now);
    core.add_info_hash(engine::sha1_hash::from_bytes("own-private-infohash"), true, true, now);
    for (std::uint8_t i = 0; i < 4; ++i)
      core.add_node(sender(i), i % 2 ? engine::sha1_hash::from_bytes("own-public-info-hash") : engine::sha1_hash(), now);
    // Each contact gets its ping (transaction byte 2) and awaits the reply.
    for (int i = 0; i < 4; ++i) {
      now += dht::NodeCore::ping_after + 40000;
      core.tick(now);
    }
  }
  static engine::address sender(std::uint8_t i) { return engine::address(127, 0, 2, static_cast<std::uint8_t>(i + 1), 7000); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Fixture f;
  const std::uint8_t flags = data[0];
  const std::string_view datagram(reinterpret_cast<const char*>(data + 1), size - 1);
  const engine::address from = Fixture::sender(flags & 3);
  f.core.receive(datagram, from, f.now);
  if (flags & 8) f.core.receive(datagram, from, f.now);
  if (flags & 4) {
    f.now += 91000;
    f.core.tick(f.now);
  }
  return 0;
}
