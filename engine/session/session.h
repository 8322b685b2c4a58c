#pragma once
// The one engine object the application owns: the network side with its
// thread, the checking side with its thread, and every public call, each a
// short critical section under the session lock.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <optional>
#include <utility>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/net/ip_filter.h"
#include "engine/session/alert.h"
#include "engine/session/torrent_handle.h"
#include "engine/tracker/tracker_query.h"
#include "engine/wire/fingerprint.h"

namespace engine {

class checker_impl;
class dht_link;
class session_impl;

struct session_status {
  bool has_incoming_connections = false;
  float upload_rate = 0;
  float download_rate = 0;
  float payload_upload_rate = 0;
  float payload_download_rate = 0;
  std::int64_t total_download = 0;
  std::int64_t total_upload = 0;
  std::int64_t total_payload_download = 0;
  std::int64_t total_payload_upload = 0;
  std::int32_t num_peers = 0;
};

class duplicate_torrent : public std::exception {
 public:
  const char* what() const noexcept override { return "torrent already exists in session"; }
};

class session {
 public:
  // Nothing listens until listen_on.
  explicit session(const fingerprint& id);
  // Listens on the first free port of the range on the given interface
  // (null: any), opened by the network thread when it starts.
  session(const fingerprint& id, std::pair<int, int> listen_port_range, const char* listen_interface = nullptr);
  // Stops both threads: the network thread sends the "stopped" announces
  // and waits a bounded time for the trackers.
  ~session();
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // True when a listen socket exists afterwards.
  bool listen_on(std::pair<int, int> port_range, const char* net_interface = nullptr);
  std::uint16_t listen_port() const;
  bool is_listening() const;

  // -1 is unlimited; values are not checked.
  void set_upload_rate_limit(int bytes_per_second);
  void set_download_rate_limit(int bytes_per_second);
  void set_max_uploads(int limit);
  void set_max_connections(int limit);
  void set_max_half_open_connections(int limit);

  void set_peer_id(const peer_id& id);
  void set_key(std::uint32_t key);
  void set_http_settings(const http_settings& s);
  // Replaces the filter and closes every connection it now blocks.
  void set_ip_filter(const ip_filter& f);
  // Clears the four extension flags and puts three random characters into
  // peer-id bytes 17-19; enabling any extension writes "ext" there again.
  void disable_extensions();
  void enable_extension(int index);
  // The DHT node that peers' DHT contacts go to, or none. Set it to none
  // before the node goes away.
  void set_dht_node(dht_link* node);
  peer_id id() const;

  void set_severity_level(alert::severity_t threshold);
  // The oldest alert, or null when none is pending.
  std::unique_ptr<alert> pop_alert();

  session_status status() const;
  // The status of each named torrent, in that order, or none for one that
  // is not in the session: one look under the checker's lock and one under
  // the session's for all of them, where a handle takes both for each. The
  // piece bitfield (`pieces`) is left empty.
  std::vector<std::optional<torrent_status>> torrent_statuses(const std::vector<sha1_hash>& torrents) const;

  // Queues the torrent for its check. Throws std::runtime_error "no files in
  // torrent" or "session is closing", or duplicate_torrent.
  torrent_handle add_torrent(const torrent_metainfo& info, const std::filesystem::path& save_path,
                             const entry& resume_data = entry(), bool compact_mode = true, int block_size = 16384);
  // Reads the metainfo from a decoded .torrent (its errors pass to the
  // caller), then add_torrent. An entry has no bytes to hash: the info-hash
  // is that of the canonical encoding. A .torrent at hand as bytes is read
  // by the metainfo's byte reader and given to add_torrent, so that it
  // keeps the hash over its "info" bytes as they stand.
  torrent_handle add_torrent_from_entry(const entry& torrent_file, const std::filesystem::path& save_path,
                                        const entry& resume_data = entry(), bool compact_mode = true,
                                        int block_size = 16384);
  // A torrent known by info-hash; runs at once, its metadata to come from
  // the swarm. The resume data is not used.
  torrent_handle add_torrent_by_info_hash(const std::string& tracker_url, const sha1_hash& info_hash,
                                          const std::filesystem::path& save_path,
                                          const entry& resume_data = entry(), bool compact_mode = true,
                                          int block_size = 16384);
  // A running torrent sends its "stopped" announce and leaves at the next
  // second tick; a checking one is dropped.
  void remove_torrent(const torrent_handle& h);
  std::vector<torrent_handle> get_torrents();

  session_impl& impl() { return m_impl; }

 private:
  void start_threads();
  void set_limit(int session_impl::*limit, int value);

  // The network and checking sides stay out of this header (session_impl.h,
  // checker_impl.h).
  std::unique_ptr<session_impl> m_impl_owner;
  session_impl& m_impl;
  std::unique_ptr<checker_impl> m_checker_owner;
  checker_impl& m_checker_impl;
  std::thread m_thread;
  std::thread m_checker_thread;
};

}  // namespace engine
