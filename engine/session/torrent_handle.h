#pragma once
// The application's name for one torrent of a session: a small value that
// finds its torrent again, under the proper lock, on every call. A handle
// whose torrent is gone throws invalid_handle, and so does one whose session
// is gone: a handle never reaches a session that no longer exists.

#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/net/address.h"
#include "engine/session/partial_piece_info.h"
#include "engine/session/peer_info.h"
#include "engine/session/torrent_status.h"

namespace engine {

class session_impl;

class invalid_handle : public std::exception {
 public:
  const char* what() const noexcept override { return "invalid torrent handle used"; }
};

// Whether a session still exists, shared by the session and every handle it
// gave out (session_lifetime.h).
class session_lifetime;

// What one handle call works on, with its session held (torrent_handle.cpp).
struct handle_target;

class torrent_handle {
 public:
  torrent_handle() = default;
  // A handle of `ses` (null: the null handle, valid never).
  torrent_handle(session_impl* ses, const sha1_hash& info_hash);

  const sha1_hash& info_hash() const { return m_info_hash; }

  // True while the torrent waits in the checker or runs in the session.
  bool is_valid() const;
  bool is_paused() const;
  void pause() const;
  void resume() const;
  torrent_status status() const;
  // The torrent's fast-resume data; an undefined entry while it waits or is
  // checked, and without metadata.
  entry build_resume_data() const;
  // Sends `text` to the torrent's peer at `peer` (address and port); false
  // when the torrent is not running or has no such peer with chat.
  bool send_chat_message(const address& peer, std::string_view text) const;

  bool has_metadata() const;
  // Metadata present and every piece there.
  bool is_seed() const;
  // The metainfo; invalid_handle while the torrent has no metadata.
  torrent_metainfo metainfo() const;
  std::vector<announce_entry> trackers() const;
  void replace_trackers(const std::vector<announce_entry>& urls) const;
  std::filesystem::path save_path() const;

  // -1 is unlimited.
  void set_max_uploads(int limit) const;
  void set_max_connections(int limit) const;
  void set_upload_limit(int bytes_per_second) const;
  void set_download_limit(int bytes_per_second) const;
  // The local address outgoing connections of this torrent use.
  void use_interface(const std::string& net_interface) const;
  void set_ratio(float ratio) const;
  // Sent to the HTTP trackers with basic authentication.
  void set_tracker_login(const std::string& name, const std::string& password) const;

  // Piece and file selection; they need the torrent's storage (nothing
  // happens without it).
  void filter_piece(int index, bool filter) const;
  bool is_piece_filtered(int index) const;
  std::vector<bool> filtered_pieces() const;
  void filter_pieces(const std::vector<bool>& pieces) const;
  void filter_file(int index, bool filter) const;
  // One flag per file, true = not wanted.
  void filter_files(const std::vector<bool>& files) const;
  bool move_storage(const std::filesystem::path& save_path) const;
  // The bencoded info dictionary; an undefined entry without metadata.
  entry metadata() const;

  // These act on a running torrent only (not one being checked).
  // The address is tried like a peer a tracker gave.
  void connect_peer(const address& a) const;
  // One record per piece being downloaded; empty when the torrent is gone.
  void get_download_queue(std::vector<partial_piece_info>& queue) const;
  // One record per connection attached to the torrent; empty when the
  // torrent is gone.
  void get_peer_info(std::vector<peer_info>& peers) const;
  void force_reannounce() const;
  void force_reannounce_after(std::chrono::microseconds span) const;

  // The same torrent of the same session (not of a later one that took the
  // gone one's place in memory).
  friend bool operator==(const torrent_handle& a, const torrent_handle& b) {
    return a.m_lifetime == b.m_lifetime && a.m_info_hash == b.m_info_hash;
  }
  friend bool operator<(const torrent_handle& a, const torrent_handle& b) { return a.m_info_hash < b.m_info_hash; }

 private:
  friend class session_impl;
  friend class session;

  // Runs `f` on the handle's target with its session held from ending
  // (torrent_handle.cpp); the target names no session for the null handle
  // and once the session has ended.
  template <class F>
  auto held(F f) const;
  // Runs `f` on the torrent under its owner's lock, or on the session's
  // torrent only (one not being checked); invalid_handle when there is none.
  template <class F>
  auto on_torrent(F f) const;
  template <class F>
  auto on_running(F f) const;

  sha1_hash m_info_hash;
  // Null for the null handle, which acts as one whose session has ended.
  std::shared_ptr<const session_lifetime> m_lifetime;
};

}  // namespace engine
