#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "engine/wire/extension_format.h"
#include "engine/wire/protocol_error.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_format.h"
#include "engine/wire/wire_receiver.h"

using namespace engine;

namespace {

std::string bytes(const send_buffer& b) { return std::string(b.data(), b.size()); }
std::string raw(std::initializer_list<int> v) {
  std::string s;
  for (int c : v) s.push_back(char(c));
  return s;
}

sha1_hash hash_of(char c) {
  sha1_hash h;
  for (auto& b : h) b = std::uint8_t(c);
  return h;
}

struct recorder : wire_receiver::handler {
  int version_queries = 0;
  std::vector<std::uint8_t> reserved;
  sha1_hash info_hash;
  peer_id id;
  std::vector<std::string> packets;
  void on_version_query() override { ++version_queries; }
  void on_info_hash(const std::uint8_t* r, const sha1_hash& ih) override {
    reserved.assign(r, r + 8);
    info_hash = ih;
  }
  void on_peer_id(const peer_id& p) override { id = p; }
  void on_packet(std::span<const char> p) override { packets.emplace_back(p.data(), p.size()); }
  std::vector<std::pair<int, int>> headers;
  void on_packet_header(int id, int size) override { headers.emplace_back(id, size); }
};

void feed(wire_receiver& r, recorder& h, const std::string& data, std::size_t chunk = SIZE_MAX) {
  for (std::size_t at = 0; at < data.size();) {
    auto room = r.read_space();
    const std::size_t n = std::min({room.size(), chunk, data.size() - at});
    std::memcpy(room.data(), data.data() + at, n);
    r.commit(n);
    at += n;
    r.parse(h);
  }
}

std::string error_of(const std::string& data, wire_receiver::state start = wire_receiver::read_protocol_length) {
  wire_receiver r(start);
  recorder h;
  try {
    feed(r, h, data);
  } catch (const protocol_error& e) {
    return e.what();
  }
  return "";
}

std::string handshake(const sha1_hash& ih, const peer_id& id) {
  send_buffer b;
  wire::write_handshake(b, ih, id);
  return bytes(b);
}

}  // namespace

TEST(WireFormat, HandshakeBytes) {
  const std::string h = handshake(hash_of('I'), hash_of('P'));
  ASSERT_EQ(h.size(), 68u);
  EXPECT_EQ(h.substr(0, 20), "\x13" "BitTorrent protocol");
  EXPECT_EQ(h.substr(20, 8), raw({0, 0, 0, 0, 0, 0x10, 0, 0x01}));
  EXPECT_EQ(h.substr(28, 20), std::string(20, 'I'));
  EXPECT_EQ(h.substr(48, 20), std::string(20, 'P'));
}

TEST(WireFormat, BaseMessageBytes) {
  send_buffer b;
  wire::write_simple(b, wire::msg_choke);
  wire::write_simple(b, wire::msg_unchoke);
  wire::write_simple(b, wire::msg_interested);
  wire::write_simple(b, wire::msg_not_interested);
  EXPECT_EQ(bytes(b), raw({0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 2, 0, 0, 0, 1, 3}));
  send_buffer c;
  wire::write_have(c, 0x01020304);
  wire::write_keep_alive(c);
  wire::write_dht_port(c, 6881);
  EXPECT_EQ(bytes(c), raw({0, 0, 0, 5, 4, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 3, 9, 0x1a, 0xe1}));
  send_buffer d;
  wire::write_request(d, wire::msg_request, {1, 0x4000, 0x4000});
  wire::write_request(d, wire::msg_cancel, {2, 0, 5});
  EXPECT_EQ(bytes(d), raw({0, 0, 0, 13, 6, 0, 0, 0, 1, 0, 0, 0x40, 0, 0, 0, 0x40, 0,
                           0, 0, 0, 13, 8, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 5}));
  send_buffer e;
  char* data = wire::write_piece(e, {3, 16, 4});
  std::memcpy(data, "abcd", 4);
  EXPECT_EQ(bytes(e), raw({0, 0, 0, 13, 7, 0, 0, 0, 3, 0, 0, 0, 16}) + "abcd");
}

TEST(WireFormat, BitfieldMostSignificantBitFirst) {
  send_buffer b;
  std::vector<bool> have(10, false);
  have[0] = have[7] = have[8] = true;
  wire::write_bitfield(b, have);
  EXPECT_EQ(bytes(b), raw({0, 0, 0, 3, 5, 0x81, 0x80}));
}

TEST(WireFormat, PacketSizeTexts) {
  auto text = [](int id, int size, int pieces = 10) -> std::string {
    try {
      wire::check_packet_size(id, size, pieces);
    } catch (const protocol_error& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(text(0, 2), "'choke' message size != 1");
  EXPECT_EQ(text(1, 0), "'unchoke' message size != 1");
  EXPECT_EQ(text(2, 5), "'interested' message size != 1");
  EXPECT_EQ(text(3, 5), "'not interested' message size != 1");
  EXPECT_EQ(text(4, 4), "'have' message size != 5");
  EXPECT_EQ(text(5, 4), "bitfield with invalid size");
  EXPECT_EQ(text(5, 3), "");
  EXPECT_EQ(text(5, 99, -1), "");  // without metadata any size is taken
  EXPECT_EQ(text(6, 14), "'request' message size != 13");
  EXPECT_EQ(text(8, 12), "'cancel' message size != 13");
  EXPECT_EQ(text(9, 5), "'dht_port' message size != 3");
  EXPECT_EQ(text(7, 8), "invalid piece packet");
  EXPECT_EQ(text(13, 7), "unknown message id: 13 size: 7");
  EXPECT_EQ(text(22, 1), "unknown message id: 22 size: 1");
  EXPECT_EQ(text(20, 100001), "");  // a one-byte metadata reply may be larger than a list
  EXPECT_EQ(text(20, wire::max_metadata_packet), "");
  EXPECT_EQ(text(20, wire::max_metadata_packet + 1), "'extensions' message size > 100kB");
}

TEST(WireReceiver, HandshakeThenManyMessagesInOneRead) {
  std::string in = handshake(hash_of('I'), hash_of('P'));
  in[20 + 5] = char(0x30);  // other bits around the extension bit
  send_buffer m;
  wire::write_keep_alive(m);
  wire::write_simple(m, wire::msg_unchoke);
  wire::write_have(m, 7);
  char* d = wire::write_piece(m, {0, 0, 3});
  std::memcpy(d, "xyz", 3);
  in += bytes(m);

  wire_receiver r;
  recorder h;
  feed(r, h, in);
  EXPECT_EQ(h.info_hash, hash_of('I'));
  EXPECT_EQ(h.id, hash_of('P'));
  EXPECT_EQ(h.reserved[5] & wire::extension_bit, wire::extension_bit);
  ASSERT_EQ(h.packets.size(), 3u);
  EXPECT_EQ(h.packets[0], raw({1}));
  EXPECT_EQ(h.packets[1], raw({4, 0, 0, 0, 7}));
  EXPECT_EQ(h.packets[2], raw({7, 0, 0, 0, 0, 0, 0, 0, 0}) + "xyz");
  std::int64_t payload, protocol;
  r.take_counts(payload, protocol);
  EXPECT_EQ(payload, 3);
  EXPECT_EQ(protocol, std::int64_t(in.size()) - 3);
  EXPECT_EQ(r.current_state(), wire_receiver::read_packet_size);
}

TEST(WireReceiver, ByteByByteGivesTheSameAndCountsOnArrival) {
  std::string in = handshake(hash_of('A'), hash_of('B'));
  send_buffer m;
  std::string block(40000, 'q');
  std::memcpy(wire::write_piece(m, {1, 16384, int(block.size())}), block.data(), block.size());
  wire::write_simple(m, wire::msg_interested);
  in += bytes(m);

  wire_receiver r;
  recorder h;
  // Stop in the middle of the piece and look at the partial packet.
  const std::size_t half = 68 + 4 + 9 + 100;
  feed(r, h, in.substr(0, half), 7);
  ASSERT_EQ(r.current_state(), wire_receiver::read_packet);
  EXPECT_EQ(r.packet_size(), 9 + 40000);
  EXPECT_EQ(r.packet_received(), 109u);
  EXPECT_EQ(r.packet_start().size(), 109u);
  std::int64_t payload, protocol;
  r.take_counts(payload, protocol);
  EXPECT_EQ(payload, 100);
  EXPECT_EQ(protocol, 68 + 13);
  feed(r, h, in.substr(half), 1);
  r.take_counts(payload, protocol);
  EXPECT_EQ(payload, 40000 - 100);
  EXPECT_EQ(protocol, 5);
  ASSERT_EQ(h.packets.size(), 2u);
  // Each packet's id and size were seen once, as soon as its first byte came.
  EXPECT_EQ(h.headers, (std::vector<std::pair<int, int>>{{7, 40009}, {2, 1}}));
  EXPECT_EQ(h.packets[0].substr(9), block);
  EXPECT_EQ(h.packets[1], raw({2}));
}

// Blocks the handler takes in place arrive in its buffer, also when the
// block's start came with the packet's header; the bytes after a block come
// through spare_space in the same read. A declined block, and one that came
// whole in one read, come with on_packet as usual. Counts are unchanged.
TEST(WireReceiver, BlocksReceivedInPlace) {
  struct in_place : recorder {
    std::vector<std::string> blocks;  // where block_destination put them
    std::vector<std::string> headers9;
    bool take = true;
    char* block_destination(std::span<const char>, int length) override {
      if (!take) return nullptr;
      blocks.emplace_back(std::size_t(length), '\0');
      return blocks.back().data();
    }
    void on_piece_received(std::span<const char> header, int length) override {
      headers9.emplace_back(header.data(), header.size());
      EXPECT_EQ(std::size_t(length), blocks.back().size());
    }
  };
  send_buffer m;
  const std::string a(16384, 'a'), b(5000, 'b'), c(300, 'c');
  std::memcpy(wire::write_piece(m, {3, 0, int(a.size())}), a.data(), a.size());
  wire::write_have(m, 9);
  std::memcpy(wire::write_piece(m, {3, 16384, int(b.size())}), b.data(), b.size());
  std::memcpy(wire::write_piece(m, {4, 0, int(c.size())}), c.data(), c.size());
  const std::string in = bytes(m);

  for (const std::size_t chunk : {std::size_t(20), std::size_t(1000), std::size_t(7000)}) {
    wire_receiver r(wire_receiver::read_packet_size);
    in_place h;
    std::int64_t payload = 0, protocol = 0;
    for (std::size_t at = 0; at < in.size();) {
      // As a scatter read: the room first, then the spare space.
      const auto room = r.read_space();
      const auto spare = r.spare_space();
      std::size_t n = std::min({room.size(), chunk, in.size() - at});
      std::memcpy(room.data(), in.data() + at, n);
      if (n == room.size() && !spare.empty()) {
        const std::size_t more = std::min({spare.size(), chunk - std::min(chunk, n), in.size() - at - n});
        std::memcpy(spare.data(), in.data() + at + n, more);
        n += more;
      }
      r.commit(n);
      at += n;
      r.parse(h);
      std::int64_t p, q;
      r.take_counts(p, q);
      payload += p;
      protocol += q;
    }
    EXPECT_EQ(payload, std::int64_t(a.size() + b.size() + c.size())) << chunk;
    EXPECT_EQ(protocol, std::int64_t(in.size() - a.size() - b.size() - c.size())) << chunk;
    EXPECT_EQ(r.current_state(), wire_receiver::read_packet_size);
    // In 7000-byte reads, the spare space after the first block takes the
    // "have" and the next prefix; the next read holds both other blocks whole.
    const bool whole = chunk == 7000;
    std::vector<std::string> in_place_blocks{a, b, c}, packets{raw({4, 0, 0, 0, 9})};
    if (whole) {
      in_place_blocks = {a};
      packets.push_back(std::string(raw({7, 0, 0, 0, 3, 0, 0, 0x40, 0})) + b);
      packets.push_back(std::string(raw({7, 0, 0, 0, 4, 0, 0, 0, 0})) + c);
    } else {
      EXPECT_EQ(h.headers9[1], raw({7, 0, 0, 0, 3, 0, 0, 0x40, 0}));
    }
    EXPECT_EQ(h.blocks, in_place_blocks) << chunk;
    EXPECT_EQ(h.headers9.size(), in_place_blocks.size());
    EXPECT_EQ(h.packets, packets) << chunk;
  }
  // Declined: everything comes with on_packet.
  wire_receiver r(wire_receiver::read_packet_size);
  in_place h;
  h.take = false;
  feed(r, h, in, 3000);
  EXPECT_TRUE(h.blocks.empty());
  ASSERT_EQ(h.packets.size(), 4u);
  EXPECT_EQ(h.packets[0].substr(9), a);
  EXPECT_EQ(h.packets[2].substr(9), b);
}

namespace {

// Takes blocks into the first lent room when the receiver names it and the
// size fits, declines piece 8, and keeps every block's bytes in order,
// also of blocks that came whole as a packet.
struct lender : recorder {
  std::deque<std::string> rooms;  // every room ever lent (stable addresses)
  std::vector<std::string*> spare;  // lent rooms not named yet
  const wire_receiver* receiver = nullptr;
  std::vector<std::string> blocks;
  char* current = nullptr;
  std::size_t current_size = 0;
  int named_lent = 0;
  bool any_size = false;  // names the lent room also for a longer block
  char* block_destination(std::span<const char> header, int length) override {
    if (wire::read_int32(header.data() + 1) == 8) return nullptr;  // declined
    const char* first = receiver->first_lent().data();
    const auto it = std::find_if(spare.begin(), spare.end(), [&](std::string* s) { return s->data() == first; });
    if (it != spare.end() && (any_size || (*it)->size() == std::size_t(length))) {
      current = (*it)->data();
      spare.erase(it);
      ++named_lent;
    } else {
      current = rooms.emplace_back(std::size_t(length), '\0').data();
    }
    current_size = std::size_t(length);
    return current;
  }
  void on_piece_received(std::span<const char>, int length) override {
    EXPECT_EQ(std::size_t(length), current_size);
    blocks.emplace_back(current, current_size);
  }
  // A block that came whole in one read comes as a packet, in its turn.
  void on_packet(std::span<const char> p) override {
    if (p[0] == wire::msg_piece && wire::read_int32(p.data() + 1) != 8)
      blocks.emplace_back(p.data() + 9, p.size() - 9);
    else
      recorder::on_packet(p);
  }

  std::int64_t payload = 0, protocol = 0;
  // One scatter read of up to `chunk` bytes of `in` from `at` on, with
  // `lend` rooms lent, then parsed; returns the bytes read.
  std::size_t room_size = 16384;
  std::size_t read(wire_receiver& r, const std::string& in, std::size_t at, std::size_t chunk, int lend) {
    const std::size_t size = room_size;
    while (spare.size() < 2) spare.push_back(&rooms.emplace_back(size, '\0'));
    r.lend(lend > 0 ? std::span<char>(spare[0]->data(), size) : std::span<char>(),
           lend > 1 ? std::span<char>(spare[1]->data(), size) : std::span<char>());
    std::array<std::span<char>, wire_receiver::max_places> places;
    const std::size_t count = r.read_places(places);
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t k = std::min({places[i].size(), chunk - n, in.size() - at - n});
      std::memcpy(places[i].data(), in.data() + at + n, k);
      n += k;
      if (k < places[i].size()) break;
    }
    r.commit(n);
    r.parse(*this);
    std::int64_t p, q;
    r.take_counts(p, q);
    payload += p;
    protocol += q;
    return n;
  }
};

}  // namespace

// With rooms lent for the next blocks, one read takes in the rest of a
// block and the next packets' starts and blocks: a block of the lent size is
// then handed over where it was read, anything else (a shorter block, a
// declined one, other messages, a keep-alive) goes on as if read into the
// receive buffer. Contents, order and counts are those of plain reads.
TEST(WireReceiver, ReadsRunOnIntoLentRoom) {
  const std::size_t block = 16384;
  send_buffer m;
  std::vector<std::string> sent;
  const auto piece = [&](int index, std::size_t size, char fill) {
    sent.emplace_back(size, fill);
    for (std::size_t i = 0; i < size; i += 97) sent.back()[i] = char(i / 97);
    std::memcpy(wire::write_piece(m, {index, 0, int(size)}), sent.back().data(), size);
  };
  piece(1, block, 'a');
  piece(2, block, 'b');
  wire::write_have(m, 9);
  piece(3, block, 'c');
  wire::write_keep_alive(m);
  piece(4, 5000, 'd');  // shorter than the lent room
  piece(8, block, 'e');  // declined
  piece(5, block, 'f');
  piece(6, block, 'g');
  wire::write_simple(m, wire::msg_unchoke);
  const std::string in = bytes(m);
  const std::vector<std::string> kept{sent[0], sent[1], sent[2], sent[3], sent[5], sent[6]};

  for (const std::size_t chunk : {std::size_t(7), std::size_t(4000), std::size_t(16397), std::size_t(40000)}) {
    wire_receiver r(wire_receiver::read_packet_size);
    lender h;
    h.receiver = &r;
    int reads = 0;
    for (std::size_t at = 0; at < in.size(); ++reads) {
      at += h.read(r, in, at, chunk, 2);
    }
    EXPECT_TRUE(h.blocks == kept) << chunk << ": " << h.blocks.size() << " blocks";
    ASSERT_EQ(h.packets.size(), 3u) << chunk;
    EXPECT_EQ(h.packets[0], raw({4, 0, 0, 0, 9}));
    EXPECT_EQ(h.packets[1].substr(0, 5), raw({7, 0, 0, 0, 8}));
    EXPECT_EQ(h.packets[1].substr(9), sent[4]);
    EXPECT_EQ(h.packets[2], raw({1}));
    std::int64_t data = 0;
    for (const auto& s : sent) data += std::int64_t(s.size());
    EXPECT_EQ(h.payload, data) << chunk;
    EXPECT_EQ(h.protocol, std::int64_t(in.size()) - data) << chunk;
    EXPECT_EQ(r.current_state(), wire_receiver::read_packet_size);
    // Large reads put blocks into the lent rooms, where they stay.
    if (chunk >= 16397) {
      EXPECT_GE(h.named_lent, 3) << chunk;
    }
    // Reads of two blocks' worth take in two blocks.
    if (chunk == 40000) {
      EXPECT_LE(reads, 4);
    }
  }
}

// Blocks longer than the rooms lent: a room named as the place of such a
// block is not taken, and bytes a read put behind a room are not taken for
// what follows the block; the blocks come whole, in their turn, and nothing
// of the stream is lost.
TEST(WireReceiver, LentRoomShorterThanTheBlockIsNotTaken) {
  send_buffer m;
  const std::string a(20000, 'a'), b(16384, 'b');
  std::memcpy(wire::write_piece(m, {1, 0, int(a.size())}), a.data(), a.size());
  std::memcpy(wire::write_piece(m, {2, 0, int(b.size())}), b.data(), b.size());
  wire::write_simple(m, wire::msg_unchoke);
  const std::string in = bytes(m);
  for (const std::size_t room : {std::size_t(16384), std::size_t(100)})
    for (const bool any_size : {true, false})
      for (const std::size_t chunk : {std::size_t(7), std::size_t(150), std::size_t(16397), std::size_t(40000)}) {
        SCOPED_TRACE(testing::Message() << room << " " << any_size << " " << chunk);
        wire_receiver r(wire_receiver::read_packet_size);
        lender h;
        h.receiver = &r;
        h.any_size = any_size;
        h.room_size = room;
        for (std::size_t at = 0; at < in.size();) at += h.read(r, in, at, chunk, 2);
        ASSERT_EQ(h.blocks.size(), 2u);
        EXPECT_TRUE(h.blocks[0] == a);
        EXPECT_TRUE(h.blocks[1] == b);
        ASSERT_EQ(h.packets.size(), 1u);
        EXPECT_EQ(h.packets[0], raw({1}));
        EXPECT_EQ(r.current_state(), wire_receiver::read_packet_size);
      }
}

// Part of a block received in place: progress counts the bytes in place.
TEST(WireReceiver, ProgressOfABlockReceivedInPlace) {
  struct in_place : recorder {
    std::string block;
    char* block_destination(std::span<const char>, int length) override {
      block.assign(std::size_t(length), '\0');
      return block.data();
    }
  };
  send_buffer m;
  const std::string a(16384, 'a');
  std::memcpy(wire::write_piece(m, {1, 0, int(a.size())}), a.data(), a.size());
  const std::string in = bytes(m);
  wire_receiver r(wire_receiver::read_packet_size);
  in_place h;
  feed(r, h, in.substr(0, 4 + 9 + 50));
  feed(r, h, in.substr(4 + 9 + 50, 1000));
  ASSERT_EQ(r.current_state(), wire_receiver::read_packet);
  EXPECT_EQ(r.packet_received(), 9u + 1050u);
  EXPECT_EQ(r.packet_start().size(), 9u);
  EXPECT_EQ(h.block.substr(0, 1050), a.substr(0, 1050));
}

TEST(WireReceiver, ProtocolLengthLimits) {
  EXPECT_EQ(error_of(raw({0})), "incorrect protocol length (0) should be 19.");
  EXPECT_EQ(error_of(raw({101})), "incorrect protocol length (101) should be 19.");
  EXPECT_EQ(error_of(raw({100}) + std::string(100, 'x')), "got invalid protocol name: '" + std::string(100, 'x') + "'");
  EXPECT_EQ(error_of(raw({18}) + "BitTorrent protoco"), "got invalid protocol name: 'BitTorrent protoco'");
}

TEST(WireReceiver, VersionQueryIsAnsweredAndCloses) {
  wire_receiver r;
  recorder h;
  EXPECT_THROW(feed(r, h, raw({7}) + "version"), protocol_error);
  EXPECT_EQ(h.version_queries, 1);
  EXPECT_EQ(error_of(raw({7}) + "version"), "closing");
}

TEST(WireReceiver, PacketSizeLimit) {
  const auto start = wire_receiver::read_packet_size;
  EXPECT_EQ(error_of(raw({0, 0x10, 0, 1}), start), "packet > 1 MB");
  EXPECT_EQ(error_of(raw({0xff, 0xff, 0xff, 0xff}), start), "packet > 1 MB");
  // Exactly 1 MiB is accepted and delivered whole; the buffer grows with the
  // bytes that came, not with the size the prefix announced.
  wire_receiver r(start);
  recorder h;
  std::string big = raw({0, 0x10, 0, 0, 20}) + std::string(1048575, 'z');
  feed(r, h, big.substr(0, 6));
  EXPECT_LT(r.read_space().size(), 65536u);
  feed(r, h, big.substr(6), 100000);
  ASSERT_EQ(h.packets.size(), 1u);
  EXPECT_EQ(h.packets[0], big.substr(4));
}

TEST(WireSendBuffer, PayloadAccountingAcrossPartialSends) {
  send_buffer b;
  wire::write_simple(b, wire::msg_unchoke);  // 5 bytes overhead
  std::memcpy(wire::write_piece(b, {0, 0, 10}), "0123456789", 10);
  b.mark_payload(10);
  wire::write_have(b, 1);  // 9 bytes overhead
  ASSERT_EQ(b.size(), 5u + 13 + 10 + 9);
  EXPECT_EQ(b.consume(20), 2u);  // 18 overhead bytes, then 2 of the block
  ASSERT_EQ(b.payload_ranges().size(), 1u);
  EXPECT_EQ(b.payload_ranges()[0].offset, 0);
  EXPECT_EQ(b.payload_ranges()[0].length, 8);
  EXPECT_EQ(b.consume(3), 3u);
  EXPECT_EQ(b.consume(100), 5u);
  EXPECT_TRUE(b.empty());
  EXPECT_TRUE(b.payload_ranges().empty());
}

TEST(WireSendBuffer, SteadyTrafficReusesTheBuffer) {
  send_buffer b;
  std::string block(16384, 'b');
  for (int i = 0; i < 6; ++i) b.append(block.data(), block.size());
  const char* before = b.data();
  for (int round = 0; round < 1000; ++round) {
    b.consume(16385);
    b.append(block.data(), block.size());
    b.append("x", 1);
  }
  EXPECT_EQ(b.size(), 6u * 16384);
  // The storage is reused rather than grown without end.
  b.consume(b.size());
  b.append(block.data(), block.size());
  EXPECT_EQ(b.data(), before);
}

// Any mix of messages, blocks of other sizes, declined blocks, read sizes
// and lent rooms gives what plain reads give.
TEST(WireReceiver, LentRoomsKeepTheStreamWhateverTheReads) {
  for (unsigned seed = 1; seed <= 100; ++seed) {
    std::mt19937 g(seed);
    send_buffer m;
    std::vector<std::string> kept, others;
    std::int64_t data = 0;
    for (int i = 0; i < 40; ++i) {
      const int kind = int(g() % 8);
      if (kind < 4 || kind == 7) {
        const std::size_t size = kind == 7 ? 1 + g() % 16384 : 16384;
        const int index = kind == 3 && g() % 2 ? 8 : int(g() % 7);
        std::string b(size, '\0');
        for (auto& c : b) c = char(g());
        std::memcpy(wire::write_piece(m, {index, 0, int(size)}), b.data(), size);
        data += std::int64_t(size);
        if (index == 8) others.push_back(std::string(raw({7, 0, 0, 0, 8, 0, 0, 0, 0})) + b);
        else kept.push_back(b);
      } else if (kind == 4) {
        wire::write_have(m, 9);
        others.push_back(raw({4, 0, 0, 0, 9}));
      } else if (kind == 5) {
        wire::write_keep_alive(m);
      } else {
        wire::write_simple(m, wire::msg_unchoke);
        others.push_back(raw({1}));
      }
    }
    const std::string in = bytes(m);
    wire_receiver r(wire_receiver::read_packet_size);
    lender h;
    h.receiver = &r;
    for (std::size_t at = 0; at < in.size();) {
      const int lend = int(g() % 3);
      at += h.read(r, in, at, 1 + g() % 60000, lend);
    }
    ASSERT_TRUE(h.blocks == kept) << seed;
    ASSERT_TRUE(h.packets == others) << seed;
    ASSERT_EQ(h.payload, data) << seed;
    ASSERT_EQ(h.protocol, std::int64_t(in.size()) - data) << seed;
  }
}
