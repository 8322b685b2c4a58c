#pragma once
// The receive side of one peer connection, free of I/O: the socket shell
// reads as much as its quota allows into read_space() (and spare_space()),
// commits it, and parse() hands every complete handshake part and message to
// the handler, straight out of the buffer. Bytes are counted as protocol or
// payload as they arrive.
//
// The payload of a piece packet may go elsewhere: once the packet's first 9
// bytes are in, the handler can name where its block is to be kept, and the
// rest of the block is then received right there, not copied out of the
// receive buffer afterwards.
//
// The handler may also lend room for the blocks of the packets that follow
// (lend): a read (read_places) may then go on past each packet's first 9
// bytes into a lent room, so that one read takes in several blocks. The
// bytes in a room are handed over as the block they turn out to be when the
// handler names that room as the block's place, and are moved into the
// receive buffer otherwise, so that what is parsed is the stream as sent.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/formats/sha1_hash.h"

namespace engine {

class wire_receiver {
 public:
  enum state {
    read_protocol_length = 0,
    read_protocol_name = 1,
    read_info_hash = 2,
    read_peer_id = 3,
    read_packet_size = 4,
    read_packet = 5,
  };

  class handler {
   public:
    virtual ~handler() = default;
    // The peer asked for our version instead of a handshake; the connection
    // answers and ends.
    virtual void on_version_query() = 0;
    virtual void on_info_hash(const std::uint8_t* reserved, const sha1_hash& info_hash) = 0;
    virtual void on_peer_id(const peer_id& id) = 0;
    // A complete packet: packet[0] is the message id. The bytes stay valid
    // until the handler returns.
    virtual void on_packet(std::span<const char> packet) = 0;
    // The id and size of a packet, as soon as its first byte is in, so that
    // a size that cannot be right ends the connection before the rest is
    // buffered.
    virtual void on_packet_header(int /*id*/, int /*size*/) {}
    // A piece packet whose block is still on its way (`header` is the
    // packet's first 9 bytes): the handler may return room for the
    // `length` bytes of the block, which then arrive there and come with
    // on_piece_received instead of on_packet. nullptr: they stay in the
    // receive buffer.
    virtual char* block_destination(std::span<const char> /*header*/, int /*length*/) { return nullptr; }
    // A piece packet whose block went to the place block_destination named.
    virtual void on_piece_received(std::span<const char> /*header*/, int /*length*/) {}
  };

  explicit wire_receiver(state start = read_protocol_length);

  // Where the next bytes go: the rest of a block that has a place of its
  // own, or else free space after the buffered bytes, at least `min_room`
  // bytes. The buffer grows with what arrives, not with the size a packet
  // announces.
  std::span<char> read_space(std::size_t min_room = 16384);
  // While a block goes to its own place: room in the receive buffer for what
  // follows it, enough for the next piece packet's start (a read may fill
  // read_space() and then this). Empty otherwise.
  std::span<char> spare_space();
  // Rooms for blocks yet to come, in order, owned by the caller and used
  // until the next call. The first one may be named as a block's place
  // (block_destination returns first_lent()'s start), and then belongs to
  // that block; named for a block longer than itself, it is not taken and
  // the block is received into the buffer. Empty rooms: nothing is lent. Call it before a read, after
  // parse (parse leaves nothing in the rooms).
  void lend(std::span<char> first, std::span<char> second = {});
  std::span<char> first_lent() const { return m_lent[0]; }
  // Where the next read goes, in order: read_space() (and spare_space()),
  // or, with rooms lent, the buffer up to the end of the next piece
  // packet's first 9 bytes, the first room, the next packet's prefix and
  // first 9 bytes, the second room. Returns how many places were filled in.
  static constexpr std::size_t max_places = 5;
  std::size_t read_places(std::array<std::span<char>, max_places>& places);
  // `n` bytes were put into read_space() and, past its end, spare_space(),
  // or into the places of the last read_places(), in order.
  void commit(std::size_t n);

  // Hands every complete part to `h`. A protocol violation throws
  // protocol_error with its fixed text; the receiver is then unusable.
  void parse(handler& h);

  state current_state() const { return m_state; }
  // In state read_packet: the packet's first bytes received so far, up to
  // the start of a block that goes to a place of its own.
  std::span<const char> packet_start() const;
  // In state read_packet: how many bytes of the packet are in.
  std::size_t packet_received() const;
  int packet_size() const { return m_packet_size; }
  std::size_t buffered() const { return m_end - m_begin; }

  // Bytes counted since the last call, split into piece data and overhead.
  void take_counts(std::int64_t& payload, std::int64_t& protocol) {
    payload = m_payload;
    protocol = m_protocol;
    m_payload = m_protocol = 0;
  }

 private:
  void count_partial();
  // The bytes of the current part that are in.
  std::size_t part_received() const;
  // Free space after the buffered bytes, at least `min_room` bytes.
  std::span<char> buffer_space(std::size_t min_room);
  // Offers the handler to receive the current piece packet's block in place.
  void offer_destination(handler& h);
  // Outside a block received in place: the buffer bytes still to come
  // before the next piece packet's block would start (0 when no piece
  // packet can be starting).
  std::size_t header_gap() const;
  // Puts the bytes read into the lent rooms (but the first `skip` of the
  // first room) back into stream order at the end of the buffer.
  void take_back_lent(std::size_t skip = 0);
  bool lent_pending() const { return m_lent_in[0] > 0 || m_lent_in[1] > 0 || m_tail > 0; }
  void append(const char* p, std::size_t n);
  // Received bytes in stream order, from m_begin on.
  std::size_t in_order() const { return m_end - m_begin - m_tail; }

  std::vector<char> m_buf;
  std::size_t m_begin = 0;  // first unparsed byte
  std::size_t m_end = 0;    // end of received bytes
  state m_state;
  int m_packet_size;        // bytes of the current part
  std::size_t m_counted = 0;  // bytes of the current part (with its prefix) already counted
  bool m_header_seen = false;  // on_packet_header ran for the current packet
  bool m_offered = false;      // block_destination ran for the current packet
  // The current piece packet's block goes here (its 9 first bytes stay in
  // the buffer); m_direct_in of its bytes are in.
  char* m_direct = nullptr;
  std::size_t m_direct_in = 0;
  // The lent rooms and the bytes read into each. A read that went on into
  // the second room left m_tail bytes at the end of the buffer that come
  // after the first room's bytes in the stream.
  std::array<std::span<char>, 2> m_lent{};
  std::array<std::size_t, 2> m_lent_in{};
  std::size_t m_tail = 0;
  // The last read_places(): buffer bytes before the first room, rooms used.
  std::size_t m_plan_gap = 0;
  std::size_t m_plan_rooms = 0;
  std::int64_t m_payload = 0;
  std::int64_t m_protocol = 0;
};

}  // namespace engine
