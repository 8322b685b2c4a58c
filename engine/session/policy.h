#pragma once
// The choking policy and peer list of one torrent: every peer ever learnt,
// whom to connect to and whom to drop, the choke/unchoke rounds, asking the
// piece picker for blocks when a connection may download, and the
// free-upload credit between peers under a share ratio.
//
// The policy is free of I/O: it reaches its torrent and the connections
// through the two small interfaces below, and reads the time from the
// torrent, so tests drive it with a fake clock.

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "engine/session/piece_block.h"

namespace engine {

class piece_picker;

class policy {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  static constexpr time_point never = time_point::min();
  // The first wait before a peer whose connection failed is dialled again.
  static constexpr std::chrono::seconds retry_delay{60};
  // The peer list holds at most this many records. When it is full, a new
  // address takes the place of a record that was tried and failed, else of
  // one never tried, whose address then waits in the backlog (an incoming
  // connection may also replace an idle record); with none such, the new
  // address itself waits there.
  static constexpr std::size_t max_peers = 4000;
  // A peer owing more than this is not unchoked under a share ratio.
  static constexpr std::int64_t owe_limit = 65536;
  // Requests kept outstanding toward one peer: three seconds at its measured
  // rate, from `min_request_queue` up to `max_request_queue`. Peers that
  // answer requests in bursts (all that is pending, a few times a second)
  // give no more than the queue holds per burst: the floor lets a new
  // connection start at a useful rate (the measured rate only follows what
  // the queue allows), the ceiling is well above what a fast peer on a short
  // path needs, and peers commonly accept 250 pending requests or more.
  static constexpr int min_request_queue = 16;
  static constexpr int max_request_queue = 250;
  static int wanted_queue_length(float rate, int block_size);

  // What the policy needs of a peer connection.
  class connection {
   public:
    virtual ~connection() = default;
    virtual address remote() const = 0;
    virtual bool is_connecting() const = 0;
    virtual bool failed() const = 0;  // closed because of an error
    // The handshake showed that the connection reached this very session.
    virtual bool reached_ourselves() const { return false; }
    virtual bool is_choked() const = 0;         // we choke the peer
    virtual bool has_peer_choked() const = 0;   // the peer chokes us
    virtual bool is_interesting() const = 0;    // we are interested in the peer
    virtual bool is_peer_interested() const = 0;
    virtual bool is_seed() const = 0;           // the peer has every piece
    virtual const std::vector<bool>& get_bitfield() const = 0;
    virtual void send_choke() = 0;
    virtual void send_unchoke() = 0;
    virtual void send_interested() = 0;
    virtual void send_not_interested() = 0;
    virtual std::int64_t share_diff() const = 0;
    virtual void add_free_upload(std::int64_t bytes) = 0;
    // Totals carried over from earlier connections to the same peer.
    virtual void add_stat(std::int64_t downloaded, std::int64_t uploaded) = 0;
    virtual std::int64_t total_payload_download() const = 0;
    virtual std::int64_t total_payload_upload() const = 0;
    virtual float download_rate() const = 0;
    virtual float download_payload_rate() const = 0;
    virtual int download_queue_size() const = 0;
    virtual int request_queue_size() const = 0;
    virtual bool in_download_queue(piece_block block) const = 0;
    virtual void request_block(piece_block block) = 0;
    virtual void cancel_request(piece_block block) = 0;
  };

  // What the policy needs of its torrent.
  class torrent_interface {
   public:
    virtual ~torrent_interface() = default;
    virtual time_point now() const = 0;
    virtual int max_connections() const = 0;  // the connection quota's given value
    virtual int max_uploads() const = 0;      // the unchoke-slot quota's given value
    virtual int num_connections() const = 0;
    virtual float ratio() const = 0;
    virtual bool is_paused() const = 0;
    virtual bool is_aborted() const = 0;
    virtual bool is_seed() const = 0;
    virtual int block_size() const = 0;
    virtual int piece_length() const = 0;
    virtual piece_picker* picker() = 0;  // none until the metadata is known
    // Opens an outgoing connection; may throw.
    virtual connection* connect_to_peer(const address& a) = 0;
    // Closes the connection; connection_closed follows, now or later.
    virtual void disconnect(connection& c, const char* why) = 0;
    // The tracker's IP address, 0 when unknown.
    virtual std::uint32_t tracker_ip() const = 0;
    // How many more outgoing connects may start now: the rest wait in the
    // peer list, so that one long peer list does not open thousands of
    // sockets at once.
    virtual int connect_room() const = 0;
    // Candidates wait for connect room: room_freed is to be called as soon
    // as some frees up. Asked once until room_freed comes.
    virtual void wait_for_connect_room() {}
  };

  // Addresses learnt while the peer list was full, waiting for room: six
  // bytes each, each at most once, at most `capacity` of them (the oldest
  // make way for new ones). The newest come out first. Takes no memory while
  // empty.
  class address_backlog {
   public:
    static constexpr std::size_t capacity = 4 * max_peers;
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    bool contains(const address& a) const;
    // Nothing when `a` waits already.
    void push(const address& a);
    // Only when not empty.
    address pop_newest();

   private:
    struct entry {
      std::uint16_t part[3];  // IP address high and low half, port
    };
    static std::uint64_t key(const entry& e) {
      return std::uint64_t(e.part[0]) << 32 | std::uint64_t(e.part[1]) << 16 | e.part[2];
    }
    static std::uint64_t key(const address& a) { return std::uint64_t(a.ip) << 16 | a.port; }
    // An open-addressing table of ring positions (+1; 0 is a free slot).
    static constexpr std::size_t table_size = 1 << 15;  // at least twice the capacity
    static std::size_t home(std::uint64_t k) { return std::size_t((k * 0x9E3779B97F4A7C15ull) >> 49); }
    void unlink(std::size_t position);

    std::vector<entry> m_ring;           // `capacity` entries while used
    std::vector<std::uint16_t> m_table;  // `table_size` slots while used
    std::size_t m_oldest = 0;            // ring position of the oldest entry
    std::size_t m_size = 0;
  };

  struct peer {
    peer(const address& a, std::uint8_t t) : ip(a), type(t) {}
    address ip;  // where the peer listens; port 0: not connectable
    std::uint8_t type;  // 1 connectable, 0 known only from an incoming connection
    time_point last_unchoked = never;
    time_point connected = never;
    std::int64_t prev_amount_upload = 0;
    std::int64_t prev_amount_download = 0;
    bool banned = false;
    connection* conn = nullptr;
    // A listening peer whose connection failed: the port it listened on,
    // dialled again once retry_at has come (the wait doubles with each
    // failure in a row).
    std::uint16_t retry_port = 0;
    int failures = 0;
    time_point retry_at = never;
    // A second port of the address, dialled once the connection at the
    // current one ends: one learnt while the record was connected, or the
    // one that a port learnt later replaced while it still counted as
    // working. One record and one connection per address, but the peer may
    // have moved, or several may sit behind one address.
    std::uint16_t other_port = 0;
    // The port at which the address turned out to be ourselves: never
    // dialled again, whatever lists it; other ports of the address are.
    std::uint16_t own_port = 0;
    // When the address was last learnt (a count): of the candidates never
    // dialled, those of the latest tracker reply go first.
    std::uint64_t learnt = 0;
  };

  explicit policy(torrent_interface& t);

  // Refusals throw protocol_error.
  void new_connection(connection& c);
  void peer_from_tracker(const address& a, const peer_id& id);
  void connection_closed(connection& c);
  void ban_peer(const connection& c) { ban_peer(c.remote().ip); }
  // Also a peer that is no longer connected; nothing without its record.
  void ban_peer(std::uint32_t ip);

  void interested(connection& c);
  void not_interested(connection& c);
  void choked(connection&) {}
  void unchoked(connection& c);
  void peer_is_interesting(connection& c);
  void block_finished(connection& c, piece_block block);
  void piece_finished(int piece, bool passed);

  // Every tenth second.
  void pulse();
  // When a pulse of a torrent without connections next has work: at once
  // when a peer waits to be dialled, else when a record is to be forgotten
  // or a peer's wait before its next dial ends; none when never.
  std::optional<time_point> next_work() const;
  // A pulse at `at` that the torrent's session left out, the torrent having
  // no connections and no work (next_work) then: only the count of the
  // connection rotation goes on from it.
  void quiet_pulse(time_point at) { rotate_connections(at); }
  // Candidates wait for connect room (connect_peers dials them).
  bool connects_held() const { return m_connects_held; }
  bool connect_one_peer();
  // Dials the connect candidates that waited for connect room, while the
  // torrent is below its connection limit and the room lasts (every second,
  // from the torrent).
  void connect_peers();
  // Connect room that wait_for_connect_room asked for is free: the held
  // candidates are dialled now.
  void room_freed() {
    m_room_asked = false;
    connect_peers();
  }

  int num_uploads() const { return m_num_unchoked; }
  std::int64_t available_free_upload() const { return m_available_free_upload; }
  const std::vector<peer>& peers() const { return m_peers; }
  const peer* find_peer(std::uint32_t ip) const;
  // How many addresses wait for room in the peer list.
  std::size_t backlog_size() const { return m_backlog.size(); }

 private:
  peer* find(std::uint32_t ip);
  peer* find(const connection& c) { return find(c.remote().ip); }
  // An address learnt: its record learns the port, or it gets a record of
  // its own; none when the list is full (it then waits in the backlog).
  peer* learn(const address& a);
  // A port learnt for the address of `p`.
  void learn_port(peer& p, std::uint16_t port);
  // The connection of `p` ended: its other port, when it has one, becomes
  // the one to dial. Whether it did.
  bool take_other_port(peer& p);
  // A record of its own for `p`'s address, or none when the list is full
  // and no record gives way.
  peer* add_peer(const peer& p);
  // A record a new address may take the place of, or none: one that was
  // tried and failed, else one never tried.
  peer* displaceable();
  template <class Pred>
  peer* next_idle(Pred pred);
  // `slot` (a record of the list) becomes `p`.
  void replace(peer& slot, const peer& p);
  // Waiting addresses come in: into `slot`, a failed record that gives way,
  // or, without one, into the room the list has. Whether one came.
  bool take_waiting(peer* slot);
  void rebuild_index();
  // At the connection limit, drops the weakest connection every two minutes
  // to make room for a new one.
  void rotate_connections(time_point now);
  bool connect_one(peer& p);
  // Dials candidates while the torrent is below its connection limit and
  // the session has connect room; when the room runs out, they are held
  // until room frees up, or for the next second.
  void dial_candidates();
  void hold_connects();
  void request_a_block(connection& c);
  void choke(peer& p);
  void unchoke(peer& p);
  using pick = peer* (policy::*)();
  // One choke round over `slots` unchoke slots: above them (when `trim`),
  // the peers `out` picks are choked down to them; else (when `swap`) the
  // peer `out` picks makes way for the one `in` picks; then free slots go
  // to the peers `in` picks.
  void rechoke(int slots, bool trim, bool swap, pick out, pick in);
  peer* connect_candidate();
  peer* choke_candidate();
  peer* unchoke_candidate();
  peer* seed_choke_candidate();
  peer* optimistic_candidate();
  bool live(const peer& p) const { return p.conn && !p.conn->is_connecting(); }
  bool lacks_some_piece_of(const connection& c);
  void share_free_upload();

  torrent_interface& m_torrent;
  std::vector<peer> m_peers;
  std::unordered_map<std::uint32_t, std::size_t> m_index;  // IP -> record
  std::size_t m_displace_at = 0;  // where the search for a displaceable record goes on
  // A full round of the list found no failed (untried) idle record, and
  // none came since: the search is spared.
  bool m_none_failed = false;
  bool m_none_untried = false;
  address_backlog m_backlog;
  bool m_connects_held = false;     // candidates wait for connect room
  bool m_room_asked = false;        // wait_for_connect_room was called
  std::uint64_t m_learnt = 0;       // addresses learnt so far
  int m_num_unchoked = 0;
  std::int64_t m_available_free_upload = 0;
  time_point m_last_rotation = never;
  // Scratch lists, kept to spare allocations.
  std::vector<piece_block> m_picked;
  std::vector<piece_block> m_busy;
  std::vector<const connection*> m_tried;
};

}  // namespace engine
