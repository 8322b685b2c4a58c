// Feeds arbitrary extension packets (ids 20 and 21) to one connection's
// extension handler, with and without metadata to serve, and runs its
// ticks in between.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/net/ip_filter.h"
#include "engine/wire/peer_extensions.h"
#include "engine/wire/protocol_error.h"
#include "engine/wire/send_buffer.h"

namespace {

struct host : engine::peer_extensions::host {
  bool metadata_here = false;
  std::string dictionary = std::string(1000, 'd');
  engine::ip_filter rules;
  engine::peer_id pid;

  engine::extension_settings extension_config() const override { return {}; }
  bool extension_enabled(int) const override { return true; }
  bool has_torrent() const override { return true; }
  engine::address remote() const override { return engine::address(10, 0, 0, 1, 6881); }
  const engine::peer_id& remote_id() const override { return pid; }
  bool is_outgoing() const override { return false; }
  bool has_metadata() const override { return metadata_here; }
  std::string_view metadata() override { return dictionary; }
  std::optional<engine::wire::metadata_range> choose_metadata_range() override {
    return engine::wire::metadata_range{0, 256};
  }
  void metadata_request_ended(engine::wire::metadata_range) override {}
  void metadata_received(std::span<const char> bytes, int offset, int total) override {
    if (offset < 0 || std::int64_t(offset) + std::int64_t(bytes.size()) > total) __builtin_trap();
  }
  void peer_learnt(const engine::address& a, const engine::peer_id&) override {
    if (a.port == 0) __builtin_trap();
  }
  int num_connections() const override { return 3; }
  std::vector<engine::address> outgoing_peers() const override { return {engine::address(1, 2, 3, 4, 5)}; }
  const engine::ip_filter* filter() const override { return &rules; }
  void chat_message(std::string) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  host h;
  h.metadata_here = data[0] & 4;
  engine::peer_extensions ext(h);
  engine::send_buffer out;
  ext.handshake_received(data[0] & 1, data[0] & 2, out);
  auto now = std::chrono::steady_clock::time_point();
  try {
    // Packets as [16-bit length][bytes]; the first byte picks id 20 or 21.
    for (std::size_t at = 1; at + 2 <= size;) {
      const std::size_t n = std::min<std::size_t>(std::size_t(data[at]) << 8 | data[at + 1], size - at - 2);
      at += 2;
      if (n == 0) continue;
      std::string packet(reinterpret_cast<const char*>(data + at), n);
      packet[0] = (packet[0] & 1) ? char(20) : char(21);
      at += n;
      ext.on_packet({packet.data(), packet.size()}, out, now);
      now += std::chrono::seconds(7);
      ext.second_tick(out, now);
      out.consume(out.size());
    }
  } catch (const engine::protocol_error&) {
  }
  return 0;
}
