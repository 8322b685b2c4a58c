#include "engine/tracker/udp_tracker_protocol.h"


#include "engine/formats/random.h"
#include "engine/net/address.h"

namespace engine {

namespace {

void put32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift & 0xff);
}

void put64(std::string& out, std::uint64_t v) {
  put32(out, std::uint32_t(v >> 32));
  put32(out, std::uint32_t(v));
}

std::uint32_t get32(const char* p) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(p);
  return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

std::uint64_t get64(const char* p) { return std::uint64_t(get32(p)) << 32 | get32(p + 4); }

using step = udp_tracker_protocol::step;

step timed_out() {
  step s;
  s.kind = step::timed_out;
  return s;
}

step fail(std::string text) {
  step s;
  s.kind = step::failed;
  s.error = std::move(text);
  return s;
}

}  // namespace

udp_tracker_protocol::udp_tracker_protocol(const tracker_query& q, bool variant, const http_settings& settings,
                                           std::function<std::uint32_t()> random)
    : m_query(q),
      m_variant(variant),
      m_tracker_timeout(settings.tracker_timeout),
      m_stop_timeout(settings.stop_tracker_timeout),
      m_random(random ? std::move(random) : random_u32) {}

step udp_tracker_protocol::start(clock::time_point now) { return send_connect(now); }

void udp_tracker_protocol::prepare_send(clock::time_point now) {
  // 0 means "none"; a tracker must never see it as an id of ours.
  while (m_transaction_id == 0) m_transaction_id = m_random();
  m_last_send = now;
  ++m_attempts;
}

step udp_tracker_protocol::send_connect(clock::time_point now) {
  prepare_send(now);
  step s;
  put64(s.send, protocol_id);
  put32(s.send, action_connect);
  put32(s.send, m_transaction_id);
  return s;
}

step udp_tracker_protocol::send_request(clock::time_point now) {
  prepare_send(now);
  step s;
  std::string& p = s.send;
  put64(p, m_connection_id);
  if (m_query.kind == tracker_query::scrape_request) {
    put32(p, action_scrape);
    put32(p, m_transaction_id);
    p += m_query.info_hash.to_string();
    return s;
  }
  put32(p, action_announce);
  put32(p, m_transaction_id);
  p += m_query.info_hash.to_string();
  p += m_query.pid.to_string();
  put64(p, std::uint64_t(m_query.downloaded));
  put64(p, std::uint64_t(m_query.left));
  put64(p, std::uint64_t(m_query.uploaded));
  put32(p, std::uint32_t(m_query.event));
  put32(p, 0);  // ip address: the one the datagram comes from
  put32(p, std::uint32_t(m_query.key));
  put32(p, std::uint32_t(m_query.num_want));
  p += char(m_query.listen_port >> 8);
  p += char(m_query.listen_port & 0xff);
  if (m_variant) p.append(2, '\0');
  return s;
}

step udp_tracker_protocol::tick(clock::time_point now, bool requester_alive) {
  const auto since = now - m_last_send;
  if (!requester_alive && since > std::chrono::seconds(m_stop_timeout)) return timed_out();
  if (!m_connected) {
    if (since <= std::chrono::seconds(15)) return {};
    if (m_attempts >= 4) return timed_out();
    return send_connect(now);
  }
  if (since <= std::chrono::seconds(10)) return {};
  if (m_attempts >= 15) return timed_out();
  return send_request(now);
}

step udp_tracker_protocol::receive(const char* data, int size, clock::time_point now) {
  if (size >= receive_buffer_size) return fail("tracker reply too big");
  if (size < 8 || get32(data + 4) != m_transaction_id) return {};
  if (get32(data) == action_error) return fail(std::string(data + 8, std::size_t(size - 8)));
  if (!m_connected) return read_connect_reply(data, size, now);
  if (m_query.kind == tracker_query::scrape_request) return read_scrape_reply(data, size);
  return read_announce_reply(data, size);
}

step udp_tracker_protocol::read_connect_reply(const char* data, int size, clock::time_point now) {
  if (get32(data) != action_connect || size < 16) return {};
  m_transaction_id = 0;
  m_attempts = 0;
  m_connection_id = get64(data + 8);
  m_connected = true;
  return send_request(now);
}

step udp_tracker_protocol::read_announce_reply(const char* data, int size) {
  if (get32(data) != action_announce || size < 20) return {};
  if ((size - 20) % 6 != 0) return fail("invalid tracker response");
  step s;
  s.kind = step::response;
  s.interval = int(get32(data + 8));
  s.incomplete = int(get32(data + 12));
  s.complete = int(get32(data + 16));
  for (int i = 20; i < size; i += 6) {
    const std::uint16_t port = std::uint16_t(std::uint8_t(data[i + 4]) << 8 | std::uint8_t(data[i + 5]));
    if (port == 0) continue;
    tracker_peer peer;
    peer.ip = address(get32(data + i), port).as_string();
    peer.port = port;
    s.peers.push_back(std::move(peer));
  }
  return s;
}

step udp_tracker_protocol::read_scrape_reply(const char* data, int size) {
  if (get32(data) != action_scrape || size < 20) return {};
  step s;
  s.kind = step::response;
  s.complete = int(get32(data + 8));
  s.incomplete = int(get32(data + 16));
  return s;
}

bool udp_tracker_protocol::send_finished(clock::time_point now) const {
  if (m_connected && m_transaction_id != 0) return true;
  return now - m_last_send > std::chrono::seconds(m_tracker_timeout);
}

}  // namespace engine
