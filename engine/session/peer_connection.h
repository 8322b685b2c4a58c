#pragma once
// One TCP connection to another client of the swarm, driven only by the
// network thread: the handshake, the base messages of the wire protocol, the
// request pipeline in both directions, per-connection counters and
// bandwidth quotas. The bytes themselves are framed and parsed by
// wire_receiver and queued in a send_buffer; this class adds the socket and
// what the messages mean to the torrent, its piece picker and its policy.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "engine/net/socket.h"
#include "engine/session/alert.h"
#include "engine/session/piece_block.h"
#include "engine/session/policy.h"
#include "engine/session/resource_request.h"
#include "engine/session/session_host.h"
#include "engine/session/stat.h"
#include "engine/wire/peer_extensions.h"
#include "engine/wire/peer_request.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_message.h"
#include "engine/wire/wire_receiver.h"

namespace engine {

class dht_link;
class disk_io;
class selector;
struct disk_job;
class torrent;

// The largest request we serve: a request may ask for a whole block of the
// torrent, or up to this many bytes when blocks are smaller.
inline constexpr int max_request_length = 128 * 1024;

// Whether a peer's request is one we answer. `num_pieces` is -1 without
// metadata.
bool is_legal_request(const peer_request& r, int num_pieces, std::int64_t piece_size, bool have_piece,
                      int block_size);
// Whether a received block fits the torrent's block layout.
bool is_valid_block(const peer_request& r, int num_pieces, std::int64_t piece_size, bool last_piece,
                    int block_size);

class peer_connection : public std::enable_shared_from_this<peer_connection>,
                        public policy::connection,
                        private wire_receiver::handler,
                        private peer_extensions::host {
 public:
  using clock = std::chrono::steady_clock;
  // Requests of the peer we hold at once (a dozen bytes each; the data is
  // read as it is sent). Some peers ask for well over a thousand blocks at
  // once from a fast seed; the requests beyond this are dropped and must be
  // asked again after a choke.
  static constexpr int max_pending_requests = 4096;

  // What a connection needs of its session (session_impl is the one), so
  // that its rules run without the network thread in tests.
  class host : public session_host {
   public:
    // The one way a connection closes (see session_impl::close).
    virtual void close(peer_connection& c, const std::string& reason) = 0;
    // The torrent an incoming handshake names, or null.
    virtual std::shared_ptr<torrent> find_torrent(const sha1_hash& info_hash) = 0;
    // The process's DHT node, or null.
    virtual dht_link* dht() const = 0;
    // What we announce in our extension handshake.
    virtual extension_settings extension_config() const = 0;
    // The session's switch for extension `index` (0-3).
    virtual bool extension_enabled(int index) const = 0;
    // Sends what `c` has queued now, closing it when that fails.
    virtual void send_now(peer_connection& c) = 0;
    // `c` stopped reading because the disk worker holds too much block
    // data; it reads again once the worker has caught up.
    virtual void wait_for_disk(peer_connection& c) = 0;
  };

  // Incoming: an accepted socket, torrent unknown until the handshake.
  peer_connection(host& ses, selector& sel, std::shared_ptr<socket> s);
  // Outgoing, for a torrent: the handshake (and bitfield) are queued at once;
  // the connection waits in the session's queue until connect() is called.
  peer_connection(host& ses, selector& sel, torrent* t, std::shared_ptr<socket> s, const address& remote);
  ~peer_connection() override;
  peer_connection(const peer_connection&) = delete;
  peer_connection& operator=(const peer_connection&) = delete;

  void connect();
  void connection_established();
  // Each throws (protocol_error, network_error, file_error) when the
  // connection is to be closed.
  void receive_data();
  void send_data();
  void second_tick();
  bool has_timed_out() const;
  void keep_alive();
  void reset_quota();
  // The disk worker has room again: reading from the socket resumes.
  void disk_ready();

  // Binds an incoming connection to the torrent its handshake named; the
  // torrent's policy may refuse it (protocol_error).
  void attach_to_torrent(torrent* t);
  // Acts on one decoded message of the peer (receive_data decodes each
  // packet once); throws protocol_error when the connection is to be closed.
  void on_message(const wire::message& m);
  // Closes this connection through the session (host::close).
  void disconnect(const std::string& reason);
  // Marks the connection as closing, so that it does no more I/O; false
  // when it was closing already. Only session_impl::close calls it.
  bool start_closing();
  // Unlinks the connection and its torrent both ways: the torrent forgets
  // it (its blocks go back to the picker, the policy learns it), and it
  // forgets the torrent. The session's purge calls it for each closed
  // connection, before it lets go of it.
  void leave_torrent();
  // Whether the connection is bound to `t`, attached or still in its handshake.
  bool bound_to(const torrent* t) const { return m_torrent == t; }
  // Marks a closed connection as closed because of an error (the policy
  // then forgets its peer's port for a while).
  void set_failed() { m_phase = phase::failed; }
  bool failed() const override { return m_phase == phase::failed; }
  // The handshake showed that this connection reached our own session.
  void found_ourselves() { m_ourselves = true; }
  bool reached_ourselves() const override { return m_ourselves; }
  bool is_connecting() const override { return m_phase == phase::queued || m_phase == phase::connecting; }
  bool is_queued() const { return m_phase == phase::queued; }
  bool is_local() const { return m_outgoing; }
  bool is_disconnecting() const { return m_phase == phase::closing || m_phase == phase::failed; }

  const std::shared_ptr<socket>& get_socket() const { return m_socket; }
  address remote() const override { return m_remote; }
  const peer_id& id() const { return m_peer_id; }
  torrent* associated_torrent() const { return attached() ? m_torrent : nullptr; }
  stat& statistics() { return m_stat; }
  const stat& statistics() const { return m_stat; }

  // Where the connection's timers read the time; tests set their own. The
  // timers start over from the new clock's present.
  using clock_function = std::function<clock::time_point()>;
  void set_clock(clock_function c);

  // The torrent learnt its metadata after this connection bound to it.
  void init();

  // --- base messages; each but the have is a no-op when the state
  // already matches
  void send_choke() override;
  void send_unchoke() override;
  void send_interested() override;
  void send_not_interested() override;
  void send_have(int piece);
  void send_bitfield();
  // Queues a have, sent with the next batch of data.
  void announce_piece(int piece);

  void request_block(piece_block block) override;
  void cancel_request(piece_block block) override;

  struct block_progress {
    int piece_index;
    int block_index;
    int bytes_downloaded;
    int full_block_bytes;
  };
  // The block half received right now, if any.
  std::optional<block_progress> download_progress() const;

  // --- what the policy and the torrent read
  bool is_choked() const override { return m_choked; }
  bool has_peer_choked() const override { return m_peer_choked; }
  bool is_interesting() const override { return m_interesting; }
  bool is_peer_interested() const override { return m_peer_interested; }
  bool is_seed() const override;
  const std::vector<bool>& get_bitfield() const override { return m_have_piece; }
  bool has_piece(int i) const { return i >= 0 && i < int(m_have_piece.size()) && m_have_piece[i]; }
  std::int64_t share_diff() const override;
  void add_free_upload(std::int64_t bytes) override { m_free_upload += bytes; }
  std::int64_t total_free_upload() const { return m_free_upload; }
  void add_stat(std::int64_t downloaded, std::int64_t uploaded) override;
  std::int64_t total_payload_download() const override { return m_stat.total_payload_download() + m_prev_download; }
  std::int64_t total_payload_upload() const override { return m_stat.total_payload_upload() + m_prev_upload; }
  float download_rate() const override { return m_stat.download_rate(); }
  float download_payload_rate() const override { return m_stat.download_payload_rate(); }
  int download_queue_size() const override { return int(m_download_queue.size()); }
  int request_queue_size() const override { return int(m_request_queue.size()); }
  bool in_download_queue(piece_block block) const override;
  const std::deque<piece_block>& download_queue() const { return m_download_queue; }
  const std::deque<piece_block>& request_queue() const { return m_request_queue; }
  const std::deque<peer_request>& peer_requests() const { return m_requests; }
  bool supports_extensions() const { return m_supports_extensions; }

  // --- extensions (peer_connection_extensions.cpp)
  // Nothing when the peer has no chat; returns whether it was sent.
  bool send_chat_message(std::string_view text);
  // Asks the peer for `count` peers through peer exchange at the next tick.
  void set_peer_exchange_wanted(int count) { m_extensions.set_peer_exchange_wanted(count); }
  const peer_extensions& extensions() const { return m_extensions; }

  // Raised by good pieces, lowered by corrupt ones.
  int trust_points() const { return m_trust_points; }
  void received_valid_data() { m_trust_points = std::min(m_trust_points + 1, 20); }
  void received_invalid_data() { m_trust_points = std::max(m_trust_points - 2, -7); }

  // The connection's shares of its torrent's upload and download rate.
  resource_request& upload_rate_quota() { return m_ul_bandwidth_quota; }
  resource_request& download_rate_quota() { return m_dl_bandwidth_quota; }
  const resource_request& upload_rate_quota() const { return m_ul_bandwidth_quota; }

 private:
  void on_version_query() override;
  void on_info_hash(const std::uint8_t* reserved, const sha1_hash& info_hash) override;
  void on_peer_id(const peer_id& id) override;
  void on_packet(std::span<const char> packet) override;
  void on_packet_header(int id, int size) override;
  char* block_destination(std::span<const char> header, int length) override;
  // Lends the receiver room for the next blocks while blocks are requested,
  // for one read; return_lent takes back what no block took.
  void lend_next_block();
  void return_lent();
  void on_piece_received(std::span<const char> header, int length) override;

  void on_choke();
  void on_unchoke();
  void on_interested();
  void on_not_interested();
  void on_have(int index);
  void on_bitfield(const wire::bitfield_message& m);
  void on_request(const peer_request& r);
  // The block is held in `owned` when it was received in place (a disk buffer).
  void on_piece(const wire::piece_message& m, std::unique_ptr<char[]> owned);
  // A block of the torrent as peers may send it (in range, whole, aligned).
  bool is_valid_incoming_block(const peer_request& r) const;
  void on_cancel(const peer_request& r);

  void send_block_requests();
  void abort_all_requests();
  // Reads of requested blocks are queued with the disk worker while the
  // bytes on their way to the socket stay below this.
  std::size_t send_ahead() const;
  bool can_read_ahead() const;
  // Queues disk reads for the peer's requests while the read-ahead allows;
  // requests for consecutive bytes of a piece share one read.
  void issue_reads();
  // A read for the peer finished; the blocks that are ready go out in the
  // order they were asked for.
  void block_read(std::uint32_t id, disk_job& j);
  void write_handshake();
  void update_writability();
  bool has_metadata() const override;
  bool rate_limited() const;
  // Bound to its torrent and known to it: an outgoing connection from its
  // creation, an incoming one once its handshake named the torrent; a
  // closed one until it leaves the torrent at the purge.
  bool attached() const { return m_torrent && m_phase != phase::handshake; }
  // Neither waiting for its connect nor closed: the socket is read.
  bool running() const { return m_phase == phase::handshake || m_phase == phase::active; }
  int num_pieces() const;
  clock::time_point now() const { return m_clock ? m_clock() : clock::now(); }

  // peer_extensions::host
  extension_settings extension_config() const override;
  bool extension_enabled(int index) const override;
  bool has_torrent() const override { return m_torrent != nullptr; }
  const peer_id& remote_id() const override { return m_peer_id; }
  bool is_outgoing() const override { return m_outgoing; }
  std::string_view metadata() override;
  std::optional<wire::metadata_range> choose_metadata_range() override;
  void metadata_request_ended(wire::metadata_range r) override;
  void metadata_received(std::span<const char> bytes, int offset, int total) override;
  void peer_learnt(const address& a, const peer_id& id) override;
  int num_connections() const override;
  std::vector<address> outgoing_peers() const override;
  const ip_filter* filter() const override;
  void chat_message(std::string text) override;

  host& m_ses;
  selector& m_selector;
  resource_request m_ul_bandwidth_quota;
  resource_request m_dl_bandwidth_quota;
  std::shared_ptr<socket> m_socket;
  address m_remote;
  torrent* m_torrent = nullptr;
  const bool m_outgoing = false;
  bool m_ourselves = false;
  // Where the connection is in its life; each step only moves forward.
  enum class phase : std::uint8_t {
    queued,      // outgoing: waits in the session's queue for a connect slot
    connecting,  // outgoing: the connect is under way
    handshake,   // incoming: no torrent has taken it yet
    active,      // connected and bound to its torrent
    closing,     // closed: no more I/O, it leaves its torrent at the purge
    failed,      // closed because of an error
  };
  phase m_phase = phase::handshake;
  bool m_writing = false;
  bool m_reading = false;

  wire_receiver m_receiver;
  send_buffer m_send;

  peer_id m_peer_id;
  bool m_peer_choked = true;
  bool m_choked = true;
  bool m_peer_interested = false;
  bool m_interesting = false;
  bool m_supports_extensions = false;
  bool m_supports_ext_list = false;
  bool m_supports_dht = false;

  std::vector<bool> m_have_piece;
  int m_num_pieces = 0;
  // The peer's pieces are counted in the torrent's picker (init ran).
  bool m_pieces_counted = false;

  std::deque<peer_request> m_requests;       // the peer's requests to us
  // The peer's requests being read from disk, in request order; a
  // cancelled one is dropped when its data arrives.
  struct disk_read {
    peer_request r;
    std::uint32_t id;                // the read it is part of
    std::shared_ptr<char[]> data;   // that read's bytes, once in
    int at = 0;                     // where this block starts in them
    bool done = false;
    bool cancelled = false;
  };
  std::deque<disk_read> m_disk_reads;
  std::size_t m_disk_read_bytes = 0;
  std::uint32_t m_next_read_id = 0;
  // Reading stopped until the disk worker has room (session_impl::wait_for_disk).
  bool m_disk_blocked = false;
  // The disk buffer the block being received goes into, when it has one.
  std::unique_ptr<char[]> m_incoming;
  // While blocks are requested: disk buffers lent to the receiver, for one
  // read, for the blocks after the one on its way, so that the read can take
  // in several.
  std::array<std::unique_ptr<char[]>, 2> m_next_blocks;
  std::size_t m_next_block_size = 0;
  std::deque<piece_block> m_request_queue;   // picked, not yet requested
  std::deque<piece_block> m_download_queue;  // requested, not yet received
  std::vector<int> m_announce_queue;

  stat m_stat;
  std::int64_t m_prev_download = 0;
  std::int64_t m_prev_upload = 0;
  std::int64_t m_free_upload = 0;
  int m_num_invalid_requests = 0;
  int m_trust_points = 0;

  clock::time_point m_last_receive = clock::now();
  clock::time_point m_last_sent = clock::now();
  clock::time_point m_last_piece = clock::now();
  clock::time_point m_last_request = clock::now();
  clock::time_point m_became_uninteresting = clock::now();
  clock::time_point m_became_uninterested = clock::now();
  std::chrono::seconds m_timeout{120};
  clock_function m_clock;

  peer_extensions m_extensions{*this};
};

}  // namespace engine
