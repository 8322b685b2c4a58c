#pragma once
// One download or seed inside the session: its metainfo (or only its
// info-hash until the swarm delivers the metadata), its trackers with their
// announce schedule, its peers, limits and transfer statistics. Every member
// runs under the lock of the torrent's owner: the checker's while it waits
// there to be checked (it has no connections then), the session's from the
// hand-over on (see checker_impl.h).
//
// Storage, piece picker and choking policy slot in behind the seams marked
// below; a torrent works without them (no metadata yet, or no peers).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/net/address.h"
#include "engine/session/alert.h"
#include "engine/session/announce_schedule.h"
#include "engine/session/piece_picker.h"
#include "engine/session/policy.h"
#include "engine/session/resource_request.h"
#include "engine/session/session_host.h"
#include "engine/session/stat.h"
#include "engine/session/torrent_handle.h"
#include "engine/session/torrent_status.h"
#include "engine/tracker/request_callback.h"
#include "engine/tracker/tracker_query.h"
#include "engine/wire/extension_format.h"
#include "engine/wire/metadata_transfer.h"
#include "engine/wire/peer_request.h"

namespace engine {

class checker_impl;
class disk_io;
class ip_filter;
class peer_connection;
class piece_manager;
struct piece_checker_data;
struct disk_job;

class torrent : public request_callback, public std::enable_shared_from_this<torrent> {
 public:
  using time_point = announce_schedule::time_point;
  using clock_function = announce_schedule::clock_function;
  static constexpr std::int32_t unlimited = resource_request::inf;

  // What a torrent needs of its session (session_impl is the one), so that
  // its rules run without sockets or threads in tests.
  class host : public session_host {
   public:
    // The session's download rate limit; -1 is unlimited.
    virtual int download_rate_limit() const = 0;
    // Opens an outgoing connection of `t` to `a`; it waits in the session's
    // queue for a connect slot. The torrent records it.
    virtual std::shared_ptr<peer_connection> connect(torrent& t, const address& a) = 0;
    // The application's handle of `t`.
    virtual torrent_handle handle_of(const torrent& t) const = 0;
    // The torrent of `info_hash` wants an announce now: the network thread
    // looks at it in its next round instead of the next second tick. Any
    // thread, any lock.
    virtual void announce_soon(const sha1_hash& info_hash) = 0;
    // How many more outgoing connects may start now (the half-open limit
    // less those under way and waiting).
    virtual int connect_room() const { return resource_request::inf; }
    // The policy of `info_hash` holds candidates until connect room frees
    // up: its room_freed is to be called then.
    virtual void wait_for_connect_room(const sha1_hash& info_hash) { (void)info_hash; }
    // Something of `info_hash` that the second tick acts on changed (its
    // announce schedule, pause, limits or peers): the network thread looks
    // at it at the next tick. Any thread, any lock.
    virtual void look_at_next_tick(const sha1_hash& info_hash) { (void)info_hash; }
  };

  // When the session looks at the torrent next; kept by the session, under
  // its lock (session_impl.cpp).
  struct tick_schedule {
    bool ticked = false;  // looked at in a tick before
    bool paused = true;   // as it was then
    std::uint64_t last_tick = 0;
    // The keys of the torrent's live entries in the session's queues.
    time_point announce_at = time_point::max();
    std::chrono::steady_clock::time_point pulse_at = std::chrono::steady_clock::time_point::max();
    std::uint64_t wake_at = UINT64_MAX;
  };
  tick_schedule& schedule() { return m_schedule; }
  const tick_schedule& schedule() const { return m_schedule; }

  // From complete metainfo; its trackers become the tracker list.
  torrent(host& ses, checker_impl* checker, const torrent_metainfo& info,
          const std::filesystem::path& save_path, const address& net_interface, bool compact_mode, int block_size);
  // From an info-hash; the URL becomes the one tracker (tier 0).
  torrent(host& ses, checker_impl* checker, const std::string& tracker_url, const sha1_hash& info_hash,
          const std::filesystem::path& save_path, const address& net_interface, bool compact_mode, int block_size);
  ~torrent() override;

  // --- lifecycle
  void pause();
  void resume();
  void abort();
  bool is_paused() const { return m_paused; }
  bool is_aborted() const { return m_abort; }

  // --- limits (-1 means unlimited)
  void set_upload_limit(int limit);
  void set_download_limit(int limit);
  void set_max_uploads(int limit);
  void set_max_connections(int limit);
  int upload_limit() const { return m_upload_limit; }
  int download_limit() const { return m_download_limit; }
  // The local address outgoing connections bind to.
  void use_interface(const address& net_interface);
  // Where outgoing connections are bound; 0.0.0.0 for any.
  const address& local_interface() const { return m_net_interface; }
  void set_ratio(float ratio) { m_ratio = ratio; }
  float ratio() const { return m_ratio; }

  // --- trackers (the schedule is announce_schedule's)
  // Whether an announce is due now; answering yes to announce-now clears it.
  bool should_request() { return m_announces.should_request(m_paused); }
  // The next announce; schedules the one after it 600 s ahead. The session
  // adds listen port and key.
  tracker_query generate_tracker_request();
  // After a time-out or an error: the next tracker of the list at once, or,
  // past its end, the first one after a back-off of 60 to 600 s; the failed
  // announce's event is owed to it.
  void try_next_tracker(const tracker_query& failed);
  void replace_trackers(const std::vector<announce_entry>& urls) {
    m_announces.replace_trackers(urls);
    changed();
  }
  const std::vector<announce_entry>& trackers() const { return m_announces.trackers(); }
  // The next announce now (and soon: the session is told), or `after` from
  // now; either stands until an announce goes out, whatever the replies to
  // announces already under way schedule.
  void force_tracker_request();
  void force_tracker_request(std::chrono::microseconds after) { announce_at(now() + after); }
  void set_tracker_login(const std::string& name, const std::string& password) {
    m_announces.set_login(name, password);
  }
  // Empty when no login is set, else "name:password".
  std::string tracker_login() const { return m_announces.login(); }
  // Whether an announce was generated less than `span` ago.
  bool announced_within(std::chrono::microseconds span) const { return m_announces.announced_within(span); }

  void tracker_warning(const std::string& message) override;
  void tracker_response(const tracker_query& q, std::vector<tracker_peer> peers, int interval, int complete,
                        int incomplete) override;
  void tracker_request_timed_out(const tracker_query& q) override;
  void tracker_request_error(const tracker_query& q, int status_code, const std::string& message) override;

  // --- once a second, from the network thread
  // Folds the peers' statistics into the torrent's and the torrent's into
  // `accumulator` (the session's), and sets the quotas' used and max values.
  void second_tick(stat& accumulator);
  // After the session shared its limits: the policy pulse every 10th second
  // (and at the first tick after a resume), then the torrent's shares over
  // its peers.
  void distribute_resources();
  // How often the policy pulse ran; the choking policy hooks in there.
  int policy_pulses() const { return m_policy_pulses; }
  // Ticks from the last one to the next policy pulse (1 to 10).
  int ticks_to_pulse() const { return std::max(m_time_scaler, 1); }
  // Counts down `ticks` seconds the session left out: the torrent had no
  // connections and nothing was due, so their pulses found nothing to do.
  // Returns which of them (1 to `ticks`) had the last pulse, or 0.
  int skip_ticks(int ticks);
  // From when on should_request may say yes without anything changing
  // first; none while it cannot (paused, or no tracker).
  std::optional<time_point> announce_due() const { return m_announces.due(m_paused); }

  // --- peers (the session owns the connections; the torrent only knows them)
  // Opens an outgoing connection: it waits in the session's connection queue
  // for a connect slot.
  std::shared_ptr<peer_connection> connect_to_peer(const address& a);
  void attach_peer(peer_connection* p);
  void remove_peer(peer_connection* p);
  // Closes every connection of this torrent.
  void disconnect_all(const char* reason);
  // An incoming connection from `from` turned out to come from ourselves:
  // the outgoing connection of this torrent that it came from is closed,
  // and the policy learns that the port it dialled is our own.
  void dialled_ourselves(const address& from);
  int num_peers() const { return int(m_connections.size()); }
  const std::map<address, peer_connection*>& peers() const { return m_connections; }

  // --- storage and checker hand-over (under the owner's lock)
  // Creates the storage and the piece picker when the torrent has none.
  void init_storage();
  // Creates the storage and gives the record what the check needs: the
  // check then runs on the record alone.
  void prepare_check(piece_checker_data& d);
  // The check is done: the pieces it found (`have`) and the unfinished ones
  // are installed, and the picker learns what is there.
  void files_checked(std::vector<bool> have, const std::vector<piece_picker::downloading_piece>& unfinished);
  bool are_files_checked() const { return m_files_checked; }
  // Only with metadata (has_metadata()).
  piece_manager& filesystem() { return *m_storage; }
  piece_picker& picker() { return *m_picker; }
  policy& get_policy() { return *m_policy; }
  const std::vector<bool>& pieces() const { return m_have_pieces; }
  bool have_piece(int index) const {
    return index >= 0 && index < int(m_have_pieces.size()) && m_have_pieces[std::size_t(index)];
  }
  int num_have() const { return m_num_pieces; }
  // --- disk I/O, through the session's disk worker
  // Queues the write of a block that came from a peer: `owned` when it
  // holds the block already (a buffer from the disk worker), else a copy of
  // `data`.
  void write_block(int piece, int start, const char* data, int length, std::unique_ptr<char[]> owned = nullptr);
  // Queues the read of a block a peer asked for; `done` gets the finished
  // job on the network thread.
  void read_block(const peer_request& r, std::function<void(disk_job&)> done);
  // The last block of `piece` was received: it is hashed once its writes are
  // on disk, and the piece counts as had only when the hash has matched.
  void piece_downloaded(int piece);
  void piece_failed(int piece);
  // A disk operation of this torrent failed: the torrent stops until the
  // user acts.
  void disk_failed(const std::string& error);
  // Blocks until the disk worker has no job of this torrent; the data
  // written so far is then on disk.
  void wait_for_disk();
  // Pieces that resume data must not describe as had or unfinished: their
  // hash is under way, or their data failed to reach the disk.
  std::vector<int> unsettled_pieces() const;
  // The picker's partly downloaded pieces but the unsettled ones.
  std::vector<piece_picker::downloading_piece> resumable_downloads() const;
  bool is_seed() const { return has_metadata() && m_num_pieces == m_info.num_pieces(); }
  // Piece filters (true: not wanted); without storage nothing happens and
  // nothing is filtered.
  void filter_piece(int index, bool filter);
  bool is_piece_filtered(int index) const;
  std::vector<bool> filtered_pieces() const;
  // Newly wanted pieces are unfiltered in random order.
  void filter_pieces(const std::vector<bool>& filter);
  void filter_file(int index, bool filter);
  // A piece shared by a wanted and an unwanted file stays wanted.
  void filter_files(const std::vector<bool>& files);
  // With storage the files move and the result is the storage's; without,
  // only the save path changes.
  bool move_storage(const std::filesystem::path& save_path);
  // The bencoded info dictionary, built on first use and kept.
  const entry& metadata() const;

  // --- metadata from the swarm (a torrent added by info-hash)
  // A part of the info dictionary from a peer. Once all of it is in and
  // matches the info-hash, the torrent goes to the checker and true is
  // returned.
  bool received_metadata(const char* data, int size, int offset, int total_size);
  // The parts (start, count in 1/256) to ask one peer for.
  std::pair<int, int> metadata_request();
  // A metadata request was answered or dropped.
  void cancel_metadata_request(std::pair<int, int> window);

  // A peer to connect to, as if a tracker had named it: the peer list keeps
  // it (bounded there).
  void add_tracker_peer(const address& a, const peer_id& id) {
    m_policy->peer_from_tracker(a, id);
    changed();
  }

  // --- peer wire extensions (torrent_extensions.cpp)
  // The info dictionary's bytes served to peers, exactly as they stood in
  // the .torrent (so that they hash to the info-hash); kept after the first
  // use. Only with metadata.
  std::string_view metadata_bytes();
  // Whether connections should ask their peers for metadata: none is here,
  // and none is on its way through the checker.
  bool wants_metadata() const { return !has_metadata() && m_info.files().empty(); }
  // Every connection asks its peer for `count` peers at its next tick.
  void request_peers_from_swarm(int count);

  // --- state
  // `with_pieces` false leaves the piece bitfield out.
  torrent_status status(bool with_pieces = true) const;
  // Total done and wanted done; 0 and 0 without storage.
  std::pair<std::int64_t, std::int64_t> bytes_done() const;
  // -1 without storage.
  std::int64_t bytes_left() const;
  bool has_metadata() const { return m_storage != nullptr; }
  const torrent_metainfo& metainfo() const { return m_info; }
  const sha1_hash& info_hash() const { return m_info.info_hash(); }
  const std::filesystem::path& save_path() const { return m_save_path; }
  torrent_handle get_handle() const;
  stat& statistics() { return m_stat; }
  const stat& statistics() const { return m_stat; }
  int block_size() const { return m_block_size; }

  // The torrent's shares of the session's limits for the next second: upload
  // and download rate, unchoke slots, connections.
  resource_request& upload_rate_quota() { return m_ul_bandwidth_quota; }
  resource_request& download_rate_quota() { return m_dl_bandwidth_quota; }
  resource_request& unchoke_quota() { return m_uploads_quota; }
  resource_request& connection_quota() { return m_connections_quota; }
  const resource_request& upload_rate_quota() const { return m_ul_bandwidth_quota; }
  const resource_request& download_rate_quota() const { return m_dl_bandwidth_quota; }
  const resource_request& unchoke_quota() const { return m_uploads_quota; }
  const resource_request& connection_quota() const { return m_connections_quota; }

  // The block size a storage of this torrent uses for a piece length.
  static int block_size_for(int requested, std::int64_t piece_length);

  // Where the tracker schedule reads the time; tests set their own.
  void set_clock(clock_function clock) { m_clock = std::move(clock); }
  // When the next announce is due: the schedule, or an announce asked for
  // earlier than that.
  time_point next_announce() const { return m_announces.next_announce(); }
  std::chrono::seconds announce_interval() const { return m_announces.interval(); }
  int current_tracker() const { return m_announces.current_tracker(); }
  int last_working_tracker() const { return m_announces.last_working_tracker(); }

 private:
  time_point now() const;
  struct policy_host;
  // Every wanted piece is here.
  void finished_downloading();
  void block_written(int piece, const disk_job& j);
  void piece_hashed(int piece, const disk_job& j);
  // Bans the peer at `a` (connected through `p`, or gone: null) and drops
  // the blocks it sent that no hash has checked yet.
  void ban(const address& a, peer_connection* p);
  void forget_unchecked_blocks(const address& a);
  // Hash `piece` result: the picker, the peers and the policy learn it.
  void piece_verified(int piece, bool passed);
  // Drops the piece's record once nothing of it is under way.
  void settle_piece_io(int piece);
  // Queues an operation on the storage after its pending jobs.
  void storage_call(std::function<void(piece_manager&)> op);
  // Asks for the next announce at `when` (resumed, completed, forced).
  void announce_at(time_point when) {
    m_announces.announce_at(when);
    changed();
  }
  void changed() { m_ses.look_at_next_tick(info_hash()); }
  void post_tracker_alert(const tracker_query& q, int status_code, const std::string& what);

  host& m_ses;
  checker_impl* m_checker;
  tick_schedule m_schedule;
  resource_request m_ul_bandwidth_quota;
  resource_request m_dl_bandwidth_quota;
  resource_request m_uploads_quota;
  resource_request m_connections_quota;
  torrent_metainfo m_info;

  bool m_abort = false;
  bool m_paused = true;
  int m_block_size = 0;
  // Shared with the record of its check.
  std::shared_ptr<piece_manager> m_storage;
  std::unique_ptr<piece_picker> m_picker;
  std::vector<bool> m_have_pieces;
  int m_num_pieces = 0;
  // Pieces with disk jobs under way: writes not yet done, a hash not yet
  // reported, a write that failed.
  struct piece_io {
    int writes = 0;
    bool hashing = false;
    bool write_failed = false;
  };
  std::map<int, piece_io> m_piece_io;

  clock_function m_clock;
  announce_schedule m_announces;
  int m_complete = -1;
  int m_incomplete = -1;

  std::map<address, peer_connection*> m_connections;
  stat m_stat;

  int m_time_scaler = 0;  // policy pulse countdown
  bool m_pulse_soon = false;  // resumed: the pulse comes at the next tick
  int m_policy_pulses = 0;

  bool m_got_tracker_response = false;
  float m_ratio = 0;
  std::int64_t m_total_failed_bytes = 0;
  address m_net_interface;
  int m_upload_limit = unlimited;
  int m_download_limit = unlimited;
  // Only while the metadata is being fetched from peers.
  std::unique_ptr<metadata_transfer> m_metadata;
  mutable entry m_info_dictionary;
  std::string m_served_metadata;  // the info dictionary's bytes, for peers
  std::filesystem::path m_save_path;
  bool m_compact_mode = false;
  int m_default_block_size = 16384;
  bool m_files_checked = false;
  // The check of a torrent whose metadata came from its peers, while it
  // runs (it stays in the session meanwhile).
  std::shared_ptr<const piece_checker_data> m_check;

  // Last, so that the policy goes first.
  std::unique_ptr<policy_host> m_policy_host;
  std::unique_ptr<policy> m_policy;
};

}  // namespace engine
