#include "engine/wire/wire_receiver.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"

namespace engine {

namespace {

int part_size(wire_receiver::state s) {
  switch (s) {
    case wire_receiver::read_protocol_length: return 1;
    case wire_receiver::read_info_hash: return 28;
    case wire_receiver::read_peer_id: return 20;
    default: return 4;
  }
}

}  // namespace

wire_receiver::wire_receiver(state start) : m_state(start), m_packet_size(part_size(start)) {}

std::span<char> wire_receiver::read_space(std::size_t min_room) {
  if (m_direct && m_direct_in < std::size_t(m_packet_size) - 9)
    return {m_direct + m_direct_in, std::size_t(m_packet_size) - 9 - m_direct_in};
  return buffer_space(min_room);
}

std::size_t wire_receiver::header_gap() const {
  if (m_direct) return 0;
  // A length prefix and the first 9 bytes of a piece packet.
  const std::size_t avail = m_end - m_begin;
  if (m_state == read_packet_size) return avail < 4 ? 13 - avail : 0;
  if (m_state == read_packet && !m_offered && avail < 9 && m_packet_size > 9 &&
      (avail == 0 || std::uint8_t(m_buf[m_begin]) == wire::msg_piece))
    return 9 - avail;
  return 0;
}

void wire_receiver::lend(std::span<char> first, std::span<char> second) {
  if (first.empty()) second = {};
  m_lent = {first, second};
  m_lent_in = {0, 0};
  m_tail = 0;
}

std::size_t wire_receiver::read_places(std::array<std::span<char>, max_places>& places) {
  constexpr std::size_t next_start = 13;
  m_plan_rooms = 0;
  const std::size_t gap = m_direct ? next_start : header_gap();
  const std::size_t rooms = gap == 0 || m_lent[0].empty() ? 0 : m_lent[1].empty() ? 1 : 2;
  std::size_t k = 0;
  if (rooms == 0) {
    places[k++] = read_space();
    if (m_direct) places[k++] = spare_space();
    return k;
  }
  if (m_direct) places[k++] = read_space();
  // The buffer takes the packets' starts, one after the other; the rooms
  // the blocks in between.
  const auto buf = buffer_space(gap + (rooms - 1) * next_start);
  places[k++] = buf.first(gap);
  places[k++] = m_lent[0];
  if (rooms == 2) {
    places[k++] = buf.subspan(gap, next_start);
    places[k++] = m_lent[1];
  }
  m_plan_gap = gap;
  m_plan_rooms = rooms;
  return k;
}

void wire_receiver::append(const char* p, std::size_t n) {
  if (n == 0) return;
  const auto room = buffer_space(n);
  std::memcpy(room.data(), p, n);
  m_end += n;
}

void wire_receiver::take_back_lent(std::size_t skip) {
  char tail[13];
  const std::size_t t = m_tail;
  if (t > 0) std::memcpy(tail, m_buf.data() + m_end - t, t);
  m_end -= t;
  m_tail = 0;
  append(m_lent[0].data() + skip, m_lent_in[0] - skip);
  append(tail, t);
  append(m_lent[1].data(), m_lent_in[1]);
  m_lent_in = {0, 0};
}

std::span<char> wire_receiver::spare_space() {
  if (!m_direct) return {};
  // A length prefix and the first 9 bytes of a piece packet: enough to name
  // the next block's place before its bytes come.
  constexpr std::size_t next_start = 13;
  return buffer_space(next_start).first(next_start);
}

std::span<char> wire_receiver::buffer_space(std::size_t min_room) {
  if (m_begin == m_end) m_begin = m_end = 0;
  if (m_buf.size() - m_end >= min_room) return {m_buf.data() + m_end, m_buf.size() - m_end};
  const std::size_t held = m_end - m_begin;
  if (m_buf.size() >= held + min_room) {
    std::memmove(m_buf.data(), m_buf.data() + m_begin, held);
  } else {
    // The buffer grows with the bytes that arrive, doubling at most up to
    // what the current part (and the next length prefix) needs: a size the
    // peer only announced costs nothing until its bytes are here.
    const std::size_t part = std::size_t(m_packet_size) + 4;
    const std::size_t size = std::max(held + min_room, std::min(2 * m_buf.size(), part));
    std::vector<char> bigger(size);
    if (held > 0) std::memcpy(bigger.data(), m_buf.data() + m_begin, held);
    m_buf.swap(bigger);
  }
  m_begin = 0;
  m_end = held;
  return {m_buf.data() + m_end, m_buf.size() - m_end};
}

void wire_receiver::commit(std::size_t n) {
  if (m_direct) {
    const std::size_t direct = std::min(n, std::size_t(m_packet_size) - 9 - m_direct_in);
    m_direct_in += direct;
    n -= direct;
  }
  if (m_plan_rooms == 0) {
    m_end += n;
    return;
  }
  std::size_t take = std::min(n, m_plan_gap);
  m_end += take;
  n -= take;
  for (std::size_t i = 0; i < m_plan_rooms; ++i) {
    take = std::min(n, m_lent[i].size());
    m_lent_in[i] += take;
    n -= take;
    if (i + 1 < m_plan_rooms) {
      take = std::min<std::size_t>(n, 13);
      m_end += take;
      m_tail += take;
      n -= take;
    }
  }
  m_plan_rooms = 0;
}

std::size_t wire_receiver::part_received() const {
  if (m_direct) return 9 + m_direct_in;
  return std::min(in_order(), std::size_t(m_packet_size));
}

std::span<const char> wire_receiver::packet_start() const {
  if (m_state != read_packet) return {};
  return {m_buf.data() + m_begin, m_direct ? 9 : part_received()};
}

std::size_t wire_receiver::packet_received() const { return m_state == read_packet ? part_received() : 0; }

void wire_receiver::offer_destination(handler& h) {
  m_offered = true;
  const char* p = m_buf.data() + m_begin;
  const std::size_t length = std::size_t(m_packet_size) - 9;
  char* to = h.block_destination({p, 9}, int(length));
  // A lent room named for a block longer than the room cannot hold it: the
  // block stays in the receive buffer, with the rest of the stream.
  const std::span<char> room = m_lent[0];
  const bool adopted = !room.empty() && to == room.data();
  if (!to || (adopted && length > room.size())) {
    take_back_lent();
    return;
  }
  // What came with the packet's start moves over once; the rest of the
  // block is received in place. Bytes read into the first lent room follow
  // the packet's start directly (parse sees to that): they are in place
  // already when that room was named, else they move over too.
  const std::size_t in = in_order() - 9;
  std::memcpy(to, p + 9, in);
  const std::size_t from_room = std::min(m_lent_in[0], length - in);
  if (!adopted && from_room > 0) std::memcpy(to + in, room.data(), from_room);
  m_direct = to;
  m_direct_in = in + from_room;
  if (from_room == m_lent_in[0]) {
    // The bytes after the block are in order: the next packet's start right
    // behind this one's, then the second room, which now comes first.
    m_end = m_begin + 9 + m_tail;
    m_tail = 0;
  } else {
    // The first room held more than the block: what follows it goes back
    // into the buffer, in order, behind the packet's start.
    take_back_lent(from_room);
  }
  m_lent = {m_lent[1], {}};
  m_lent_in = {m_lent_in[1], 0};
}

// Counts the newly arrived bytes of the part at the front of the buffer:
// a piece packet's first 9 bytes (and its 4-byte prefix) are overhead, the
// rest is payload; everything else is overhead.
void wire_receiver::count_partial() {
  const std::size_t have = part_received();
  std::size_t data_from = SIZE_MAX;
  if (m_state == read_packet && have > 0 && std::uint8_t(m_buf[m_begin]) == wire::msg_piece) data_from = 9;
  if (have <= m_counted) return;
  const std::size_t fresh_from = m_counted;
  const std::size_t payload_from = std::max(fresh_from, std::min(data_from, have));
  m_protocol += std::int64_t(payload_from - fresh_from);
  m_payload += std::int64_t(have - payload_from);
  m_counted = have;
}

void wire_receiver::parse(handler& h) {
  for (;;) {
    count_partial();
    const std::size_t avail = in_order();
    if (m_state == read_packet && !m_header_seen && avail > 0) {
      m_header_seen = true;
      h.on_packet_header(std::uint8_t(m_buf[m_begin]), m_packet_size);
    }
    if (m_state == read_packet && !m_offered && avail >= 9 && avail < std::size_t(m_packet_size) &&
        std::uint8_t(m_buf[m_begin]) == wire::msg_piece) {
      // Bytes in the lent room go to a block only when they follow its
      // packet's first 9 bytes directly, and what a read put behind the
      // room follows the block only when the room held all of the block.
      const bool past_room = m_tail > 0 || m_lent_in[1] > 0;
      if (lent_pending() &&
          (avail != 9 || (past_room && m_lent[0].size() < std::size_t(m_packet_size) - 9))) {
        take_back_lent();
        continue;
      }
      offer_destination(h);
      continue;  // the bytes it took in are counted first
    }
    if (part_received() < std::size_t(m_packet_size)) {
      if (!lent_pending() || m_direct) return;
      take_back_lent();
      continue;
    }
    const char* p = m_buf.data() + m_begin;
    if (m_direct) {
      // A block received in place: its packet's start leaves the buffer.
      const int length = m_packet_size - 9;
      m_begin += 9;
      m_counted = 0;
      m_direct = nullptr;
      m_state = read_packet_size;
      m_packet_size = 4;
      h.on_piece_received({p, 9}, length);
      continue;
    }
    const std::size_t used = std::size_t(m_packet_size);
    // The part is complete and counted; the next part starts uncounted.
    m_begin += used;
    m_counted = 0;

    switch (m_state) {
      case read_protocol_length: {
        const int n = std::uint8_t(p[0]);
        if (n < 1 || n > 100)
          throw protocol_error("incorrect protocol length (" + std::to_string(n) + ") should be 19.");
        m_state = read_protocol_name;
        m_packet_size = n;
        break;
      }
      case read_protocol_name: {
        const std::string_view name(p, used);
        if (name == wire::version_query) {
          h.on_version_query();
          throw protocol_error("closing");
        }
        if (name != wire::protocol_name)
          throw protocol_error("got invalid protocol name: '" + std::string(name) + "'");
        m_state = read_info_hash;
        m_packet_size = 28;
        break;
      }
      case read_info_hash: {
        std::uint8_t reserved[8];
        std::memcpy(reserved, p, 8);
        // The handler may throw: advance first so the state stays sane.
        m_state = read_peer_id;
        m_packet_size = 20;
        h.on_info_hash(reserved, sha1_hash(p + 8));
        break;
      }
      case read_peer_id: {
        m_state = read_packet_size;
        m_packet_size = 4;
        h.on_peer_id(peer_id(p));
        break;
      }
      case read_packet_size: {
        const std::int32_t size = wire::read_int32(p);
        if (size > wire::max_packet_size || size < 0) throw protocol_error("packet > 1 MB");
        if (size > 0) {
          m_state = read_packet;
          m_packet_size = size;
          m_header_seen = false;
          m_offered = false;
        }
        break;
      }
      case read_packet: {
        m_state = read_packet_size;
        m_packet_size = 4;
        h.on_packet({p, used});
        break;
      }
    }
  }
}

}  // namespace engine
