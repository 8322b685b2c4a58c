#pragma once
// What the desktop program asks of the engine's session and of its torrents.
// The program works through this seam: EngineTorrentControl passes every
// call to a real engine::session; tests script the answers.
//
// A torrent is named by its info-hash (one session holds at most one
// torrent per info-hash). A torrent that is not (or no longer) in the
// session answers is_valid with false and throws engine::invalid_handle on
// every other call, as the engine's own handles do.

#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/net/address.h"
#include "engine/session/peer_info.h"
#include "engine/session/torrent_status.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

class TorrentHandle;

class TorrentControl {
 public:
  virtual ~TorrentControl() = default;

  // Session. The torrent is known by the info-hash of `info`: read it from
  // the .torrent's bytes (not from a decoded entry), so that an info
  // dictionary encoded in another key order keeps the hash its trackers and
  // peers know. add_torrent throws what the engine throws (a duplicate, a
  // closing session, a path the storage refuses).
  virtual TorrentHandle add_torrent(const engine::torrent_metainfo& info, const std::filesystem::path& save_path,
                                    const engine::entry& resume_data, bool compact_mode, int block_size) = 0;
  // A torrent known only by its info-hash; its metadata comes from the
  // swarm. Throws like add_torrent.
  virtual TorrentHandle add_torrent_by_info_hash(const std::string& tracker_url, const engine::sha1_hash& info_hash,
                                                 const std::filesystem::path& save_path, int block_size) = 0;
  // The torrent sends its "stopped" announce and leaves the session a
  // little later: its handle turns invalid then, not at once.
  virtual void remove_torrent(const TorrentHandle& handle) = 0;

  // One torrent.
  virtual bool is_valid(const engine::sha1_hash& torrent) const = 0;
  virtual bool is_paused(const engine::sha1_hash& torrent) const = 0;
  virtual void pause(const engine::sha1_hash& torrent) = 0;
  virtual void resume(const engine::sha1_hash& torrent) = 0;
  virtual bool is_seed(const engine::sha1_hash& torrent) const = 0;
  virtual bool has_metadata(const engine::sha1_hash& torrent) const = 0;
  virtual engine::torrent_status status(const engine::sha1_hash& torrent) const = 0;
  // The status of each named torrent, in that order, or none for one that
  // is not valid; the piece bitfield may be left out. This one asks each
  // torrent in turn; a session answers for all of them at once.
  virtual std::vector<std::optional<engine::torrent_status>> statuses(
      const std::vector<engine::sha1_hash>& torrents) const;
  virtual std::filesystem::path save_path(const engine::sha1_hash& torrent) const = 0;

  virtual void set_upload_limit(const engine::sha1_hash& torrent, int bytes_per_second) = 0;
  virtual void set_download_limit(const engine::sha1_hash& torrent, int bytes_per_second) = 0;
  virtual void set_ratio(const engine::sha1_hash& torrent, float ratio) = 0;

  virtual std::vector<engine::announce_entry> trackers(const engine::sha1_hash& torrent) const = 0;
  virtual void replace_trackers(const engine::sha1_hash& torrent,
                                const std::vector<engine::announce_entry>& urls) = 0;
  virtual void set_tracker_login(const engine::sha1_hash& torrent, const std::string& name,
                                 const std::string& password) = 0;
  virtual void force_reannounce(const engine::sha1_hash& torrent) = 0;
  // The address is tried like a peer a tracker gave (a running torrent).
  virtual void connect_peer(const engine::sha1_hash& torrent, const engine::address& peer) = 0;
  // One record per connection of a running torrent; empty when the torrent
  // is gone (never throws for that).
  virtual std::vector<engine::peer_info> get_peer_info(const engine::sha1_hash& torrent) const = 0;
  // Sends a chat text to the torrent's peer at `peer` (address and port).
  // False when the torrent is gone or has no such peer that speaks chat.
  virtual bool send_chat_message(const engine::sha1_hash& torrent, const engine::address& peer,
                                 std::string_view text) = 0;
  // Throws invalid_handle while the torrent has no metadata.
  virtual engine::torrent_metainfo metainfo(const engine::sha1_hash& torrent) const = 0;

  // An undefined entry while the torrent is checked or has no metadata.
  virtual engine::entry build_resume_data(const engine::sha1_hash& torrent) const = 0;
  // One flag per piece, true = not wanted.
  virtual std::vector<bool> filtered_pieces(const engine::sha1_hash& torrent) const = 0;
  virtual void filter_pieces(const engine::sha1_hash& torrent, const std::vector<bool>& pieces) = 0;
  // One flag per file, true = not wanted; a piece shared with a wanted
  // file stays wanted.
  virtual void filter_files(const engine::sha1_hash& torrent, const std::vector<bool>& files) = 0;
};

// A torrent of a TorrentControl: a small value, copied freely. The null
// handle (no control) is never valid.
class TorrentHandle {
 public:
  TorrentHandle() = default;
  TorrentHandle(TorrentControl* control, const engine::sha1_hash& info_hash)
      : m_control(control), m_info_hash(info_hash) {}

  bool is_null() const { return m_control == nullptr; }
  TorrentControl* control() const { return m_control; }
  const engine::sha1_hash& info_hash() const { return m_info_hash; }

  bool is_valid() const { return m_control && m_control->is_valid(m_info_hash); }
  bool is_paused() const { return Control().is_paused(m_info_hash); }
  void pause() const { Control().pause(m_info_hash); }
  void resume() const { Control().resume(m_info_hash); }
  bool is_seed() const { return Control().is_seed(m_info_hash); }
  bool has_metadata() const { return Control().has_metadata(m_info_hash); }
  engine::torrent_status status() const { return Control().status(m_info_hash); }
  std::filesystem::path save_path() const { return Control().save_path(m_info_hash); }
  void set_upload_limit(int bytes_per_second) const { Control().set_upload_limit(m_info_hash, bytes_per_second); }
  void set_download_limit(int bytes_per_second) const {
    Control().set_download_limit(m_info_hash, bytes_per_second);
  }
  void set_ratio(float ratio) const { Control().set_ratio(m_info_hash, ratio); }
  std::vector<engine::announce_entry> trackers() const { return Control().trackers(m_info_hash); }
  void replace_trackers(const std::vector<engine::announce_entry>& urls) const {
    Control().replace_trackers(m_info_hash, urls);
  }
  void set_tracker_login(const std::string& name, const std::string& password) const {
    Control().set_tracker_login(m_info_hash, name, password);
  }
  void force_reannounce() const { Control().force_reannounce(m_info_hash); }
  void connect_peer(const engine::address& peer) const { Control().connect_peer(m_info_hash, peer); }
  engine::torrent_metainfo metainfo() const { return Control().metainfo(m_info_hash); }
  // Empty and false for the null handle too.
  std::vector<engine::peer_info> get_peer_info() const {
    return m_control ? m_control->get_peer_info(m_info_hash) : std::vector<engine::peer_info>{};
  }
  bool send_chat_message(const engine::address& peer, std::string_view text) const {
    return m_control && m_control->send_chat_message(m_info_hash, peer, text);
  }
  engine::entry build_resume_data() const { return Control().build_resume_data(m_info_hash); }
  std::vector<bool> filtered_pieces() const { return Control().filtered_pieces(m_info_hash); }
  void filter_pieces(const std::vector<bool>& pieces) const { Control().filter_pieces(m_info_hash, pieces); }
  void filter_files(const std::vector<bool>& files) const { Control().filter_files(m_info_hash, files); }

  friend bool operator==(const TorrentHandle& a, const TorrentHandle& b) {
    return a.m_control == b.m_control && a.m_info_hash == b.m_info_hash;
  }

 private:
  // Throws engine::invalid_handle for the null handle.
  TorrentControl& Control() const;

  TorrentControl* m_control = nullptr;
  engine::sha1_hash m_info_hash;
};

// Inside a catch block: `gone` when the torrent is no longer in the engine
// (engine::invalid_handle), else the line of an unexpected fault caught in
// `where`, with its text.
std::wstring GoneOrUnexpected(std::wstring_view gone, std::string_view where);

}  // namespace client
