#pragma once
// The network side of the session: the torrents, the connections, the listen
// socket, the limits and statistics, and the loop of the network thread. One
// non-recursive mutex guards it all; the network thread holds it from the end
// of each wait to the end of its round.
//
// Private to the session: torrents and connections see it only as their
// host (torrent::host, peer_connection::host); the session, its checker and
// the torrent handles use its methods, and only `session` reaches its
// fields.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "engine/net/ip_filter.h"
#include "engine/net/selector.h"
#include "engine/net/socket.h"
#include "engine/session/alert.h"
#include "engine/session/peer_connection.h"
#include "engine/session/session_lifetime.h"
#include "engine/session/stat.h"
#include "engine/session/torrent.h"
#include "engine/storage/disk_io.h"
#include "engine/tracker/tracker_dispatcher.h"
#include "engine/tracker/tracker_query.h"
#include "engine/wire/fingerprint.h"
#include "platform/mutex.h"

namespace engine {

class checker_impl;
class request_callback;

class dht_link;

class session_impl : public torrent::host, public peer_connection::host {
 public:
  using connection_map = std::map<std::shared_ptr<socket>, std::shared_ptr<peer_connection>>;
  static constexpr int num_extensions = 4;

  session_impl(int listen_port_first, int listen_port_last, const fingerprint& id, const char* listen_interface);
  ~session_impl();
  session_impl(const session_impl&) = delete;
  session_impl& operator=(const session_impl&) = delete;

  // The network thread's body; returns after the shut-down sequence.
  void operator()();

  // The lock of everything below and of every torrent in the session.
  platform::mutex& mutex() const RETURN_CAPABILITY(m_mutex) { return m_mutex; }

  // --- everything below: caller holds m_mutex
  // Puts a torrent into the session's map (keyed by its info-hash).
  void insert_torrent(std::shared_ptr<torrent> t) REQUIRES(m_mutex);
  // Opens the listen socket on the first free port of the range from the
  // listen interface's port on; posts listen_failed_alert when none opens.
  void open_listen_port() REQUIRES(m_mutex);
  // The one way a connection closes, whoever asks (its own failure, its
  // torrent, the policy, the IP filter): posts a peer_error_alert with the
  // reason (debug), stops the connection's I/O at once and puts it on the
  // disconnect list. A second close of the same connection does nothing.
  // Safe to call from inside the connection's own I/O and from loops over
  // a torrent's connections: nothing is unlinked before the purge.
  void close(peer_connection& c, const std::string& reason) override REQUIRES(m_mutex);
  // Closes every connection (established, connecting or waiting for a
  // connect slot) whose remote address the IP filter blocks.
  void close_filtered_connections() REQUIRES(m_mutex);

  // Read views for tests that look inside.
  const connection_map& connections() const REQUIRES(m_mutex) { return m_connections; }
  const connection_map& half_open() const REQUIRES(m_mutex) { return m_half_open; }
  const std::deque<std::shared_ptr<peer_connection>>& connection_queue() const REQUIRES(m_mutex) {
    return m_connection_queue;
  }
  selector& network_selector() { return m_selector; }

  // Lets the network thread start its next round at once.
  void wake() { m_selector.wake(); }
  // Sends what a connection has queued now, closing it when that fails.
  void send_now(peer_connection& c) override REQUIRES(m_mutex);
  // A connection stopped reading because the disk worker holds too much
  // block data; it reads again once the worker has caught up.
  void wait_for_disk(peer_connection& c) override REQUIRES(m_mutex);
  // Incoming connections that have not yet sent their handshake are held
  // up to this many at once, and to a quarter of the descriptors the
  // process may open, so that peers that never finish theirs cannot take
  // the descriptors that attached peers, files, trackers and the DHT need.
  // Further ones wait in the listen backlog until the handshake time-out
  // frees room.
  static constexpr std::size_t max_waiting_handshakes = 1000;
  static std::size_t waiting_handshake_bound();
  void handshake_wait_ended(peer_connection& c) override REQUIRES(m_mutex);
  std::size_t waiting_handshakes() const REQUIRES(m_mutex) { return m_waiting_handshakes; }
  // The checker whose torrents' handles this session gives out; set before
  // the threads start.
  void set_checker(checker_impl* checker) {
    m_checker = checker;
    m_lifetime->set_checker(checker);
  }
  // Shared with every handle given out; the session ends it before it goes.
  const std::shared_ptr<session_lifetime>& lifetime() const { return m_lifetime; }

  // --- torrent::host and peer_connection::host (caller holds m_mutex)
  alert_manager& alerts() override { return m_alerts; }
  const peer_id& local_id() const override REQUIRES(m_mutex) { return m_peer_id; }
  const ip_filter& filter() const override REQUIRES(m_mutex) { return m_ip_filter; }
  int upload_rate_limit() const override REQUIRES(m_mutex) { return m_upload_rate; }
  int download_rate_limit() const override REQUIRES(m_mutex) { return m_download_rate; }
  std::shared_ptr<peer_connection> connect(torrent& t, const address& a) override REQUIRES(m_mutex);
  // Without a half-open limit set, this many connects still bound what the
  // torrents start at once.
  static constexpr int default_connect_room = 32;
  int connect_room() const override REQUIRES(m_mutex);
  void wait_for_connect_room(const sha1_hash& info_hash) override REQUIRES(m_mutex) {
    m_room_waiters.push_back(info_hash);
  }
  torrent_handle handle_of(const torrent& t) const override;
  std::shared_ptr<torrent> find_torrent(const sha1_hash& info_hash) override REQUIRES(m_mutex);
  dht_link* dht() const override REQUIRES(m_mutex) { return m_dht; }
  extension_settings extension_config() const override REQUIRES(m_mutex);
  bool extension_enabled(int index) const override REQUIRES(m_mutex);
  disk_io& disk() override { return m_disk; }

  // A torrent may want to announce now (it was resumed, handed over by the
  // checker, told to re-announce, or moves on to its next tracker): the
  // network thread looks at it in its next round instead of the next second
  // tick. Any thread, any lock.
  void announce_soon(const sha1_hash& info_hash) override EXCLUDES(m_announce_mutex) {
    {
      platform::mutex_lock l(m_announce_mutex);
      m_announce_wanted.push_back(info_hash);
    }
    m_announce_due.store(true, std::memory_order_release);
    wake();
  }
  void look_at_next_tick(const sha1_hash& info_hash) override EXCLUDES(m_announce_mutex) {
    platform::mutex_lock l(m_announce_mutex);
    m_look_at.push_back(info_hash);
  }

 private:
  friend class session;

  // Taken before the checker's lock and before the DHT node's.
  mutable platform::mutex m_mutex;
  http_settings m_settings GUARDED_BY(m_mutex);
  tracker_dispatcher m_tracker_manager GUARDED_BY(m_mutex){m_settings};

  std::map<sha1_hash, std::shared_ptr<torrent>> m_torrents GUARDED_BY(m_mutex);
  // Waited on by the network thread outside the lock; has its own.
  selector m_selector;
  connection_map m_connections GUARDED_BY(m_mutex);
  connection_map m_half_open GUARDED_BY(m_mutex);
  std::deque<std::shared_ptr<peer_connection>> m_connection_queue GUARDED_BY(m_mutex);
  std::vector<std::shared_ptr<peer_connection>> m_disconnect_peer GUARDED_BY(m_mutex);
  // Block writes, upload reads and piece hashes; destroyed before the
  // selector it wakes.
  disk_io m_disk{[this] { m_selector.wake(); }};
  std::vector<std::weak_ptr<peer_connection>> m_disk_waiters GUARDED_BY(m_mutex);
  ip_filter m_ip_filter GUARDED_BY(m_mutex);

  peer_id m_peer_id GUARDED_BY(m_mutex);
  std::uint32_t m_key GUARDED_BY(m_mutex) = 0;
  int m_listen_port_first GUARDED_BY(m_mutex) = 0;
  int m_listen_port_last GUARDED_BY(m_mutex) = 0;
  address m_listen_interface GUARDED_BY(m_mutex);
  std::shared_ptr<socket> m_listen_socket GUARDED_BY(m_mutex);
  // Set when an accept failed (out of descriptors): the listen socket is not
  // watched for readability until the next second tick.
  bool m_listen_resting GUARDED_BY(m_mutex) = false;
  // Incoming connections waiting for their handshake; while they are at
  // their bound the listen socket is not watched (m_listen_full).
  std::size_t m_waiting_handshakes GUARDED_BY(m_mutex) = 0;
  bool m_listen_full GUARDED_BY(m_mutex) = false;
  bool m_extension_enabled[num_extensions] GUARDED_BY(m_mutex) = {true, true, true, true};
  // The process's DHT node while one runs; peers' DHT ports go there.
  dht_link* m_dht GUARDED_BY(m_mutex) = nullptr;
  checker_impl* m_checker = nullptr;
  const std::shared_ptr<session_lifetime> m_lifetime = std::make_shared<session_lifetime>(this);
  bool m_abort GUARDED_BY(m_mutex) = false;

  int m_upload_rate GUARDED_BY(m_mutex) = -1;
  int m_download_rate GUARDED_BY(m_mutex) = -1;
  int m_max_uploads GUARDED_BY(m_mutex) = -1;
  int m_max_connections GUARDED_BY(m_mutex) = -1;
  int m_half_open_limit GUARDED_BY(m_mutex) = -1;

  stat m_stat GUARDED_BY(m_mutex);
  // Has its own lock.
  alert_manager m_alerts;
  bool m_incoming_connection GUARDED_BY(m_mutex) = false;

  // Starts queued outgoing connects while the half-open limit allows.
  void process_connection_queue() REQUIRES(m_mutex);
  // Torrents whose candidates wait for connect room, in the order they
  // asked; give_connect_room lets them dial while there is room.
  std::deque<sha1_hash> m_room_waiters GUARDED_BY(m_mutex);
  void give_connect_room() REQUIRES(m_mutex);
  // Takes each connection of the disconnect list off its torrent (both
  // ways), off the selector and out of the session's maps and queue. Runs
  // between the network thread's steps and after a public call that closed
  // connections, never inside a connection's I/O or a loop over connections.
  void purge_connections() REQUIRES(m_mutex);
  // Queues a tracker request; the session's port and key are filled in.
  void queue_tracker_request(tracker_query req, const std::weak_ptr<request_callback>& c, const std::string& login)
      REQUIRES(m_mutex);
  // Queues the announces that torrents asked for by announce_soon and that
  // are due now.
  void queue_due_announces() REQUIRES(m_mutex);
  // Queues the torrent's announce when it wants one.
  void announce_if_due(const std::shared_ptr<torrent>& t) REQUIRES(m_mutex);
  // One wait and the work after it; false once the session has shut down.
  bool network_round(std::uint32_t& last_tick) EXCLUDES(m_mutex);
  void second_tick() REQUIRES(m_mutex);
  void shut_down() REQUIRES(m_mutex);
  // Closes a connection that failed (the policy then forgets its peer's port).
  void connection_failed(peer_connection& c, const std::string& message) REQUIRES(m_mutex);
  // Closes (and purges) every connection, established, connecting or
  // waiting for a connect slot, for which `pred` holds.
  template <class Pred>
  void close_connections_if(Pred pred, const std::string& reason) REQUIRES(m_mutex);

  std::atomic<bool> m_announce_due{false};
  platform::mutex m_announce_mutex;
  std::vector<sha1_hash> m_announce_wanted GUARDED_BY(m_announce_mutex);
  std::vector<sha1_hash> m_look_at GUARDED_BY(m_announce_mutex);  // by look_at_next_tick

  // The second tick looks only at the torrents something is due for: those
  // with connections or a transfer rate still settling (every tick), those
  // whose announce or policy pulse has work, and those that changed. For
  // the others a tick would change nothing; what they skip is counted up
  // when they are looked at again (torrent::skip_ticks).
  //
  // Torrents by the time or tick something is due for them: a min-heap whose
  // entries may be stale; the live key is in the torrent's schedule.
  template <class Key>
  class due_queue {
   public:
    void push(Key key, const sha1_hash& info_hash) {
      m_heap.emplace_back(key, info_hash);
      std::push_heap(m_heap.begin(), m_heap.end(), later);
    }
    // Takes out every entry due by `now`, oldest first, for `f(key, info_hash)`.
    // `f` runs under the session lock, which the analysis cannot follow into
    // this template.
    template <class F>
    void pop_due(Key now, F f) NO_THREAD_SAFETY_ANALYSIS {
      while (!m_heap.empty() && !(now < m_heap.front().first)) {
        std::pop_heap(m_heap.begin(), m_heap.end(), later);
        const auto [key, info_hash] = m_heap.back();
        m_heap.pop_back();
        f(key, info_hash);
      }
    }

   private:
    static bool later(const std::pair<Key, sha1_hash>& a, const std::pair<Key, sha1_hash>& b) {
      return b.first < a.first;
    }
    std::vector<std::pair<Key, sha1_hash>> m_heap;
  };
  due_queue<torrent::time_point> m_announce_queue GUARDED_BY(m_mutex);
  due_queue<policy::time_point> m_pulse_queue GUARDED_BY(m_mutex);
  due_queue<std::uint64_t> m_wake_queue GUARDED_BY(m_mutex);
  // Torrents to look at in the next tick (inserted, asked to announce).
  std::vector<sha1_hash> m_visit_next GUARDED_BY(m_mutex);
  // Those looked at in every tick for now, in info-hash order.
  std::vector<std::shared_ptr<torrent>> m_busy GUARDED_BY(m_mutex);
  std::uint64_t m_ticks GUARDED_BY(m_mutex) = 0;
  // When the latest ticks began, by tick number modulo the size.
  std::array<policy::time_point, 16> m_tick_times GUARDED_BY(m_mutex){};
  // The session limits as the last tick shared them out.
  std::array<int, 4> m_shared_limits GUARDED_BY(m_mutex){0, 0, 0, 0};
  // After a tick's look at `t`: when to look again. `busy`: at the next tick.
  void plan_ticks(const std::shared_ptr<torrent>& t, bool busy) REQUIRES(m_mutex);
  void wake_at(torrent& t, std::uint64_t tick) REQUIRES(m_mutex);
  // The first tick from `from` on where `t` has its policy pulse.
  std::uint64_t pulse_tick(const torrent& t, std::uint64_t from) const REQUIRES(m_mutex);
  // The torrents the tick at `tick` looks at, in info-hash order.
  std::vector<std::shared_ptr<torrent>> due_torrents(std::uint64_t tick, policy::time_point steady_now)
      REQUIRES(m_mutex);
  // The connection of an established or connecting socket, or null.
  std::shared_ptr<peer_connection> connection_of(const std::shared_ptr<socket>& s) const REQUIRES(m_mutex);
  // Runs one send or receive of a connection and closes it when that throws
  // (a file error also pauses its torrent). Holds its own share of the
  // connection, which may leave the maps meanwhile.
  template <class Io>
  void run_io(std::shared_ptr<peer_connection> c, Io io) REQUIRES(m_mutex);
  void handle_writable(const std::shared_ptr<socket>& s) REQUIRES(m_mutex);
  void handle_readable(const std::shared_ptr<socket>& s) REQUIRES(m_mutex);
  void handle_errored(const std::shared_ptr<socket>& s) REQUIRES(m_mutex);
  // Runs the disk worker's results and lets waiting connections read again.
  void disk_completions() REQUIRES(m_mutex);

};

}  // namespace engine
