#pragma once
// The extension state of one peer connection and the handling of its
// extension messages (ids 20 and 21): the lists exchanged after the
// handshake, chat, metadata exchange, peer exchange and the listen port.
//
// Free of I/O: the connection hands it complete packets and the time, and it
// writes its replies into the connection's send buffer. What it needs of the
// session, the torrent and its policy it asks of a `host`, which the
// connection implements.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "engine/wire/extension_format.h"
#include "engine/wire/send_buffer.h"

namespace engine {

class ip_filter;

// The session's side of the extensions.
struct extension_settings {
  wire::extension_switches enabled = {true, true, true, true};
  std::uint16_t listen_port = 0;
  std::string user_agent;
};

class peer_extensions {
 public:
  using clock = std::chrono::steady_clock;

  // A metadata request unanswered this long is dropped, as is a peer
  // exchange request.
  static constexpr std::chrono::seconds request_timeout{20};
  // A peer that said it lacks the metadata is asked again after this long.
  static constexpr std::chrono::seconds lacking_retry{300};
  // Metadata and peer-exchange requests that arrive while more than this
  // waits to go out to the peer are not answered: a peer that keeps asking
  // without reading cannot make us queue replies without end. An honest
  // peer asks again after its own time-out.
  static constexpr std::size_t max_reply_backlog = 1048576;

  class host {
   public:
    virtual ~host() = default;
    // What we announce in our extension handshake or older list.
    virtual extension_settings extension_config() const = 0;
    // The session's switch for extension `index` (0-3).
    virtual bool extension_enabled(int index) const = 0;
    // The connection knows its torrent (from the handshake).
    virtual bool has_torrent() const = 0;
    virtual address remote() const = 0;
    virtual const peer_id& remote_id() const = 0;
    // This side opened the connection.
    virtual bool is_outgoing() const = 0;

    // --- metadata, all of the connection's torrent
    virtual bool has_metadata() const = 0;
    // The info dictionary's bytes as they stand in the .torrent.
    virtual std::string_view metadata() = 0;
    // The part to ask this peer for; nothing when none is wanted.
    virtual std::optional<wire::metadata_range> choose_metadata_range() = 0;
    // A request for `r` was answered, refused or dropped.
    virtual void metadata_request_ended(wire::metadata_range r) = 0;
    // A complete data message: `bytes` at `offset` of `total`, unchecked.
    virtual void metadata_received(std::span<const char> bytes, int offset, int total) = 0;

    // --- peers
    // A peer learnt from this connection; `id` is zero when unknown.
    virtual void peer_learnt(const address& a, const peer_id& id) = 0;
    // The torrent's number of connections.
    virtual int num_connections() const = 0;
    // Where the torrent's outgoing connections lead (their listen addresses).
    virtual std::vector<address> outgoing_peers() const = 0;
    virtual const ip_filter* filter() const = 0;

    virtual void chat_message(std::string text) = 0;
  };

  explicit peer_extensions(host& h) : m_host(h) {}

  // After the peer's handshake and id: notes what the peer supports and
  // sends our extension handshake, or our older list when the peer marks
  // its id with "ext".
  void handshake_received(bool extension_protocol, bool ext_mark, send_buffer& out);

  // A complete packet of id 20 or 21 (packet[0] is the id). Replies go to
  // `out`. Violations throw protocol_error.
  void on_packet(std::span<const char> packet, send_buffer& out, clock::time_point now);

  // Metadata and peer exchange requests and their time-outs.
  void second_tick(send_buffer& out, clock::time_point now);

  // Nothing when the peer has no chat; returns whether it was sent.
  bool send_chat_message(send_buffer& out, std::string_view text);
  void send_metadata_request(send_buffer& out, wire::metadata_range r, clock::time_point now);
  void send_metadata(send_buffer& out, wire::metadata_range r);
  void send_peer_list(send_buffer& out, int max_count);
  void send_peer_exchange_request(send_buffer& out, int count, clock::time_point now);

  // The torrent wants `count` peers through peer exchange (sent at the next
  // tick when the peer supports it).
  void set_peer_exchange_wanted(int count) { m_pex_wanted = count; }

  bool supports_extensions() const { return m_extension_protocol; }
  bool extension_handshake_received() const { return m_handshake_received; }
  // The peer's number for extension `index`, -1 when unsupported.
  int peer_extension_id(int index) const { return m_ids[index]; }
  bool supports(wire::extension_index i) const { return m_ids[i] >= 0; }
  bool metadata_request_pending() const { return m_metadata_request.has_value(); }
  bool peer_exchange_request_pending() const { return m_pex_request_time.has_value(); }
  int peer_exchange_wanted() const { return m_pex_wanted; }

 private:
  // How an extended message reads: the extension index and where the body
  // starts.
  struct extended_frame {
    int index;
    std::span<const char> body;
  };
  std::optional<extended_frame> frame(std::span<const char> packet) const;
  void on_extension_list(std::span<const char> packet);
  void on_extended(std::span<const char> packet, send_buffer& out, clock::time_point now);
  void on_chat(std::span<const char> packet, std::span<const char> body);
  void on_metadata(std::span<const char> packet, std::span<const char> body, send_buffer& out,
                   clock::time_point now);
  void on_peer_exchange(std::span<const char> packet, std::span<const char> body, send_buffer& out);
  void on_listen_port(std::span<const char> body);
  bool enabled(int index) const { return m_host.extension_enabled(index); }
  bool one_byte_form() const { return m_handshake_received; }
  bool can_send_peer_exchange() const;
  void end_metadata_request();

  host& m_host;
  bool m_extension_protocol = false;
  bool m_handshake_received = false;
  wire::extension_ids m_ids = wire::no_extension_ids;

  struct pending_metadata {
    wire::metadata_range range;
    clock::time_point sent;
  };
  std::optional<pending_metadata> m_metadata_request;
  std::optional<clock::time_point> m_peer_lacks_metadata;  // when the peer last said so

  std::optional<clock::time_point> m_pex_request_time;
  int m_pex_wanted = 0;
};

}  // namespace engine
