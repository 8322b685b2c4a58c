// Feeds arbitrary bytes, in arbitrary chunks, to the receive side of a peer
// connection and to the packet size rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"
#include "engine/wire/wire_receiver.h"

namespace {

struct sink : engine::wire_receiver::handler {
  void on_version_query() override {}
  void on_info_hash(const std::uint8_t*, const engine::sha1_hash&) override {}
  void on_peer_id(const engine::peer_id&) override {}
  void on_packet(std::span<const char> p) override {
    engine::wire::check_packet_size(std::uint8_t(p[0]), int(p.size()), 77);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  engine::wire_receiver r(data[0] & 0x80 ? engine::wire_receiver::read_packet_size
                                         : engine::wire_receiver::read_protocol_length);
  sink s;
  try {
    for (std::size_t at = 1; at < size;) {
      auto room = r.read_space();
      const std::size_t n = std::min({room.size(), chunk, size - at});
      std::memcpy(room.data(), data + at, n);
      r.commit(n);
      at += n;
      r.parse(s);
    }
  } catch (const engine::protocol_error&) {
  }
  return 0;
}
