#pragma once
// The UDP tracker protocol for one announce or scrape, free of I/O: fed the
// time and the datagrams received, it says which packet to send and how the
// request ended. Connect, then announce or scrape; big-endian packets.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/tracker/tracker_query.h"

namespace engine {

class udp_tracker_protocol {
 public:
  using clock = std::chrono::steady_clock;

  // Datagrams are received into a buffer of this size; one that fills it
  // was cut off.
  static constexpr int receive_buffer_size = 2048;
  static constexpr std::uint64_t protocol_id = 0x41727101980ull;
  enum action_t { action_connect = 0, action_announce = 1, action_scrape = 2, action_error = 3 };

  struct step {
    enum kind_t { pending, response, failed, timed_out };
    kind_t kind = pending;
    std::string send;   // a packet to send now, when not empty
    std::string error;  // kind failed
    // kind response
    std::vector<tracker_peer> peers;
    int interval = 0;
    int complete = -1;
    int incomplete = -1;
  };

  // `variant`: the "bcudp" form, whose announce packet has two more zero
  // bytes. `random` draws transaction ids (default: two rand() calls).
  udp_tracker_protocol(const tracker_query& q, bool variant, const http_settings& settings,
                       std::function<std::uint32_t()> random = {});

  // The look-up has ended: the first connect packet.
  step start(clock::time_point now);
  // Resends and time-outs. Nobody waits for the answer when
  // `requester_alive` is false: then the request gives up after the
  // stopped-announce time-out without an answer.
  step tick(clock::time_point now, bool requester_alive);
  // One datagram from the tracker.
  step receive(const char* data, int size, clock::time_point now);

  // Whether the request has gone out (or given up waiting).
  bool send_finished(clock::time_point now) const;

  bool connected() const { return m_connected; }
  std::uint32_t transaction_id() const { return m_transaction_id; }
  int attempts() const { return m_attempts; }

 private:
  step send_connect(clock::time_point now);
  step send_request(clock::time_point now);
  void prepare_send(clock::time_point now);
  step read_connect_reply(const char* data, int size, clock::time_point now);
  step read_announce_reply(const char* data, int size);
  step read_scrape_reply(const char* data, int size);

  tracker_query m_query;
  bool m_variant;
  int m_tracker_timeout;
  int m_stop_timeout;
  std::function<std::uint32_t()> m_random;
  clock::time_point m_last_send{};
  std::uint32_t m_transaction_id = 0;  // 0: none drawn yet
  // The connection id may be any value, 0 included; m_connected tells
  // whether one is held.
  bool m_connected = false;
  std::uint64_t m_connection_id = 0;
  int m_attempts = 0;
};

}  // namespace engine
