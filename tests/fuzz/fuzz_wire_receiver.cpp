// Feeds arbitrary bytes, in arbitrary chunks, to the receive side of a peer
// connection and to the packet size rules. Blocks of piece packets go to
// places of their own as the connection does it: a fresh buffer, a room
// lent before the read (of any size, also too small for the block), or the
// receive buffer. What the handler is given, put back together, must be the
// stream that was sent.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"
#include "engine/wire/wire_receiver.h"

namespace {

void put_size(std::string& out, std::size_t n) {
  const char b[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  out.append(b, 4);
}

struct sink : engine::wire_receiver::handler {
  engine::wire_receiver* receiver = nullptr;
  std::uint8_t modes = 0;  // how the next blocks are placed, two bits each
  int turn = 0;
  // A room the receiver lent that a block took: it is the handler's now.
  std::unique_ptr<char[]>* rooms = nullptr;
  std::unique_ptr<char[]> incoming;
  char* place = nullptr;
  std::string stream;  // the packets as received, with their size prefixes

  void on_version_query() override {}
  void on_info_hash(const std::uint8_t*, const engine::sha1_hash&) override {}
  void on_peer_id(const engine::peer_id&) override {}
  void on_packet(std::span<const char> p) override {
    put_size(stream, p.size());
    stream.append(p.data(), p.size());
    engine::wire::check_packet_size(std::uint8_t(p[0]), int(p.size()), 77);
  }
  char* block_destination(std::span<const char>, int length) override {
    const int mode = (modes >> (2 * (turn++ % 4))) & 3;
    incoming.reset();
    place = nullptr;
    if (mode == 0) return nullptr;
    const auto lent = receiver->first_lent();
    std::unique_ptr<char[]>* taken = nullptr;
    for (int i = 0; i < 2; ++i)
      if (!lent.empty() && rooms[i] && rooms[i].get() == lent.data()) taken = &rooms[i];
    if (mode >= 2 && taken) {
      incoming = std::move(*taken);  // taken as it is, whatever its size
    } else {
      incoming = std::make_unique<char[]>(std::size_t(length));
    }
    place = incoming.get();
    return place;
  }
  void on_piece_received(std::span<const char> header, int length) override {
    put_size(stream, header.size() + std::size_t(length));
    stream.append(header.data(), header.size());
    stream.append(place, std::size_t(length));
  }
};

// The packets of `data` from a packet size on, as the receiver should see
// them: keep-alives leave nothing.
std::string packets_of(const std::uint8_t* data, std::size_t size) {
  std::string out;
  std::size_t at = 0;
  while (at + 4 <= size) {
    const std::uint32_t n = engine::wire::read_uint32(reinterpret_cast<const char*>(data + at));
    if (n > std::uint32_t(engine::wire::max_packet_size) || at + 4 + n > size) break;
    if (n > 0) out.append(reinterpret_cast<const char*>(data + at), 4 + n);
    at += 4 + n;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  const bool from_packets = data[0] & 0x80;
  // Sizes of the rooms lent: 0 (none), or 1 to 64 bytes, or a 16 KiB block.
  const auto room_size = [](std::uint8_t b) -> std::size_t { return b < 16 ? 0 : b < 240 ? b % 64 + 1 : 16384; };
  const std::size_t sizes[2] = {room_size(data[1]), room_size(data[2])};
  const std::uint8_t* in = data + 4;
  const std::size_t in_size = size - 4;

  engine::wire_receiver r(from_packets ? engine::wire_receiver::read_packet_size
                                       : engine::wire_receiver::read_protocol_length);
  std::unique_ptr<char[]> rooms[2];
  sink s;
  s.receiver = &r;
  s.modes = data[3];
  s.rooms = rooms;
  bool refused = false;
  try {
    for (std::size_t at = 0; at < in_size;) {
      // Rooms taken by a block are the block's; the others are lent again.
      for (int i = 0; i < 2; ++i)
        if (!rooms[i] && sizes[i] > 0) rooms[i] = std::make_unique<char[]>(sizes[i]);
      const auto room = [&](int i) { return sizes[i] > 0 ? std::span<char>(rooms[i].get(), sizes[i]) : std::span<char>(); };
      r.lend(room(0), room(1));
      std::array<std::span<char>, engine::wire_receiver::max_places> places;
      const std::size_t count = r.read_places(places);
      std::size_t n = 0;
      const std::size_t want = std::min(chunk, in_size - at);
      for (std::size_t k = 0; k < count && n < want; ++k) {
        const std::size_t take = std::min(places[k].size(), want - n);
        std::memcpy(places[k].data(), in + at + n, take);
        n += take;
      }
      if (n == 0) __builtin_trap();  // nowhere to put bytes: the stream would stall
      r.commit(n);
      at += n;
      r.parse(s);
    }
  } catch (const engine::protocol_error&) {
    refused = true;
  }
  if (from_packets) {
    // Whatever was handed over is the stream as sent; without a refusal,
    // nothing complete is held back.
    const std::string sent = packets_of(in, in_size);
    if (s.stream.size() > sent.size() || sent.compare(0, s.stream.size(), s.stream) != 0) __builtin_trap();
    if (!refused && s.stream.size() != sent.size()) __builtin_trap();
  }
  return 0;
}
